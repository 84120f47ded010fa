#include "window/qt/pixel_cell.h"

#include <QPainter>
#include <QStyleOption>

namespace kavoni {

PixelCell::PixelCell(const QString& text, QWidget* parent) : QCheckBox(text, parent) {
  setAutoFillBackground(true);
}

void PixelCell::paintEvent(QPaintEvent* event) {
  QCheckBox::paintEvent(event);
  // The same condition as the style's own focus marks: the focus, after a key has moved it.
  QStyleOption option;
  option.initFrom(this);
  if (!option.state.testFlag(QStyle::State_HasFocus) ||
      !option.state.testFlag(QStyle::State_KeyboardFocusChange)) {
    return;
  }
  // A line round the cell's own square, in the colour the style marks focus and selection
  // with. The last row and column are left alone: the next cells cover them.
  QPainter painter(this);
  painter.setPen(option.palette.color(QPalette::Highlight));
  painter.drawRect(rect().adjusted(0, 0, -2, -2));
}

}  // namespace kavoni
