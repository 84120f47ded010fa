#include <QAccessible>
#include <QIcon>
#include <QImage>
#include <QRect>
#include <QWindow>

#include "window_fixture.h"

namespace kavoni::testing {
namespace {

// The designed layout, in twips from the client area's top left.
struct Twips {
  int left, top, width, height;
};

constexpr int kTwipsPerPixel = 15;

Twips InTwips(const QRect& r) {
  return {r.left() * kTwipsPerPixel, r.top() * kTwipsPerPixel, r.width() * kTwipsPerPixel,
          r.height() * kTwipsPerPixel};
}

void ExpectAt(QWidget* widget, Twips expected) {
  ASSERT_NE(widget, nullptr);
  const Twips actual = InTwips(widget->geometry());
  EXPECT_EQ(actual.left, expected.left) << widget->objectName().toStdString();
  EXPECT_EQ(actual.top, expected.top) << widget->objectName().toStdString();
  EXPECT_EQ(actual.width, expected.width) << widget->objectName().toStdString();
  EXPECT_EQ(actual.height, expected.height) << widget->objectName().toStdString();
}

using LayoutTest = WindowTest;

TEST_F(LayoutTest, ClientAreaIs1965By4380TwipsAndFixed) {
  EXPECT_EQ(ClientArea()->width() * kTwipsPerPixel, 1965);
  EXPECT_EQ(ClientArea()->height() * kTwipsPerPixel, 4380);
  EXPECT_EQ(window_->minimumSize(), window_->maximumSize()) << "the window is not resizable";
  if (StripExpected()) {
    // The window draws its own title bar: a strip as wide as the client area, above it.
    ASSERT_NE(Strip(), nullptr) << "no title bar where the compositor draws none";
    EXPECT_EQ(Strip()->geometry(), QRect(0, 0, 131, kStripHeight));
    EXPECT_EQ(ClientArea()->geometry(), QRect(0, kStripHeight, 131, 292));
    EXPECT_EQ(window_->size(), QSize(131, kStripHeight + 292));
  } else {
    // Offscreen, and wherever the desktop draws the title bar, the window is its client area.
    EXPECT_EQ(Strip(), nullptr);
    EXPECT_EQ(ClientArea(), window_.get());
  }
  const Qt::WindowFlags flags = window_->windowFlags();
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint)) << "nothing to maximise to";
  EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
}

// A request to maximise, as a title bar's maximise button makes it, and a full-screen request: the
// window stays at its one size, and a compositor has nothing to end it for.
TEST_F(LayoutTest, MaximiseAndFullScreenRequestsLeaveTheWindowAtItsOneSize) {
  const QSize size = window_->size();
  QWindow* window = window_->windowHandle();
  for (Qt::WindowState state : {Qt::WindowMaximized, Qt::WindowFullScreen}) {
    window->setWindowStates(state);
    // Time for a compositor to answer, and for the answer to be applied.
    QTest::qWait(300);
    EXPECT_FALSE(window->windowStates() & state) << state;
    EXPECT_EQ(window_->size(), size) << state;
    EXPECT_EQ(window->size(), size) << state;
    EXPECT_TRUE(window_->isVisible()) << state;
  }
}

TEST_F(LayoutTest, LabelNameBoxAndButtonSitAtTheirTwipsRectangles) {
  ExpectAt(Label(), {360, 0, 1935, 255});
  ExpectAt(NameBox(), {0, 360, 1935, 285});
  ExpectAt(Button(), {0, 2760, 1935, 1575});
}

TEST_F(LayoutTest, GridCellsSitAtA240TwipPitchAnd255TwipsSquare) {
  for (int i = 0; i < 64; ++i) {
    ExpectAt(Cell(i), {240 * (i % 8), 720 + 240 * (i / 8), 255, 255});
  }
  // The grid's far corner, as drawn: left 0 to 1935, top 720 to 2655.
  EXPECT_EQ(InTwips(Cell(63)->geometry()).left + 255, 1935);
  EXPECT_EQ(InTwips(Cell(63)->geometry()).top + 255, 2655);
}

TEST_F(LayoutTest, CaptionsAndNames) {
  EXPECT_EQ(window_->windowTitle(), "Kavoni");
  EXPECT_EQ(window_->objectName(), "Kavoni");
  EXPECT_EQ(Label()->text(), "Sprite Name");
  EXPECT_EQ(Button()->text(), "Make Sprite");
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(Cell(i)->text(), "Check1");
  }
}

TEST_F(LayoutTest, FreshWindowHasEveryCellClearAndAnEmptyName) {
  for (int i = 0; i < 64; ++i) {
    EXPECT_FALSE(Cell(i)->isChecked()) << "cell " << i;
    EXPECT_FALSE(window_->CellTicked(i));
  }
  EXPECT_TRUE(NameBox()->text().isEmpty());
  EXPECT_EQ(window_->NameText(), "");
  EXPECT_EQ(window_->saveDialog(), nullptr) << "the dialog is made on the first press";
}

TEST_F(LayoutTest, CellsHaveAccessibleNamesByRowAndColumn) {
  EXPECT_EQ(Cell(0)->accessibleName(), "Pixel row 1, column 1");
  EXPECT_EQ(Cell(7)->accessibleName(), "Pixel row 1, column 8");
  EXPECT_EQ(Cell(8)->accessibleName(), "Pixel row 2, column 1");
  EXPECT_EQ(Cell(63)->accessibleName(), "Pixel row 8, column 8");
  QAccessibleInterface* cell = QAccessible::queryAccessibleInterface(Cell(27));
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(cell->text(QAccessible::Name), "Pixel row 4, column 4");
  EXPECT_EQ(cell->role(), QAccessible::CheckBox);
}

TEST_F(LayoutTest, ScreenReadersMeetAWindowWithALabelledNameBox) {
  QAccessibleInterface* top = QAccessible::queryAccessibleInterface(window_.get());
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(top->role(), QAccessible::Window);
  EXPECT_EQ(top->text(QAccessible::Name), "Kavoni");

  QAccessibleInterface* name_box = QAccessible::queryAccessibleInterface(NameBox());
  ASSERT_NE(name_box, nullptr);
  EXPECT_EQ(name_box->text(QAccessible::Name), "Sprite Name");
  const auto labels = name_box->relations(QAccessible::Label);
  ASSERT_EQ(labels.size(), 1);
  EXPECT_EQ(labels.first().first->object(), Label()) << "labelled by Label1";
}

// Sharp at every scale: the drawn sizes up to 48 pixels, and the scalable icon beyond.
TEST_F(LayoutTest, WindowIconComesInEverySize) {
  const QIcon icon = window_->windowIcon();
  for (int size : {16, 32, 48}) {
    // The hand-drawn image of that size, not another scaled to it.
    const QImage drawn(QStringLiteral(":/icons/kavoni-%1.png").arg(size));
    EXPECT_EQ(icon.pixmap(QSize(size, size)).toImage().convertToFormat(drawn.format()), drawn)
        << size;
  }
  EXPECT_EQ(icon.pixmap(QSize(256, 256)).size(), QSize(256, 256)) << "no scalable image";
}

}  // namespace
}  // namespace kavoni::testing
