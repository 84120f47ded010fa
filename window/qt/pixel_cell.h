#pragma once

#include <QCheckBox>

namespace kavoni {

// One pixel of the grid: a check box that, once the keyboard is in use, marks itself when it
// has the focus. A check box draws its own focus mark round its caption, which a cell is too
// small to show, so in most styles a focused cell would look like any other.
class PixelCell final : public QCheckBox {
 public:
  using QCheckBox::QCheckBox;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace kavoni
