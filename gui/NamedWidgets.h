// Labels and buttons made with the object names the windows' tests and
// style sheet find them by.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QString>

namespace zelm {

inline QLabel* makeLabel(QWidget* parent, const char* name, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  return label;
}

inline QPushButton* makeButton(QWidget* parent, const char* name, const QString& text) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString::fromLatin1(name));
  return button;
}

}  // namespace zelm
