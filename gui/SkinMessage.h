// The message-box component a window owns: every question, warning, error and
// notice of that window goes through its MessageDlg. A responder can stand in
// for the user (tests install one); without it the box is shown modally.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QWidget;

namespace zelm {

enum class MsgKind { Warning, Error, Information, Confirmation };
enum class MsgButtons { Ok, YesNo, YesNoCancelAll };  // the last: Yes, No, Cancel, No to All, Yes to All
enum class MsgResult { Ok, Yes, No, Cancel, NoToAll, YesToAll };

struct MessageRequest {
  QString text;
  MsgKind kind;
  MsgButtons buttons;
  QString caption;
};

class TSkinMessage : public QObject {
  Q_OBJECT

 public:
  using Responder = std::function<MsgResult(const MessageRequest&)>;

  explicit TSkinMessage(QWidget* owner);

  // Shows `text` and returns the button that closed the box. Closing the box
  // by other means answers Cancel when Cancel is offered, No for a Yes/No
  // question and OK otherwise.
  MsgResult MessageDlg(const QString& text, MsgKind kind, MsgButtons buttons);

  void SetResponder(Responder responder) { responder_ = std::move(responder); }

  static QString CaptionOf(MsgKind kind);

 private:
  MsgResult showBox(const MessageRequest& request);

  QWidget* owner_;
  Responder responder_;
};

}  // namespace zelm
