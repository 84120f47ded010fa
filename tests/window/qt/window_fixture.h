#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "qt_printers.h"
#include "window/qt/kavoni_window.h"
#include "window/qt/on_wayland.h"

namespace kavoni::testing {

// A freshly built and shown designer window, with its controls found by name as a user would
// find them by sight.
class WindowTest : public ::testing::Test {
 protected:
  // Closed as a user closes it, so that it goes as the program's window goes.
  ~WindowTest() override {
    if (window_) {
      window_->close();
    }
  }

  void SetUp() override {
    window_ = std::make_unique<Kavoni>();
    window_->show();
    window_->activateWindow();
    // A compositor without a keyboard, as the headless one of the Wayland run, activates
    // nothing; the window is there once it is shown.
    if (OnWayland()) {
      ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    } else {
      ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    }
  }

  QCheckBox* Cell(int index) const {
    auto* cell = window_->findChild<QCheckBox*>(QStringLiteral("Check1(%1)").arg(index));
    EXPECT_NE(cell, nullptr) << "no Check1(" << index << ")";
    return cell;
  }
  QLineEdit* NameBox() const { return window_->findChild<QLineEdit*>(QStringLiteral("nme")); }
  QLabel* Label() const { return window_->findChild<QLabel*>(QStringLiteral("Label1")); }
  QPushButton* Button() const {
    return window_->findChild<QPushButton*>(QStringLiteral("Command1"));
  }
  // Where the controls are placed: the window itself, or the area below the title strip that
  // the window draws where the compositor draws no title bar.
  QWidget* ClientArea() const { return Button()->parentWidget(); }
  QWidget* Strip() const { return window_->findChild<QWidget*>(QStringLiteral("TitleStrip")); }

  // Whether this run's compositor leaves the title bar to the window, as the compositor table
  // in CMakeLists.txt says; never so offscreen or on X11.
  static bool StripExpected() {
    return qEnvironmentVariable("KAVONI_TITLE_BAR") == QLatin1String("strip");
  }
  // The strip's height: 360 twips.
  static constexpr int kStripHeight = 24;

  std::unique_ptr<Kavoni> window_;
};

}  // namespace kavoni::testing
