#include "gui/ZELMMgfm.h"

#include <QLabel>
#include <QPushButton>
#include <QStyle>

#include "gui/ZelmStrings.h"

namespace zelm {
namespace {

constexpr int kMargin = 20;
constexpr int kIconSize = 32;
constexpr int kMessageLeft = kMargin + kIconSize + 16;

}  // namespace

TZELMMsgForm::TZELMMsgForm(QWidget* owner, const QString& message, const QString& styleSheet)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("ZELMMsgForm"));
  setWindowTitle(res::str(res::kCaptionInformation));
  setModal(true);
  if (!styleSheet.isEmpty()) setStyleSheet(styleSheet);

  imgIcon = new QLabel(this);
  imgIcon->setObjectName(QStringLiteral("imgIcon"));
  imgIcon->setGeometry(kMargin, kMargin, kIconSize, kIconSize);
  imgIcon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(kIconSize, kIconSize));

  labMsg = new QLabel(message, this);
  labMsg->setObjectName(QStringLiteral("labMsg"));
  labMsg->setWordWrap(true);
  labMsg->setTextFormat(Qt::PlainText);
  labMsg->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  btnClose = new QPushButton(res::str(res::kClose), this);
  btnClose->setObjectName(QStringLiteral("btnClose"));
  btnClose->setDefault(true);
  connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);

  LayoutForMessage();
}

void TZELMMsgForm::LayoutForMessage() {
  const int messageHeight = qMax(kIconSize, labMsg->heightForWidth(kMessageWidth));
  labMsg->setGeometry(kMessageLeft, kMargin, kMessageWidth, messageHeight);
  const int width = kMessageLeft + kMessageWidth + kMargin;
  const QSize button = btnClose->sizeHint().expandedTo(QSize(90, 28));
  btnClose->setGeometry(width - kMargin - button.width(), labMsg->geometry().bottom() + 1 + kButtonGap,
                        button.width(), button.height());
  setFixedSize(width, messageHeight + button.height() + kExtraHeight);
}

void TZELMMsgForm::showEvent(QShowEvent* event) {
  LayoutForMessage();
  QDialog::showEvent(event);
  if (parentWidget() != nullptr) {
    const QRect owner = parentWidget()->window()->geometry();
    move(owner.center() - rect().center());
  }
}

}  // namespace zelm
