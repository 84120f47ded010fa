#pragma once

#include <QCheckBox>

namespace kavoni {

// One pixel of the grid: a check box that, once the keyboard is in use, marks itself when it
// has the focus. A check box draws its own focus mark round its caption, which a cell is too
// small to show, so in most styles a focused cell would look like any other.
//
// Cells overlap their right and lower neighbours by a pixel, and each paints its whole square,
// background included, so that the cell on top covers that pixel in any style: a style whose
// box fills its cell (Adwaita's) would otherwise show through its neighbour's edge, and ticking
// a cell would change the cell beside it.
class PixelCell final : public QCheckBox {
 public:
  PixelCell(const QString& text, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace kavoni
