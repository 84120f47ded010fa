#include <QApplication>
#include <csignal>
#include <optional>

#include "window/qt/kavoni_window.h"
#include "window/qt/no_display.h"

int main(int argc, char* argv[]) {
  // Under a file size limit (ulimit -f, systemd's LimitFSIZE=) a write past it raises SIGXFSZ,
  // which kills the program by default; ignored, the write fails with EFBIG instead: a save
  // ends in the box, and Qt's own files (the dialog's settings) are simply not written.
  std::signal(SIGXFSZ, SIG_IGN);
  std::optional<QApplication> app;
  {
    // Without a display, one line and status 1 rather than Qt's abort.
    const kavoni::NoDisplayExit no_display;
    app.emplace(argc, argv);
  }
  // Also the class of the window on X11 (WM_CLASS), which the launcher's StartupWMClass names
  // so that docks group the running window with its launcher.
  QApplication::setApplicationName(QStringLiteral(KAVONI_WM_CLASS));
  QApplication::setApplicationVersion(QStringLiteral(KAVONI_DISPLAY_VERSION));
  // The same match on Wayland, where the app id is the launcher's name.
  QGuiApplication::setDesktopFileName(QStringLiteral(KAVONI_APP_ID));

  kavoni::Kavoni window;
  window.show();
  // Closing the window ends the loop; nothing is saved or asked on the way out.
  return QApplication::exec();
}
