// The product's result dialog: the success report followed by the hint to
// open the recovered file.
#pragma once

#include "gui/ZELMMgfm.h"

namespace zelm {

class TMsgForm : public TZELMMsgForm {
  Q_OBJECT

 public:
  TMsgForm(QWidget* owner, const QString& message, const QString& styleSheet = QString());
};

}  // namespace zelm
