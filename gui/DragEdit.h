// A single-line edit that takes a file dropped from the desktop: the first
// dropped file's path is reported through OnDropFile.
#pragma once

#include <QLineEdit>

class QMimeData;

namespace zelm {

class TDragEdit : public QLineEdit {
  Q_OBJECT

 public:
  // Longest path a drop hands on.
  static constexpr int kMaxDropPath = 260;

  explicit TDragEdit(QWidget* parent = nullptr);

  // Turns the acceptance of file drops on or off.
  void AcceptFiles(bool accept);
  bool AcceptsFiles() const { return acceptFiles_; }

 signals:
  void OnDropFile(QObject* sender, const QString& fileName);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  bool carriesFiles(const QMimeData* data) const;

  bool acceptFiles_ = false;
};

}  // namespace zelm
