#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QStringList>
#include <stdexcept>

#include "window_fixture.h"

namespace kavoni::testing {
namespace {

using InputTest = WindowTest;

TEST_F(InputTest, FocusStartsOnTheTopLeftCell) {
  EXPECT_EQ(QApplication::focusWidget(), Cell(0));
}

TEST_F(InputTest, TabVisitsCellsRowByRowThenButtonThenNameAndWraps) {
  QStringList expected;
  for (int i = 1; i < 64; ++i) {
    expected << QStringLiteral("Check1(%1)").arg(i);
  }
  expected << "Command1"
           << "nme"
           << "Check1(0)";

  QStringList visited;
  for (qsizetype step = 0; step < expected.size(); ++step) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    visited << QApplication::focusWidget()->objectName();
  }
  EXPECT_EQ(visited, expected);
  EXPECT_EQ(Label()->focusPolicy(), Qt::NoFocus);
}

TEST_F(InputTest, ClickTogglesACellAndASecondClickClearsIt) {
  QTest::mouseClick(Cell(9), Qt::LeftButton);
  EXPECT_TRUE(window_->CellTicked(9));
  QTest::mouseClick(Cell(9), Qt::LeftButton);
  EXPECT_FALSE(window_->CellTicked(9));
}

TEST_F(InputTest, SpaceTogglesTheFocusedCell) {
  Cell(42)->setFocus();
  QTest::keyClick(Cell(42), Qt::Key_Space);
  EXPECT_TRUE(window_->CellTicked(42));
  QTest::keyClick(Cell(42), Qt::Key_Space);
  EXPECT_FALSE(window_->CellTicked(42));
}

TEST_F(InputTest, CellsAreReadByGridIndex) {
  for (int i : {0, 7, 8, 56, 63}) {
    Cell(i)->setChecked(true);
  }
  for (int i = 0; i < 64; ++i) {
    const bool ticked = i == 0 || i == 7 || i == 8 || i == 56 || i == 63;
    EXPECT_EQ(window_->CellTicked(i), ticked) << "cell " << i;
  }
  EXPECT_THROW(window_->CellTicked(64), std::out_of_range);
  EXPECT_THROW(window_->CellTicked(-1), std::out_of_range);
}

TEST_F(InputTest, NameIsTakenAsTypedIncludingSpacesAndAccents) {
  QTest::keyClicks(NameBox(), QStringLiteral("  Ball "));
  // QTest types ASCII only; an accented key arrives as a key event carrying its text.
  QKeyEvent accent(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QStringLiteral("é"));
  QApplication::sendEvent(NameBox(), &accent);
  QTest::keyClicks(NameBox(), QStringLiteral(" "));
  EXPECT_EQ(window_->NameText(), "  Ball \xc3\xa9 ");
}

// What the box shows is what gets written: one line, no control characters, nothing cut.
TEST_F(InputTest, PastedNamesArriveWholeOnOneLine) {
  const struct {
    QString pasted;
    QString shown;
  } cases[] = {
      {QStringLiteral("a\r\nb\rc\nd"), QStringLiteral("a b c d")},  // CR LF is one break
      {QStringLiteral("tab\there"), QStringLiteral("tab here")},
      {QString::fromUtf16(u"nul\u0000bell\u0007del\u007f", 13), QStringLiteral("nul bell del ")},
      {QString(40000, QLatin1Char('x')), QString(40000, QLatin1Char('x'))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shown.left(20).toStdString());
    NameBox()->clear();
    QGuiApplication::clipboard()->setText(c.pasted);
    NameBox()->paste();
    EXPECT_EQ(NameBox()->text(), c.shown);
    EXPECT_EQ(window_->NameText(), c.shown.toStdString());
  }
  NameBox()->setText(QStringLiteral("set\nby code"));
  EXPECT_EQ(NameBox()->text(), "set by code");
}

TEST_F(InputTest, PasteInTheMiddleKeepsTheCursorAfterThePastedText) {
  NameBox()->setText(QStringLiteral("[]"));
  NameBox()->setCursorPosition(1);
  NameBox()->insert(QStringLiteral("x\r\ny"));
  EXPECT_EQ(NameBox()->text(), "[x y]");
  EXPECT_EQ(NameBox()->cursorPosition(), 4);
}

}  // namespace
}  // namespace kavoni::testing
