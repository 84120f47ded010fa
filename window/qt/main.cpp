#include <QApplication>

#include "window/qt/kavoni_window.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Kavoni"));
  QApplication::setApplicationVersion(QStringLiteral(KAVONI_DISPLAY_VERSION));
  // Lets desktops match the running window to its installed launcher and icon.
  QGuiApplication::setDesktopFileName(QStringLiteral(KAVONI_APP_ID));

  kavoni::Kavoni window;
  window.show();
  // Closing the window ends the loop; nothing is saved or asked on the way out.
  return QApplication::exec();
}
