#include <QAccessible>
#include <QRect>

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
  EXPECT_EQ(window_->width() * kTwipsPerPixel, 1965);
  EXPECT_EQ(window_->height() * kTwipsPerPixel, 4380);
  EXPECT_EQ(window_->minimumSize(), window_->maximumSize()) << "the window is not resizable";
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

TEST_F(LayoutTest, WindowShowsTheIconAtBothSizes) {
  const QList<QSize> sizes = window_->windowIcon().availableSizes();
  EXPECT_TRUE(sizes.contains(QSize(16, 16)));
  EXPECT_TRUE(sizes.contains(QSize(32, 32)));
}

}  // namespace
}  // namespace kavoni::testing
