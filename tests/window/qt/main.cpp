#include <gtest/gtest.h>

#include <QApplication>

// The window tests need a QApplication, and must never open a real screen or a desktop's own
// file dialog: the offscreen platform draws nothing, and with no platform theme Qt uses its
// own widget dialog, which the tests can drive.
int main(int argc, char* argv[]) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qunsetenv("QT_QPA_PLATFORMTHEME");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
