#include "window/qt/title_strip.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QToolButton>
#include <QWindow>

#include "window/qt/qt_layout.h"
#include "window/qt/qt_translations.h"

namespace kavoni {

namespace {

// The names that Qt gives the same buttons of its own subwindows, so that its catalogue has
// them in the desktop's language.
constexpr char kButtonContext[] = "QMdiSubWindow";
constexpr char kMinimiseText[] = "Minimize";
constexpr char kCloseText[] = "Close";

}  // namespace

TitleStrip::TitleStrip(const QString& caption, QWidget* window) : QWidget(window) {
  setObjectName(QStringLiteral("TitleStrip"));
  setGeometry(layout::ToQRect(layout::kTitleStrip));
  setAutoFillBackground(true);
  caption_ = new QLabel(caption, this);
  caption_->setObjectName(QStringLiteral("TitleCaption"));
  caption_->setGeometry(layout::ToQRect(layout::kTitleCaption));
  // Presses on the caption move the window, as on the rest of the strip.
  caption_->setAttribute(Qt::WA_TransparentForMouseEvents);
  minimise_ = AddButton("TitleMinimise", QStyle::SP_TitleBarMinButton);
  minimise_->setGeometry(layout::ToQRect(layout::kTitleMinimise));
  connect(minimise_, &QToolButton::clicked, window, &QWidget::showMinimized);
  close_ = AddButton("TitleClose", QStyle::SP_TitleBarCloseButton);
  close_->setGeometry(layout::ToQRect(layout::kTitleClose));
  connect(close_, &QToolButton::clicked, window, &QWidget::close);
  // Their names are read at once, by screen readers, so Qt's catalogue is loaded with the
  // strip rather than on the first save.
  LoadQtTranslations();
  NameButtons();
}

QToolButton* TitleStrip::AddButton(const char* name, QStyle::StandardPixmap icon) {
  auto* button = new QToolButton(this);
  button->setObjectName(QLatin1String(name));
  button->setIcon(style()->standardIcon(icon, nullptr, button));
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::NoFocus);
  return button;
}

void TitleStrip::NameButtons() {
  const QString minimise = QCoreApplication::translate(kButtonContext, kMinimiseText);
  minimise_->setAccessibleName(minimise);
  minimise_->setToolTip(minimise);
  const QString close = QCoreApplication::translate(kButtonContext, kCloseText);
  close_->setAccessibleName(close);
  close_->setToolTip(close);
}

void TitleStrip::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LanguageChange) {
    NameButtons();
  }
  QWidget::changeEvent(event);
}

void TitleStrip::mousePressEvent(QMouseEvent* event) {
  // The compositor moves the window for as long as the button is held; a double click does
  // nothing, since there is no larger size to switch to.
  if (event->button() == Qt::LeftButton && window()->windowHandle() != nullptr &&
      window()->windowHandle()->startSystemMove()) {
    event->accept();
    return;
  }
  QWidget::mousePressEvent(event);
}

void TitleStrip::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  // A rule between the strip and the client area, which share the window's background.
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawLine(0, height() - 1, width() - 1, height() - 1);
}

}  // namespace kavoni
