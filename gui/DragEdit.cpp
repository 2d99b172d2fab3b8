#include "gui/DragEdit.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace zelm {

TDragEdit::TDragEdit(QWidget* parent) : QLineEdit(parent) {}

void TDragEdit::AcceptFiles(bool accept) {
  acceptFiles_ = accept;
  setAcceptDrops(true);
}

bool TDragEdit::carriesFiles(const QMimeData* data) const {
  if (!acceptFiles_ || data == nullptr || !data->hasUrls()) return false;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) return true;
  }
  return false;
}

void TDragEdit::dragEnterEvent(QDragEnterEvent* event) {
  if (carriesFiles(event->mimeData())) {
    event->acceptProposedAction();
    return;
  }
  QLineEdit::dragEnterEvent(event);
}

void TDragEdit::dragMoveEvent(QDragMoveEvent* event) {
  if (carriesFiles(event->mimeData())) {
    event->acceptProposedAction();
    return;
  }
  QLineEdit::dragMoveEvent(event);
}

void TDragEdit::dropEvent(QDropEvent* event) {
  if (!carriesFiles(event->mimeData())) {
    QLineEdit::dropEvent(event);
    return;
  }
  QString path;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) {
      path = url.toLocalFile();
      break;
    }
  }
  event->acceptProposedAction();
  emit OnDropFile(this, path.left(kMaxDropPath));
}

}  // namespace zelm
