#include "gui/MsgFrm.h"

#include <QLabel>

#include "gui/ZelmStrings.h"

namespace zelm {

TMsgForm::TMsgForm(QWidget* owner, const QString& message, const QString& styleSheet)
    : TZELMMsgForm(owner, message, styleSheet) {
  labMsg->setText(message + res::str(res::kOpenWithOutlook));
  LayoutForMessage();
}

}  // namespace zelm
