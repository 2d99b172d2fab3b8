// COM's IUnknown, the base of every MAPI and OLE storage interface.
//
// Interfaces in this subset are pure abstract C++ classes whose virtual
// functions follow the published method order and argument lists (the
// calling-convention markers of the Windows headers have no meaning here).
// Objects are reference counted: whoever obtains an interface pointer owns
// one reference and gives it back with Release (or UlRelease). The
// destructor is protected so that nobody deletes an object through an
// interface pointer.
#pragma once

#include "mapi/mapidefs.h"

namespace vexl::mapi {

class IUnknown {
 public:
  virtual HRESULT QueryInterface(REFIID riid, LPVOID* ppvObj) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  IUnknown() = default;
  IUnknown(const IUnknown&) = default;
  IUnknown& operator=(const IUnknown&) = default;
  ~IUnknown() = default;
};
using LPUNKNOWN = IUnknown*;

}  // namespace vexl::mapi
