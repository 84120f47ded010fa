#pragma once

namespace kavoni {

// Installs Qt's own translations for the desktop's language (the locale that LANGUAGE, LC_ALL,
// LC_MESSAGES or LANG name), from Qt's translations folder, the first time it is called: the
// file dialog's texts and the message box's buttons. The program's own texts stay as they are,
// and a language that Qt has no translation for keeps Qt's English.
void LoadQtTranslations();

}  // namespace kavoni
