#include <QAbstractButton>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <filesystem>

#include "modal_driver.h"
#include "scratch_home.h"
#include "support/temp_dir.h"
#include "window_fixture.h"

namespace kavoni::testing {
namespace {

QString Q(const std::filesystem::path& path) {
  return QString::fromStdString(path.string());
}

// The file name box inside Qt's own save dialog.
QLineEdit* FileNameEdit(QWidget* dialog) {
  return dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
}

// Presses Enter in the file name box; a dialog that stays open fails the test and is closed,
// so the press that opened it can return.
void PressEnterToSave(QDialog* dialog, QLineEdit* edit, const std::string& what) {
  QTest::keyClick(edit, Qt::Key_Return);
  if (dialog->isVisible()) {
    ADD_FAILURE() << what;
    dialog->reject();
  }
}

// Enters a file name in the dialog's name box and presses Enter, as a user does. The text is
// set rather than typed so that the path completer's popup does not take the Enter.
ModalDriver::Step TypeFileName(const QString& name) {
  return [name](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr) << "expected the save dialog";
    QLineEdit* edit = FileNameEdit(dialog);
    ASSERT_NE(edit, nullptr);
    edit->setText(name);
    PressEnterToSave(dialog, edit, "the dialog did not take " + name.toStdString());
  };
}

ModalDriver::Step Cancel() {
  return [](QWidget* modal) {
    auto* dialog = qobject_cast<QDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    dialog->reject();
  };
}

class SaveDialogTest : public WindowTest {
 protected:
  void Press() { Button()->click(); }

  void TearDown() override {
    EXPECT_EQ(driver_.unexpected_modals(), 0) << "a dialog or box opened that nobody expected";
    EXPECT_TRUE(driver_.all_steps_ran()) << "an expected dialog never opened";
  }

  TempDir dir_;
  ModalDriver driver_;
};

TEST_F(SaveDialogTest, DialogIsSetUpForSavingTxtFromTheDesktop) {
  ScratchHome home(dir_);
  std::filesystem::create_directory(dir_.path() / "Desktop");
  driver_.Then([this](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->objectName(), "CD");
    EXPECT_EQ(dialog->windowTitle(), "Save Sprite");
    EXPECT_EQ(dialog->directory().absolutePath(), Q(dir_ / "Desktop"));
    EXPECT_EQ(dialog->nameFilters(), QStringList{"*.txt"});
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(dialog->fileMode(), QFileDialog::AnyFile);
    EXPECT_TRUE(dialog->defaultSuffix().isEmpty()) << "the command appends .txt itself";
    EXPECT_TRUE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_TRUE(dialog->isModal());
    EXPECT_EQ(dialog->parentWidget(), window_.get());
    dialog->reject();
  });
  EXPECT_EQ(window_->saveDialog(), nullptr);
  Press();
  EXPECT_NE(window_->saveDialog(), nullptr) << "kept after the first press";
}

TEST_F(SaveDialogTest, WithoutADesktopFolderTheDialogStartsAtHome) {
  ScratchHome home(dir_);
  driver_.Then([this](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->directory().absolutePath(), Q(dir_.path()));
    dialog->reject();
  });
  Press();
}

TEST_F(SaveDialogTest, ChosenNameGetsTxtAndTheGridAndNameAreWritten) {
  for (int cell : {2, 3, 4, 5}) {
    QTest::mouseClick(Cell(cell), Qt::LeftButton);
  }
  QTest::keyClicks(NameBox(), QStringLiteral("bar"));
  driver_.Then(TypeFileName(Q(dir_ / "bar")));
  Press();

  const std::string zero = "   .db %00000000\r\n";
  std::string expected = "bar\r\n   .db %00111100\r\n";
  for (int row = 1; row < 8; ++row) {
    expected += zero;
  }
  EXPECT_EQ(ReadBytes(dir_ / "bar.txt"), expected);
  EXPECT_TRUE(Cell(2)->isChecked()) << "the press leaves the grid as it was";
  EXPECT_EQ(NameBox()->text(), "bar") << "the press leaves the name as it was";
}

TEST_F(SaveDialogTest, DialogReopensOnTheLastChosenFile) {
  driver_.Then(TypeFileName(Q(dir_ / "first")));
  Press();
  ASSERT_TRUE(std::filesystem::exists(dir_.path() / "first.txt"));

  QTest::mouseClick(Cell(63), Qt::LeftButton);
  driver_.Then([this](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->directory().absolutePath(), Q(dir_.path()));
    QLineEdit* edit = FileNameEdit(dialog);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text(), "first");
    // Enter alone saves to the same file again.
    PressEnterToSave(dialog, edit, "Enter did not save");
  });
  Press();
  const std::string bytes = ReadBytes(dir_ / "first.txt");
  EXPECT_EQ(bytes.substr(bytes.size() - 18), "   .db %00000001\r\n") << "the new grid replaced it";
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "first.txt.txt"));
}

TEST_F(SaveDialogTest, CancellingWritesNothingShowsNothingAndKeepsTheLastChoice) {
  driver_.Then(TypeFileName(Q(dir_ / "kept")));
  Press();
  const std::string saved = ReadBytes(dir_ / "kept.txt");
  QTest::keyClicks(NameBox(), QStringLiteral("changed"));

  driver_.Then(Cancel());
  Press();
  EXPECT_EQ(ReadBytes(dir_ / "kept.txt"), saved) << "a cancelled save must not overwrite";
  EXPECT_FALSE(std::filesystem::exists(".txt")) << "nor write a bare .txt here";

  driver_.Then([](QWidget* modal) {
    QLineEdit* edit = FileNameEdit(modal);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text(), "kept");
    qobject_cast<QDialog*>(modal)->reject();
  });
  Press();
}

TEST_F(SaveDialogTest, UnwritablePathShowsTheErrorBox) {
  driver_.Then(TypeFileName(Q(dir_ / "missing-folder/sprite")));
  driver_.Then([this](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr) << "expected the failure box";
    EXPECT_EQ(box->windowTitle(), "Error");
    EXPECT_EQ(box->text(), "Oops!\nThere was a bug. Sorry. Please e-mail it to me at " +
                               QStringLiteral(KAVONI_CONTACT_EMAIL) + ".");
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    EXPECT_TRUE(box->isModal());
    EXPECT_EQ(box->parentWidget(), window_.get());
    QAbstractButton* ok = box->button(QMessageBox::Ok);
    ASSERT_NE(ok, nullptr);
    ok->click();
  });
  Press();
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path())) << "nothing was created";
}

}  // namespace
}  // namespace kavoni::testing
