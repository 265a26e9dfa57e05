#pragma once
// The window's texts in the language the user chose: Qt's translators for our own texts and for
// Qt's standard buttons, from files built into the program, so that no installed path is needed.

#include <QString>

namespace kbxapp {

// Installs the translators of the language ("ja") on the application, in place of those it
// installed before; "en" (or anything else) removes them, leaving the English texts of the
// sources. Returns whether our own texts of the language were found.
bool setInterfaceLanguage(const QString& language);

} // namespace kbxapp
