#pragma once

#include <QStyle>
#include <QWidget>

class QLabel;
class QToolButton;

namespace kavoni {

// The title bar that the window draws itself where the compositor draws none (see
// TitleBarIsOurs()): the caption, a minimise and a close button, and nothing to maximise a
// window of one size. Pressing and dragging anywhere else on it moves the window, through the
// compositor. The buttons take no focus, so the keyboard's tab chain stays the window's own.
class TitleStrip final : public QWidget {
 public:
  TitleStrip(const QString& caption, QWidget* window);

 protected:
  void changeEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  QToolButton* AddButton(const char* name, QStyle::StandardPixmap icon);
  void NameButtons();

  QLabel* caption_ = nullptr;
  QToolButton* minimise_ = nullptr;
  QToolButton* close_ = nullptr;
};

}  // namespace kavoni
