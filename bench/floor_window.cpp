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
  window.setWindowTitle(QStringLiteral("Kavoni"));
  window.setFixedSize(kavoni::layout::ToQRect(kavoni::layout::kClientArea).size());
  auto* label = new QLabel(QStringLiteral("Sprite Name"), &window);
  label->setGeometry(kavoni::layout::ToQRect(kavoni::layout::kLabel1));
  auto* button = new QPushButton(QStringLiteral("Make Sprite"), &window);
  button->setGeometry(kavoni::layout::ToQRect(kavoni::layout::kCommand1));
  window.show();
  return QApplication::exec();
}
