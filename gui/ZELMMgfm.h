// The result dialog: an information icon, a word-wrapped message of fixed
// width and a Close button. The dialog grows with the length of the message.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace zelm {

class TZELMMsgForm : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kMessageWidth = 399;
  static constexpr int kButtonGap = 14;  // between the message and the buttons
  static constexpr int kExtraHeight = 69;  // dialog height beyond message and button

  // `styleSheet` is the owner's look, applied when not empty.
  TZELMMsgForm(QWidget* owner, const QString& message, const QString& styleSheet = QString());

  QLabel* imgIcon;
  QLabel* labMsg;
  QPushButton* btnClose;

  // Places the button below the wrapped message and sizes the dialog.
  void LayoutForMessage();

 protected:
  void showEvent(QShowEvent* event) override;
};

}  // namespace zelm
