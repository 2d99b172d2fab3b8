// The panel of the page bodies and the progress strip: outer and inner
// bevels, an optional caption centred vertically, and a transparent mode in
// which the parent's background shows through.
#pragma once

#include <QWidget>

namespace zelm {

class TZELMPanel : public QWidget {
  Q_OBJECT
  Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)

 public:
  enum class Bevel { None, Lowered, Raised };

  explicit TZELMPanel(QWidget* parent = nullptr);

  Bevel BevelOuter() const { return bevelOuter_; }
  Bevel BevelInner() const { return bevelInner_; }
  void SetBevelOuter(Bevel bevel);
  void SetBevelInner(Bevel bevel);

  QString Caption() const { return caption_; }
  void SetCaption(const QString& caption);
  Qt::Alignment Alignment() const { return alignment_; }
  void SetAlignment(Qt::Alignment alignment);

  bool Transparent() const { return transparent_; }
  // Invalidates the children as well: they were drawn over the old background.
  void SetTransparent(bool transparent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Bevel bevelOuter_ = Bevel::None;
  Bevel bevelInner_ = Bevel::None;
  QString caption_;
  Qt::Alignment alignment_ = Qt::AlignHCenter;
  bool transparent_ = false;
};

}  // namespace zelm
