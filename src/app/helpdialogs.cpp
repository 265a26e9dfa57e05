#include "app/helpdialogs.h"

#include "midi/mididevices.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPointer>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <cstdio>
#include <cstring>

#ifndef KBX_VERSION
#define KBX_VERSION "unknown"
#endif

namespace kbxapp {

namespace {

QString manualHtml() {
    return QCoreApplication::translate(
        "HelpDialogs",
        "<h2>kbxman</h2>"
        "<p>kbxman moves music data between the ZR-7316 keyboard and the computer, over one MIDI "
        "output cabled to the keyboard's input and one MIDI input cabled to its output.</p>"
        "<h3>The window</h3>"
        "<p>Above: the computer's folders and files. Below: the keyboard as a drive with the "
        "folders Tone:, DSP:, Registration: (four banks) and Song Rhythm: (Song, Rhythm). The "
        "column No. counts the slots of a folder from 1. An item whose name is blank shows "
        "<i>(no name)</i>. The bar under the keyboard list shows the song memory and whether the "
        "selected song or rhythm file fits into the selected slot.</p>"
        "<h3>Working with the keyboard</h3>"
        "<ul><li><b>Get/Update List</b> (F5) reads what the keyboard stores.</li>"
        "<li><b>Import</b> writes the selected keyboard item into the folder shown above.</li>"
        "<li><b>Send</b> sends the selected file into the selected keyboard slot.</li>"
        "<li><b>Delete</b> (Del in the keyboard pane) empties a song or rhythm slot.</li>"
        "<li>Dragging an item from one pane to the other imports or sends it.</li></ul>"
        "<p>Before a delete, or a send that replaces a song or rhythm, kbxman asks. While the "
        "history keeps copies (Preference, page Safety), the question can be switched off there "
        "and Edit &gt; Undo (Ctrl+Z) brings the old item back; without the history it is always "
        "asked. When an action ends, the status bar says how.</p>"
        "<h3>Keys</h3>"
        "<table><tr><td>F5</td><td>Get/Update List</td></tr>"
        "<tr><td>Alt+L, Alt+I, Alt+S, Alt+D, Alt+R</td>"
        "<td>List, Import, Send, Delete, Retrieve</td></tr>"
        "<tr><td>Esc</td><td>Cancel the running action</td></tr>"
        "<tr><td>Ctrl+Z</td><td>Undo</td></tr>"
        "<tr><td>Ctrl+H</td><td>History</td></tr>"
        "<tr><td>Ctrl+M</td><td>MIDI Monitor</td></tr>"
        "<tr><td>Ctrl+,</td><td>Preference</td></tr>"
        "<tr><td>Alt+Enter</td><td>Properties</td></tr>"
        "<tr><td>Ctrl+1 to Ctrl+4</td><td>Keyboard list view styles</td></tr>"
        "<tr><td>F2, Del, Ctrl+Shift+N, Backspace</td><td>In the upper list: rename, move to "
        "the trash, new folder, up one folder</td></tr>"
        "<tr><td>F1</td><td>This manual</td></tr>"
        "<tr><td>Ctrl+Q</td><td>Exit</td></tr></table>"
        "<h3>Command line</h3>"
        "<p><tt>kbxtool</tt> does the same from a terminal; see kbxtool(1) and kbxman(1).</p>");
}

void print(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

} // namespace

QString versionText() {
    return QStringLiteral("kbxman " KBX_VERSION);
}

QString aboutText() {
    return QCoreApplication::translate("HelpDialogs",
                                       "<p><b>%1</b></p>"
                                       "<p>ZR-7316 music data management software.</p>"
                                       "<p>Licence: GNU General Public License, version 3 or later "
                                       "(GPL-3.0-or-later).</p>"
                                       "<p>Qt %2, RtMidi %3</p>")
        .arg(versionText(), QString::fromLatin1(qVersion()),
             QString::fromStdString(kbxmidi::midiLibraryVersion()));
}

QString commandLineHelp() {
    return QStringLiteral("Usage: kbxman [FILE]\n"
                          "       kbxman --help | --version\n"
                          "\n"
                          "Opens the window of the ZR-7316 music data management software;\n"
                          "given a FILE, the upper pane shows it in its folder.\n"
                          "\n"
                          "  --help     show this text and exit\n"
                          "  --version  show the version and exit\n"
                          "\n"
                          "The same work from a terminal: kbxtool --help.\n");
}

std::optional<int> answerCommandLine(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            print(versionText() + QLatin1Char('\n'));
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            print(commandLineHelp());
            return 0;
        }
    }
    return std::nullopt;
}

void showManual(QWidget* parent) {
    static QPointer<QDialog> open;
    if (!open) {
        auto* dialog = new QDialog(parent);
        dialog->setObjectName(QStringLiteral("ManualForm"));
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setWindowTitle(QCoreApplication::translate("HelpDialogs", "kbxman Manual"));
        auto* layout = new QVBoxLayout(dialog);
        auto* browser = new QTextBrowser(dialog);
        browser->setObjectName(QStringLiteral("ManualBrowser"));
        browser->setHtml(manualHtml());
        layout->addWidget(browser);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
        QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
        layout->addWidget(buttons);
        dialog->resize(560, 480);
        open = dialog;
    }
    open->show();
    open->raise();
    open->activateWindow();
}

void showAbout(QWidget* parent) {
    QMessageBox::about(parent, QCoreApplication::translate("HelpDialogs", "About kbxman"),
                       aboutText());
}

} // namespace kbxapp
