#include "gui/SkinMessage.h"

#include <QMessageBox>
#include <QPushButton>

#include "gui/ZelmStrings.h"

namespace zelm {

TSkinMessage::TSkinMessage(QWidget* owner) : QObject(owner), owner_(owner) {
  setObjectName(QStringLiteral("bsSkinMessage"));
}

QString TSkinMessage::CaptionOf(MsgKind kind) {
  switch (kind) {
    case MsgKind::Warning:
      return res::str(res::kCaptionWarning);
    case MsgKind::Error:
      return res::str(res::kCaptionError);
    case MsgKind::Information:
      return res::str(res::kCaptionInformation);
    case MsgKind::Confirmation:
      return res::str(res::kCaptionConfirm);
  }
  return {};
}

MsgResult TSkinMessage::MessageDlg(const QString& text, MsgKind kind, MsgButtons buttons) {
  const MessageRequest request{text, kind, buttons, CaptionOf(kind)};
  if (responder_) return responder_(request);
  return showBox(request);
}

MsgResult TSkinMessage::showBox(const MessageRequest& request) {
  QMessageBox box(owner_);
  box.setObjectName(QStringLiteral("MessageDlg"));
  box.setWindowTitle(request.caption);
  box.setText(request.text);
  box.setTextFormat(Qt::PlainText);
  switch (request.kind) {
    case MsgKind::Warning:
      box.setIcon(QMessageBox::Warning);
      break;
    case MsgKind::Error:
      box.setIcon(QMessageBox::Critical);
      break;
    case MsgKind::Information:
      box.setIcon(QMessageBox::Information);
      break;
    case MsgKind::Confirmation:
      box.setIcon(QMessageBox::Question);
      break;
  }
  MsgResult closed = MsgResult::Ok;
  switch (request.buttons) {
    case MsgButtons::Ok:
      box.setStandardButtons(QMessageBox::Ok);
      box.setEscapeButton(QMessageBox::Ok);
      break;
    case MsgButtons::YesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setEscapeButton(QMessageBox::No);
      closed = MsgResult::No;
      break;
    case MsgButtons::YesNoCancelAll:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel | QMessageBox::NoToAll |
                             QMessageBox::YesToAll);
      box.setEscapeButton(QMessageBox::Cancel);
      closed = MsgResult::Cancel;
      break;
  }
  box.exec();
  switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Ok:
      return MsgResult::Ok;
    case QMessageBox::Yes:
      return MsgResult::Yes;
    case QMessageBox::No:
      return MsgResult::No;
    case QMessageBox::Cancel:
      return MsgResult::Cancel;
    case QMessageBox::NoToAll:
      return MsgResult::NoToAll;
    case QMessageBox::YesToAll:
      return MsgResult::YesToAll;
    default:
      return closed;
  }
}

}  // namespace zelm
