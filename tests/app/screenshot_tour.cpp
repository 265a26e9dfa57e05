// Not a test: takes the main window's screenshots of docs/ in one language (scripts/screenshots
// runs it once in English and once in Japanese, each on an X server of its own with a window
// manager, so that captions and frames show). Against the virtual keyboard, with settings in a
// temporary place: the window after a list, the Keyboard menu open, an import in progress with
// the bar's text, several files sent at once, an error box with its informative line, and the
// question before a delete.
//   screenshot_tour OUTPUT-FOLDER [LANGUAGE]     en (default) or ja: docs ja -> docs/*-ja.png
// Messages follow the locale, as in the program; run it with LANG=ja_JP.UTF-8 for "ja".
#include "app/errorreporter.h"
#include "app/filelistview.h"
#include "app/mainform.h"
#include "app/translations.h"
#include "common/settings.h"
#include "data/zxkinds.h"
#include "emulator/virtualzr7316.h"
#include "midi/mididevices.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QProgressBar>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace {

QString g_out;
QString g_language;
int g_failures = 0;

// The screen around the rectangles (window frame, menus, boxes), with a small margin.
void shoot(const QString& name, QRect area) {
    QScreen* screen = QGuiApplication::primaryScreen();
    area = area.adjusted(-8, -8, 8, 8).intersected(screen->geometry());
    const QPixmap shot = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    const QString path = QDir(g_out).filePath(QStringLiteral("%1-%2.png").arg(name, g_language));
    if (shot.isNull() || !shot.save(path)) {
        std::fprintf(stderr, "screenshot_tour: could not save %s\n", qPrintable(path));
        ++g_failures;
        return;
    }
    std::printf("%s\n", qPrintable(path));
    std::fflush(stdout);
}

void missed(const char* what) {
    std::fprintf(stderr, "screenshot_tour: %s\n", what);
    ++g_failures;
}

// Waits with the event loop running, so that the window system paints.
void settle(int ms) {
    QTest::qWait(ms);
}

QTreeWidgetItem* nodeByPath(TPcLinkForm& form, QTreeWidget* tree, const QString& path) {
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        if (form.GetNodePath(*it) == path)
            return *it;
    }
    return nullptr;
}

// The pictures show the user's folders only: other folders of this machine (the temporary
// folder's neighbours) are left out of the local tree.
void tidyLocalTree(QTreeWidget* tree) {
    QTreeWidgetItem* current = tree->currentItem();
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        bool keep = false;
        for (QTreeWidgetItem* p = current; p && !keep; p = p->parent())
            keep = p == *it; // an ancestor of the chosen folder
        for (QTreeWidgetItem* p = (*it)->parent(); p && !keep; p = p->parent())
            keep = p == current; // below it
        (*it)->setHidden(!keep);
    }
    tree->scrollToItem(current);
}

// An item of `size` bytes with its 8-byte name at `offset` (code page 932 bytes).
std::vector<std::uint8_t> named(std::size_t size, std::size_t offset, const char* name) {
    std::vector<std::uint8_t> bytes(size, 0x24);
    const std::size_t length = std::strlen(name);
    for (std::size_t i = 0; i < 8; ++i)
        bytes[offset + i] = i < length ? static_cast<std::uint8_t>(name[i]) : 0x20;
    return bytes;
}

// Shoots the window with the first message box of the given name (any box if none is given)
// when it has been shown for a moment, then closes it: accepted or rejected. Any other box is
// closed at once. Returns whether it was shot.
bool shootBox(TPcLinkForm& form, const QString& shotName, const QString& boxName, bool accept,
              const std::function<void()>& action) {
    bool boxShot = false;
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, &form, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || boxShot)
            return;
        if (!boxName.isEmpty() && box->objectName() != boxName) {
            std::fprintf(stderr, "screenshot_tour: unexpected box: %s\n", qPrintable(box->text()));
            box->reject();
            return;
        }
        boxShot = true;
        QTimer::singleShot(600, box, [&form, box, shotName, accept] {
            shoot(shotName, form.frameGeometry().united(box->frameGeometry()));
            if (accept)
                box->accept();
            else
                box->reject();
        });
    });
    poll.start();
    action();
    poll.stop();
    return boxShot;
}

