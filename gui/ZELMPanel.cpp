#include "gui/ZELMPanel.h"

#include <QPainter>
#include <QStyleOption>

namespace zelm {
namespace {

// Draws one bevel ring inside `r` and returns the rectangle inside it.
QRect drawBevel(QPainter& painter, QRect r, TZELMPanel::Bevel bevel, const QPalette& palette) {
  if (bevel == TZELMPanel::Bevel::None) return r;
  const QColor light = palette.color(QPalette::Light);
  const QColor dark = palette.color(QPalette::Mid);
  const QColor topLeft = bevel == TZELMPanel::Bevel::Raised ? light : dark;
  const QColor bottomRight = bevel == TZELMPanel::Bevel::Raised ? dark : light;
  painter.setPen(topLeft);
  painter.drawLine(r.topLeft(), r.topRight());
  painter.drawLine(r.topLeft(), r.bottomLeft());
  painter.setPen(bottomRight);
  painter.drawLine(r.bottomLeft(), r.bottomRight());
  painter.drawLine(r.topRight(), r.bottomRight());
  return r.adjusted(1, 1, -1, -1);
}

}  // namespace

TZELMPanel::TZELMPanel(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_StyledBackground, true); }

void TZELMPanel::SetBevelOuter(Bevel bevel) {
  bevelOuter_ = bevel;
  update();
}

void TZELMPanel::SetBevelInner(Bevel bevel) {
  bevelInner_ = bevel;
  update();
}

void TZELMPanel::SetCaption(const QString& caption) {
  caption_ = caption;
  update();
}

void TZELMPanel::SetAlignment(Qt::Alignment alignment) {
  alignment_ = alignment;
  update();
}

void TZELMPanel::SetTransparent(bool transparent) {
  if (transparent_ == transparent) return;
  transparent_ = transparent;
  setAttribute(Qt::WA_StyledBackground, !transparent);
  setAttribute(Qt::WA_NoSystemBackground, transparent);
  update();
  for (QObject* child : children()) {
    if (auto* widget = qobject_cast<QWidget*>(child)) widget->update();
  }
}

void TZELMPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!transparent_) {
    QStyleOption option;
    option.initFrom(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
  }
  QRect inner = drawBevel(painter, rect(), bevelOuter_, palette());
  inner = drawBevel(painter, inner, bevelInner_, palette());
  if (!caption_.isEmpty()) {
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(inner.adjusted(2, 0, -2, 0), static_cast<int>(alignment_ | Qt::AlignVCenter), caption_);
  }
}

}  // namespace zelm
