#include <QApplication>

#include "window/kavoni_window.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Kavoni"));
  QApplication::setApplicationVersion(QStringLiteral(KAVONI_DISPLAY_VERSION));

  kavoni::Kavoni window;
  window.show();
  // Closing the window ends the loop; nothing is saved or asked on the way out.
  return QApplication::exec();
}
