#pragma once
// The Help menu's pages (a short manual and the About box) and what kbxman answers on the
// terminal without opening its window (--version, --help).

#include <QString>
#include <optional>

class QWidget;

namespace kbxapp {

// "kbxman 0.1.0": the project's version, as the build knows it.
QString versionText();
// The About box's text: version, licence, the Qt and MIDI library versions.
QString aboutText();
// The usage kbxman prints for --help.
QString commandLineHelp();

// Answers --version and --help on the terminal: the exit code when one of them was given (the
// window is not opened), none otherwise. Other arguments are left to the caller.
std::optional<int> answerCommandLine(int argc, char** argv);

// The manual in a window of its own (modeless, one at a time) and the About box.
void showManual(QWidget* parent);
void showAbout(QWidget* parent);

} // namespace kbxapp