// Runs a transfer with the keyboard paced at the wire's speed and shoots the window once the bar
// has passed half of a job of at least `minimum` steps. The question before it is answered yes,
// any other box is closed. Returns whether it was shot.
bool shootTransfer(TPcLinkForm& form, VirtualZr7316& keyboard, const QString& shotName, int minimum,
                   const std::function<void()>& action) {
    QTimer answer;
    answer.setInterval(50);
    QObject::connect(&answer, &QTimer::timeout, &form, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        for (QAbstractButton* button : box->buttons()) {
            if (box->objectName() == QStringLiteral("ConfirmBox") &&
                box->buttonRole(button) == QMessageBox::YesRole) {
                button->click();
                return;
            }
        }
        std::fprintf(stderr, "screenshot_tour: unexpected box: %s\n", qPrintable(box->text()));
        box->reject();
    });
    answer.start();
    VirtualZr7316::Faults slow;
    slow.wireSpeed = true;
    slow.replyDelayMs = 20;
    keyboard.setFaults(slow);
    auto* bar = form.findChild<QProgressBar*>(QStringLiteral("ProgressBar"));
    bool shot = false;
    const QMetaObject::Connection watch =
        QObject::connect(bar, &QProgressBar::valueChanged, &form, [&, bar](int value) {
            if (shot || bar->maximum() < minimum || value * 2 < bar->maximum())
                return;
            shot = true;
            // Painted before the next step moves the bar on.
            QTimer::singleShot(150, &form,
                               [&form, shotName] { shoot(shotName, form.frameGeometry()); });
        });
    action();
    QObject::disconnect(watch);
    keyboard.setFaults({});
    return shot;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    g_out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    g_language = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("en");
    if (g_language != QStringLiteral("en") && g_language != QStringLiteral("ja")) {
        std::fprintf(stderr, "usage: screenshot_tour OUTPUT-FOLDER [en|ja]\n");
        return 2;
    }
    QDir().mkpath(g_out);
    // Whatever goes wrong, the tour ends: every step below ends on its own, this is the net.
    QTimer::singleShot(240000, [] {
        QWidget* modal = QApplication::activeModalWidget();
        std::fprintf(stderr, "screenshot_tour: still running after four minutes, given up%s%s\n",
                     modal ? " with this open: " : "",
                     modal ? qPrintable(modal->windowTitle() + QLatin1Char(' ') +
                                        QLatin1String(modal->metaObject()->className()))
                           : "");
        std::_Exit(3);
    });

    auto& registry = kbxmidi::DeviceRegistry::instance();
    registry.setSystemDevicesEnabled(false);
    VirtualZr7316& keyboard = registry.virtualKeyboard();
    keyboard.setStateFile(QString());
    keyboard.factoryReset();
    // A long song, so that its transfer is caught half way; rhythms to send several at once, one
    // named in half-width katakana as a Japanese user names them.
    keyboard.setItemBytes(ZxKind::Song, 1, 0, named(9000, 4, "Nocturne"));
    const char* rhythms[] = {"SambaPop", "\xCE\xDE\xBB\xC9\xCA\xDE", "Shuffle2", "8BeatRck"};
    for (int i = 0; i < VirtualZr7316::kRhythms; ++i)
        keyboard.setItemBytes(ZxKind::Rhythm, i, 0, named(1500 + 100 * i, 2, rhythms[i]));

    QTemporaryDir config;
    QTemporaryDir temporary;
    const QString local = temporary.filePath(QStringLiteral("Music/Keyboard"));
    QDir(local).mkpath(QStringLiteral("Live set"));
    QDir(local).mkpath(QStringLiteral("Rehearsal"));
    KbxSettings::setDefaultStore(QSettings::IniFormat,
                                 config.filePath(QStringLiteral("KbxMan.ini")));
    KbxSettings().save(0, 0, local);
    KbxSettings::WindowValues window;
    window.listAtStart = false;
    KbxSettings().saveWindow(window);
    // As chosen on the preference dialog and loaded at start.
    KbxSettings().saveLanguage(g_language);
    kbxapp::setInterfaceLanguage(g_language);

    TPcLinkForm form;
    form.resize(860, 640);
    form.move(40, 40);
    form.show();
    settle(800);
    auto* localTree = form.findChild<QTreeWidget*>(QStringLiteral("LocalDirView"));
    localTree->currentItem()->setExpanded(true);
    tidyLocalTree(localTree);
    form.ConnectActionExecute();
    auto* kbdTree = form.findChild<QTreeWidget*>(QStringLiteral("KbdDirView"));
    auto* kbdList = form.findChild<FileListView*>(QStringLiteral("KbdFileView"));
    auto* localList = form.findChild<FileListView*>(QStringLiteral("LocalFileView"));
    const auto showKbdFolder = [&](const char* path) {
        kbdTree->setCurrentItem(nodeByPath(form, kbdTree, QString::fromLatin1(path)));
    };
    const auto allRows = [](FileListView* list) {
        QList<int> rows;
        for (int row = 0; row < list->count(); ++row)
            rows << row;
        return rows;
    };

    // 1. The window after the rhythms were imported at once: their files in the local pane,
    //    the keyboard's songs with their numbers, the line that says what was done.
    showKbdFolder("Song Rhythm:\\Rhythm\\");
    kbdList->setSelectedRows(allRows(kbdList));
    form.ReceiveActionExecute();
    // Files the user named at length, in English and in Japanese: their labels take two and
    // three lines.
    const QDir localDir(local);
    const QString first = localDir.entryList({QStringLiteral("RHY_*.kbx")}).value(0);
    QFile::copy(localDir.filePath(first),
                localDir.filePath(QStringLiteral("Samba_for_the_rehearsal.kbx")));
    QFile::copy(localDir.filePath(first),
                localDir.filePath(QStringLiteral("サンバ_リハーサル用_第2版.kbx")));
    form.LocalUpdateActionExecute();
    showKbdFolder("Song Rhythm:\\Song\\");
    form.findChild<QAction*>(QStringLiteral("KbdReportItem"))->trigger();
    kbdList->setSelectedRow(1);
    kbdList->setFocus();
    settle(500);
    shoot(QStringLiteral("window-main"), form.frameGeometry());

    // 2. The Keyboard menu, opened from the menu bar.
    auto* menu = form.findChild<QMenu*>(QStringLiteral("KeyboardMenu"));
    form.menuBar()->setActiveAction(menu->menuAction());
    settle(500);
    shoot(QStringLiteral("window-menus"), form.frameGeometry().united(menu->geometry()));
    menu->close();
    form.menuBar()->setActiveAction(nullptr);
    settle(300);

    // 3. The song's import, shot when the bar is about half way.
    if (!shootTransfer(form, keyboard, QStringLiteral("window-transfer"), 1000,
                       [&] { form.ReceiveActionExecute(); }))
        missed("the transfer ended before it was shot");
    settle(300);

    // 4. The rhythm files sent at once into the emptied rhythm slots, shot while the one bar of
    //    the whole job runs.
    for (int i = 0; i < VirtualZr7316::kRhythms; ++i)
        keyboard.setItemBytes(ZxKind::Rhythm, i, 0, {});
    form.ConnectActionExecute();
    showKbdFolder("Song Rhythm:\\Rhythm\\");
    kbdList->setSelectedRow(-1);
    QList<int> rhythmFiles;
    for (int row = 0; row < localList->count(); ++row) {
        if (localList->itemText(row).startsWith(QStringLiteral("RHY_")))
            rhythmFiles << row;
    }
    localList->setSelectedRows(rhythmFiles);
    localList->setFocus();
    settle(300);
    if (rhythmFiles.size() < 2)
        missed("no rhythm files to send");
    else if (!shootTransfer(form, keyboard, QStringLiteral("window-batch-send"), 1,
                            [&] { form.SendActionExecute(); }))
        missed("the files were sent before they were shot");
    settle(300);

    // 5. A tone file sent into a song slot: the error box with its informative line.
    showKbdFolder("Tone:\\");
    kbdList->setSelectedRow(0);
    form.ReceiveActionExecute();
    for (int row = 0; row < localList->count(); ++row) {
        if (localList->itemText(row).startsWith(QStringLiteral("TON_")))
            localList->setSelectedRow(row);
    }
    showKbdFolder("Song Rhythm:\\Song\\");
    kbdList->setSelectedRow(1);
    settle(300);
    if (!shootBox(form, QStringLiteral("window-error"), QString(), true,
                  [&] { form.SendActionExecute(); }))
        missed("no error box appeared");
    settle(300);

    // 6. The question before a song is deleted, answered Cancel.
    kbdList->setSelectedRow(0);
    kbdList->setFocus();
    settle(300);
    if (!shootBox(form, QStringLiteral("window-confirm-delete"), QStringLiteral("ConfirmBox"),
                  false, [&] { form.DeleteActionExecute(); }))
        missed("no question before the delete");
    return g_failures == 0 ? 0 : 1;
}
