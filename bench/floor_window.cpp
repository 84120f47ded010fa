// The floor for the start-up benchmark: a window of Kavoni's size holding only its label and
// its button with their captions, the least a Qt window with text can cost.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include "window/qt/qt_layout.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QWidget window;
  namespace layout = kavoni::layout;
  window.setWindowTitle(QLatin1String(layout::kWindowCaption));
  window.setFixedSize(layout::ToQRect(layout::kClientArea).size());
  auto* label = new QLabel(QLatin1String(layout::kLabel1Control.caption), &window);
  label->setGeometry(layout::ToQRect(layout::kLabel1Control.rect));
  auto* button = new QPushButton(QLatin1String(layout::kCommand1Control.caption), &window);
  button->setGeometry(layout::ToQRect(layout::kCommand1Control.rect));
  window.show();
  return QApplication::exec();
}
