#include "window/qt/no_display.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace kavoni {

namespace {

struct HeldMessage {
  QtMsgType type;
  QByteArray file;
  int line;
  QByteArray function;
  QByteArray category;
  QString text;
};

std::vector<HeldMessage> held;
QtMessageHandler replaced = nullptr;

// A fatal message while QApplication is being constructed is Qt giving up on its platform
// plugins: none of them could open a display.
void HoldOrExit(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtFatalMsg) {
    std::fputs("kavoni: no display could be opened\n", stderr);
    // Straight out: nothing is open yet, and QApplication is half made, so its destructor and
    // the other exit handlers must not run.
    std::_Exit(1);
  }
  held.push_back({type, context.file, context.line, context.function, context.category, text});
}

}  // namespace

NoDisplayExit::NoDisplayExit() {
  replaced = qInstallMessageHandler(&HoldOrExit);
}

NoDisplayExit::~NoDisplayExit() {
  qInstallMessageHandler(replaced);
  for (const HeldMessage& message : held) {
    const QMessageLogContext context(message.file.constData(), message.line,
                                     message.function.constData(), message.category.constData());
    if (replaced != nullptr) {
      replaced(message.type, context, message.text);
    }
  }
  held.clear();
}

}  // namespace kavoni
