#include "window/qt/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <memory>

namespace kavoni {

void LoadQtTranslations() {
  static const bool kLoaded = [] {
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
      return false;
    }
    // Kept for as long as the application, which owns it from here.
    translator->setParent(QCoreApplication::instance());
    return QCoreApplication::installTranslator(translator.release());
  }();
  static_cast<void>(kLoaded);
}

}  // namespace kavoni
