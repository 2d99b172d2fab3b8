#include "gui/Look.h"

#include <QApplication>
#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace zelm {

QString StyleSheet() {
  return QStringLiteral(R"(
QWidget#ZELMMainForm { background: #e9eef4; }
QWidget[header="true"] {
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #2f5582, stop:1 #1d3a5e);
}
QPushButton[tab="true"] {
  color: #e8eef6; background: transparent; border: none;
  border-top-left-radius: 5px; border-top-right-radius: 5px;
  padding: 4px 14px; font-weight: bold;
}
QPushButton[tab="true"]:hover { background: rgba(255, 255, 255, 40); }
QPushButton[tab="true"]:checked { color: #1d3a5e; background: #ffffff; }
QPushButton[tab="true"]:focus:!checked { background: rgba(255, 255, 255, 28); }
QWidget[card="true"] { background: #ffffff; border: 1px solid #c3cdd9; border-radius: 4px; }
QWidget[strip="true"] { background: transparent; border: none; }
QWidget[subpage="true"] { background: #ffffff; border: none; }
QPushButton[subtab="true"] {
  text-align: left; padding: 6px 10px; border: 1px solid transparent; border-radius: 3px;
  background: transparent; color: #1d3a5e;
}
QPushButton[subtab="true"]:hover { background: #eef3f9; }
QPushButton[subtab="true"]:checked { background: #dbe6f3; border-color: #a9bfd9; font-weight: bold; }
QPushButton {
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #fdfdfe, stop:1 #e4e9ef);
  border: 1px solid #9fadbd; border-radius: 3px; padding: 3px 10px; color: #1b2a3a;
}
QPushButton:hover { border-color: #5b86b8; }
QPushButton:pressed { background: #d3dce6; }
QPushButton:disabled { color: #9aa5b1; border-color: #c6cfd9; background: #f1f3f6; }
QPushButton[skin="startbutton"] {
  color: #ffffff; font-weight: bold; border: 1px solid #2d7a32;
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #5cb85c, stop:1 #3d8b40);
}
QPushButton[skin="startbutton"]:hover { border-color: #1f5c23; }
QPushButton[skin="startbutton"]:disabled { color: #e8f2e8; border-color: #a9c9aa; background: #b5d3b6; }
QPushButton[skin="stopbutton"] {
  color: #ffffff; font-weight: bold; border: 1px solid #9b2b20;
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #e0604f, stop:1 #b8392b);
}
QLineEdit, QPlainTextEdit, QTreeWidget {
  background: #ffffff; border: 1px solid #a9b6c4; border-radius: 2px; selection-background-color: #3f72af;
}
QLineEdit { padding: 1px 4px; }
QLineEdit:focus, QPlainTextEdit:focus, QTreeWidget:focus { border-color: #3f72af; }
QLineEdit:disabled { color: #9aa5b1; background: #f1f3f6; }
QPushButton[small="true"] { padding: 0px; }
QPlainTextEdit#txtRepairLog { font-family: "DejaVu Sans Mono", monospace; font-size: 8pt; }
QProgressBar { border: 1px solid #a9b6c4; border-radius: 3px; background: #f3f5f8; }
QProgressBar::chunk { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #5d93d1, stop:1 #3a6ea8); }
QLabel[heading="true"] { font-weight: bold; color: #1d3a5e; }
QLabel#labTitle { font-size: 22pt; font-weight: bold; color: #1d3a5e; }
QLabel#labAbout { color: #4a5a6b; }
QGroupBox { border: 1px solid #c3cdd9; border-radius: 4px; margin-top: 10px; padding-top: 6px; font-weight: bold; color: #1d3a5e; }
QGroupBox::title { subcontrol-origin: margin; left: 8px; padding: 0 4px; }
QGroupBox QCheckBox { font-weight: normal; color: #1b2a3a; }
QHeaderView::section { background: #eef2f6; border: none; border-right: 1px solid #c3cdd9; border-bottom: 1px solid #c3cdd9; padding: 3px 6px; }
QMessageBox, QDialog#ZELMMsgForm { background: #f7f9fb; }
QDialog#SearchForm { background: #e9eef4; }
QLabel[banner="true"] { color: #ffffff; font-size: 12pt; font-weight: bold; }
QToolTip { background: #fffbe6; color: #1b2a3a; border: 1px solid #b8a96a; }
)");
}

void ApplyApplicationFont() {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPointSizeF(9);
  QApplication::setFont(font);
}

QPixmap ProgramPixmap(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  // A blue tile with a white envelope and a green mark of repair.
  QLinearGradient tile(0, 0, 0, s);
  tile.setColorAt(0, QColor(0x4a, 0x7d, 0xbf));
  tile.setColorAt(1, QColor(0x1d, 0x3a, 0x5e));
  p.setPen(Qt::NoPen);
  p.setBrush(tile);
  p.drawRoundedRect(QRectF(0, 0, s, s), s * 0.18, s * 0.18);
  const QRectF envelope(s * 0.16, s * 0.28, s * 0.62, s * 0.42);
  p.setBrush(Qt::white);
  p.drawRoundedRect(envelope, s * 0.04, s * 0.04);
  QPen fold(QColor(0x1d, 0x3a, 0x5e), qMax(1.0, s * 0.04));
  fold.setJoinStyle(Qt::RoundJoin);
  p.setPen(fold);
  QPainterPath flap;
  flap.moveTo(envelope.topLeft() + QPointF(s * 0.02, s * 0.02));
  flap.lineTo(envelope.center().x(), envelope.top() + envelope.height() * 0.55);
  flap.lineTo(envelope.topRight() + QPointF(-s * 0.02, s * 0.02));
  p.drawPath(flap);
  const QRectF badge(s * 0.56, s * 0.54, s * 0.36, s * 0.36);
  p.setPen(QPen(Qt::white, qMax(1.0, s * 0.03)));
  p.setBrush(QColor(0x4c, 0xae, 0x4f));
  p.drawEllipse(badge);
  QPen tick(Qt::white, qMax(1.5, s * 0.05), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(tick);
  p.setBrush(Qt::NoBrush);
  QPainterPath mark;
  mark.moveTo(badge.left() + badge.width() * 0.25, badge.top() + badge.height() * 0.52);
  mark.lineTo(badge.left() + badge.width() * 0.44, badge.top() + badge.height() * 0.70);
  mark.lineTo(badge.left() + badge.width() * 0.76, badge.top() + badge.height() * 0.32);
  p.drawPath(mark);
  return pixmap;
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64}) icon.addPixmap(ProgramPixmap(size));
  return icon;
}

QIcon SearchGlyph() {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0x1d, 0x3a, 0x5e), 1.8));
  p.setBrush(QColor(0xdb, 0xe8, 0xf6));
  p.drawEllipse(QRectF(1.5, 1.5, 9, 9));
  p.setPen(QPen(QColor(0x1d, 0x3a, 0x5e), 2.6, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(9.5, 9.5), QPointF(14, 14));
  return QIcon(pixmap);
}

}  // namespace zelm
