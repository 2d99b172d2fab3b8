// The subset of MAPI's published base types and result codes that the
// engine and the PST writer use, with MAPI's names and values.
#pragma once

#include <cstdint>

namespace vexl::mapi {

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT MAPI_E_CALL_FAILED = static_cast<HRESULT>(0x80004005);
inline constexpr HRESULT MAPI_E_NOT_ENOUGH_MEMORY = static_cast<HRESULT>(0x8007000E);
inline constexpr HRESULT MAPI_E_INVALID_PARAMETER = static_cast<HRESULT>(0x80070057);
inline constexpr HRESULT MAPI_E_NO_ACCESS = static_cast<HRESULT>(0x80070005);
inline constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005);
inline constexpr HRESULT MAPI_E_NOT_INITIALIZED = static_cast<HRESULT>(0x80040605);

inline bool HR_SUCCEEDED(HRESULT hr) { return hr >= 0; }
inline bool HR_FAILED(HRESULT hr) { return hr < 0; }

}  // namespace vexl::mapi
