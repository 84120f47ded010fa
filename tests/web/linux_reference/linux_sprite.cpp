// What the Linux program saves for a grid and a name: the real Qt window, on Qt's offscreen
// platform, with the cells clicked, the name pasted into its box as a user would paste it (so
// that the box mends it as it does any pasted text), and "Make Sprite" pressed and answered.
// The page's tests in the browsers compare their files with this one, byte for byte.
//
// usage: linux_sprite FOLDER CELLS NAME   saves FOLDER/sprite.txt; CELLS is a comma-separated
//                                         list of the ticked cells' indexes, possibly empty
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <cstdlib>

#include "window/qt/kavoni_window.h"
#include "window/qt/modal_driver.h"

namespace {

int Fail(const char* what) {
  std::fprintf(stderr, "linux_sprite: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 4) {
    return Fail("usage: linux_sprite FOLDER CELLS NAME");
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // Qt's own dialog, which can be answered here, whatever the desktop would pick.
  qunsetenv("QT_QPA_PLATFORMTHEME");
  QApplication app(argc, argv);
  const QString path = QDir(QString::fromLocal8Bit(argv[1])).filePath(QStringLiteral("sprite"));

  kavoni::Kavoni window;
  window.show();
  for (const QString& cell : QString::fromUtf8(argv[2]).split(u',', Qt::SkipEmptyParts)) {
    auto* box = window.findChild<QCheckBox*>(QStringLiteral("Check1(%1)").arg(cell));
    if (box == nullptr) {
      return Fail("no such cell");
    }
    box->click();
  }
  auto* name = window.findChild<QLineEdit*>(QStringLiteral("nme"));
  QGuiApplication::clipboard()->setText(QString::fromUtf8(argv[3]));
  name->paste();

  kavoni::testing::ModalDriver driver;
  driver.Then([&path](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (dialog == nullptr) {
      modal->close();
      return;
    }
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    edit->setText(path);
    QTest::keyClick(edit, Qt::Key_Return);
  });
  window.findChild<QPushButton*>(QStringLiteral("Command1"))->click();
  if (!driver.all_steps_ran() || driver.unexpected_modals() != 0) {
    return Fail("the save did not go as a plain save goes");
  }
  return QFile::exists(path + QStringLiteral(".txt")) ? 0 : Fail("nothing was saved");
}
