#include "window/qt/kavoni_window.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QCompleter>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QIcon>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QStandardPaths>
#include <algorithm>
#include <limits>
#include <optional>
#include <stdexcept>

#include "window/qt/one_size.h"
#include "window/qt/pending_frame.h"
#include "window/qt/pixel_cell.h"
#include "window/qt/qt_layout.h"
#include "window/qt/qt_translations.h"
#include "window/qt/single_line_validator.h"
#include "window/qt/title_strip.h"
#include "window/qt/wayland_decorations.h"
#include "window/qt/x11_fixed_size.h"

namespace kavoni {

namespace {

QString StartingFolder() {
  const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  if (!desktop.isEmpty() && QDir(desktop).exists()) {
    return desktop;
  }
  return QDir::homePath();
}

QMessageBox::Icon ToQt(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kWarning:
      return QMessageBox::Warning;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ToQt(MessageButtons buttons) {
  switch (buttons) {
    case MessageButtons::kOk:
      return QMessageBox::Ok;
  }
  return QMessageBox::Ok;
}

// Every size the icon is drawn at, so the window manager and the dock pick a sharp one at any
// scale. PNGs only, read by Qt's own PNG reader: an SVG, or a reader left to detect formats,
// would load every image-format plugin at start-up, Qt's SVG engine among them.
QIcon AllIconSizes() {
  QIcon icon;
  for (int size : {16, 32, 48, 64, 128, 256}) {
    QImageReader reader(QStringLiteral(":/icons/kavoni-%1.png").arg(size), "PNG");
    reader.setAutoDetectImageFormat(false);
    icon.addPixmap(QPixmap::fromImage(reader.read()));
  }
  return icon;
}

std::optional<layout::Arrow> ArrowOf(int key) {
  switch (key) {
    case Qt::Key_Up:
      return layout::Arrow::kUp;
    case Qt::Key_Down:
      return layout::Arrow::kDown;
    case Qt::Key_Left:
      return layout::Arrow::kLeft;
    case Qt::Key_Right:
      return layout::Arrow::kRight;
    default:
      return std::nullopt;
  }
}

// A plain top-level QWidget reads to screen readers as a "filler"; the designer window is the
// program's window and says so.
QAccessibleInterface* AccessibleKavoni(const QString& class_name, QObject* object) {
  if (class_name == QLatin1String(Kavoni::staticMetaObject.className()) && object->isWidgetType()) {
    return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
  }
  return nullptr;
}

// The completion list under the file name box is a window of its own, with no parent, so it
// does not go when the dialog does: a Return that saves while the list shows would leave it
// above every window on X11, holding the pointer until the next click. It is hidden before
// the dialog, as a popup goes before the window it belongs to. Each waits for its last frame
// first (see pending_frame.h): Return closes the dialog just after the typing drew one.
class SaveDialog : public QFileDialog {
 public:
  using QFileDialog::QFileDialog;

 protected:
  void done(int result) override {
    for (const QCompleter* completer : findChildren<QCompleter*>()) {
      if (completer->popup()->isVisible()) {
        AwaitPendingFrame(*completer->popup());
        completer->popup()->hide();
      }
    }
    AwaitPendingFrame(*this);
    QFileDialog::done(result);
  }
};

// The Error box, which waits for its last frame before it goes, as the dialog does.
class MessageBox : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

 protected:
  void done(int result) override {
    AwaitPendingFrame(*this);
    QMessageBox::done(result);
  }
};

}  // namespace

Kavoni::Kavoni(QWidget* parent) : QWidget(parent) {
  static const bool kAccessibleAsWindow = [] {
    QAccessible::installFactory(&AccessibleKavoni);
    return true;
  }();
  static_cast<void>(kAccessibleAsWindow);
  setObjectName(QLatin1String(layout::kWindowCaption));
  setWindowTitle(QLatin1String(layout::kWindowCaption));
  setWindowIcon(AllIconSizes());
  // One size only: minimise and close, and neither maximise nor a resizable border, which the
  // window manager would otherwise offer without anything to show for them.
  Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint;
  QWidget* client_area = this;
  QRect surface = layout::ToQRect(layout::kClientArea);
  if (TitleBarIsOurs()) {
    // Qt's own title bar would offer maximise, and would make the surface larger than the size
    // limits it sends the compositor. Without it the surface is exactly the window: the strip
    // and the client area below it, whose size the limits then describe. (Qt would take the
    // hints of a customised title bar as asking for a frame after all.)
    flags = Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint |
            Qt::WindowCloseButtonHint;
    new TitleStrip(windowTitle(), this);
    client_area = new QWidget(this);
    client_area->setObjectName(QStringLiteral("ClientArea"));
    client_area->setGeometry(layout::ToQRect(layout::kClientAreaBelowStrip));
    surface = surface.united(client_area->geometry());
  }
  setWindowFlags(flags);
  setFixedSize(surface.size());
  AdvertiseFixedSize(*this);
  KeepOneSize(*this);
  BuildControls(*client_area);
  ChainTabOrder();
  // Takes effect when the window is first activated.
  check1_[0]->setFocus(Qt::OtherFocusReason);
}

Kavoni::~Kavoni() = default;

void Kavoni::BuildControls(QWidget& client_area) {
  auto* label1 = new QLabel(QLatin1String(layout::kLabel1Control.caption), &client_area);
  label1->setObjectName(QLatin1String(layout::kLabel1Control.name));
  label1->setGeometry(layout::ToQRect(layout::kLabel1Control.rect));

  nme_ = new QLineEdit(QLatin1String(layout::kNmeControl.caption), &client_area);
  nme_->setObjectName(QLatin1String(layout::kNmeControl.name));
  nme_->setGeometry(layout::ToQRect(layout::kNmeControl.rect));
  nme_->setValidator(new SingleLineValidator(nme_));
  // The name is written exactly as typed, so a long one is not cut at QLineEdit's default
  // 32,767 characters.
  nme_->setMaxLength(std::numeric_limits<int>::max());
  // The label names the box, for screen readers too: it is the box's buddy, so they announce
  // its caption once, as the box's label.
  label1->setBuddy(nme_);

  for (int index = 0; index < kCellCount; ++index) {
    auto* cell = new PixelCell(QLatin1String(layout::kCheck1Caption), &client_area);
    cell->setObjectName(
        QStringLiteral("%1(%2)").arg(QLatin1String(layout::kCheck1Name)).arg(index));
    cell->setGeometry(layout::ToQRect(layout::Check1(index)));
    cell->setAccessibleName(QString::fromStdString(layout::CellName(index)));
    // The arrow keys move through the grid; see eventFilter().
    cell->installEventFilter(this);
    check1_[static_cast<std::size_t>(index)] = cell;
  }

  command1_ = new QPushButton(QLatin1String(layout::kCommand1Control.caption), &client_area);
  command1_->setObjectName(QLatin1String(layout::kCommand1Control.name));
  command1_->setGeometry(layout::ToQRect(layout::kCommand1Control.rect));
  // Enter on the focused button presses it, as Space does.
  command1_->setAutoDefault(true);
  connect(command1_, &QPushButton::clicked, this, [this] {
    // Qt's own texts in the dialog and the box, in the desktop's language; loaded here rather
    // than at start-up, which they would only slow.
    LoadQtTranslations();
    MakeSprite(*this);
  });
}

void Kavoni::closeEvent(QCloseEvent* event) {
  // The window goes once the event is accepted; its last frame is answered first (see
  // pending_frame.h).
  AwaitPendingFrame(*this);
  QWidget::closeEvent(event);
}

bool Kavoni::eventFilter(QObject* watched, QEvent* event) {
  // Unmodified arrows move through the grid; a check box would otherwise pass them along the
  // tab chain, so Down would not go down.
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const std::optional<layout::Arrow> arrow = ArrowOf(key->key());
    const auto cell = std::find(check1_.begin(), check1_.end(), watched);
    if (arrow && cell != check1_.end() &&
        (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
      const int index = static_cast<int>(cell - check1_.begin());
      check1_[static_cast<std::size_t>(layout::CellNeighbour(index, *arrow))]->setFocus(
          Qt::TabFocusReason);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void Kavoni::ChainTabOrder() {
  QWidget* previous = check1_[0];
  for (std::size_t index = 1; index < check1_.size(); ++index) {
    setTabOrder(previous, check1_[index]);
    previous = check1_[index];
  }
  setTabOrder(previous, command1_);
  setTabOrder(command1_, nme_);
}

QFileDialog* Kavoni::CreateSaveDialog() {
  auto* dialog = new SaveDialog(this, QLatin1String(layout::kDialogTitle), StartingFolder(),
                                QLatin1String(layout::kDialogPattern));
  dialog->setObjectName(QLatin1String(layout::kDialogName));
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setFileMode(QFileDialog::AnyFile);
  // The command appends ".txt" itself, so the dialog must neither add a suffix nor ask about
  // replacing the name typed: the file that gets replaced is that name plus ".txt".
  dialog->setDefaultSuffix(QString());
  dialog->setOption(QFileDialog::DontConfirmOverwrite, true);
  return dialog;
}

bool Kavoni::CellTicked(int index) {
  if (index < 0 || index >= kCellCount) {
    throw std::out_of_range("no cell " + std::to_string(index));
  }
  return check1_[static_cast<std::size_t>(index)]->isChecked();
}

bool Kavoni::RunSaveDialog() {
  if (cd_ == nullptr) {
    cd_ = CreateSaveDialog();
  }
  if (!chosen_file_.isEmpty()) {
    // Reopen where the last sprite went, with its name filled in, so Enter saves there again.
    cd_->selectFile(chosen_file_);
  }
  if (cd_->exec() != QDialog::Accepted) {
    return false;
  }
  const QStringList files = cd_->selectedFiles();
  if (files.isEmpty() || files.first().isEmpty()) {
    return false;
  }
  chosen_file_ = files.first();
  return true;
}

std::filesystem::path Kavoni::DialogFileName() {
  return QFile::encodeName(chosen_file_).toStdString();
}

std::string Kavoni::NameText() {
  return nme_->text().toLocal8Bit().toStdString();
}

void Kavoni::ShowMessageBox(const MessageBoxRequest& box) {
  MessageBox message(ToQt(box.icon), QString::fromLocal8Bit(box.title),
                     QString::fromLocal8Bit(box.prompt), ToQt(box.buttons), this);
  message.setTextFormat(Qt::PlainText);
  message.exec();
}

}  // namespace kavoni
