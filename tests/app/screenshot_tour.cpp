// Not a test: takes the screenshots of docs/ (scripts/screenshots runs it on an X server of its
// own with a window manager, so that captions and frames show). Against the virtual keyboard,
// with settings in a temporary place: the Keyboard menu open, an import in progress with the
// bar's text, an error box with its informative line, and the question before a delete.
#include "errorreporter.h"
#include "filelistview.h"
#include "mainform.h"
#include "mididevices.h"
#include "settings.h"
#include "virtualzr7316.h"
#include "zxdata.h"
#include "zxkbddrv.h"

#include <QApplication>
#include <QDir>
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
#include <functional>

namespace {

QString g_out;
int g_failures = 0;

// The screen around the rectangles (window frame, menus, boxes), with a small margin.
void shoot(const QString& name, QRect area) {
    QScreen* screen = QGuiApplication::primaryScreen();
    area = area.adjusted(-8, -8, 8, 8).intersected(screen->geometry());
    const QPixmap shot = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    const QString path = QDir(g_out).filePath(name);
    if (shot.isNull() || !shot.save(path)) {
        std::fprintf(stderr, "screenshot_tour: could not save %s\n", qPrintable(path));
        ++g_failures;
        return;
    }
    std::printf("%s\n", qPrintable(path));
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

std::vector<std::uint8_t> song(std::size_t size, const char* name) {
    std::vector<std::uint8_t> bytes(size, 0x24);
    for (std::size_t i = 0; i < 8; ++i)
        bytes[4 + i] = name[i] ? static_cast<std::uint8_t>(name[i]) : 0x20;
    return bytes;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    g_out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QDir().mkpath(g_out);

    auto& registry = kbxmidi::DeviceRegistry::instance();
    registry.setSystemDevicesEnabled(false);
    VirtualZr7316& keyboard = registry.virtualKeyboard();
    keyboard.setStateFile(QString());
    keyboard.factoryReset();
    // A long song, so that its transfer is caught half way.
    keyboard.setItemBytes(ZxKind::Song, 1, 0, song(9000, "Nocturne"));

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

    TPcLinkForm form;
    form.move(40, 40);
    form.show();
    settle(800);
    auto* localTree = form.findChild<QTreeWidget*>(QStringLiteral("LocalDirView"));
    localTree->currentItem()->setExpanded(true);
    tidyLocalTree(localTree);
    form.ConnectActionExecute();
    auto* kbdTree = form.findChild<QTreeWidget*>(QStringLiteral("KbdDirView"));
    auto* kbdList = form.findChild<FileListView*>(QStringLiteral("KbdFileView"));
    kbdTree->setCurrentItem(nodeByPath(form, kbdTree, QStringLiteral("Song Rhythm:\\Song\\")));
    kbdList->setSelectedRow(1);
    kbdList->setFocus();
    settle(300);

    // 1. The Keyboard menu, opened from the menu bar.
    auto* menu = form.findChild<QMenu*>(QStringLiteral("KeyboardMenu"));
    form.menuBar()->setActiveAction(menu->menuAction());
    settle(500);
    shoot(QStringLiteral("window-menus.png"), form.frameGeometry().united(menu->geometry()));
    menu->close();
    form.menuBar()->setActiveAction(nullptr);
    settle(300);

    // 2. The song's import at wire speed, shot when the bar is about half way.
    VirtualZr7316::Faults slow;
    slow.wireSpeed = true;
    slow.replyDelayMs = 20;
    keyboard.setFaults(slow);
    auto* bar = form.findChild<QProgressBar*>(QStringLiteral("ProgressBar"));
    bool shot = false;
    QObject::connect(bar, &QProgressBar::valueChanged, &form, [&](int value) {
        if (shot || bar->maximum() < 1000 || value * 2 < bar->maximum())
            return;
        shot = true;
        QTimer::singleShot(150, &form, [&] {
            shoot(QStringLiteral("window-transfer.png"), form.frameGeometry());
        });
    });
    form.ReceiveActionExecute();
    keyboard.setFaults({});
    if (!shot) {
        std::fprintf(stderr, "screenshot_tour: the transfer ended before it was shot\n");
        ++g_failures;
    }
    settle(300);

    // 3. A tone file sent into a song slot: the error box with its informative line.
    auto* localList = form.findChild<FileListView*>(QStringLiteral("LocalFileView"));
    kbdTree->setCurrentItem(nodeByPath(form, kbdTree, QStringLiteral("Tone:\\")));
    kbdList->setSelectedRow(0);
    form.ReceiveActionExecute();
    for (int row = 0; row < localList->count(); ++row) {
        if (localList->itemText(row).startsWith(QStringLiteral("TON_")))
            localList->setSelectedRow(row);
    }
    kbdTree->setCurrentItem(nodeByPath(form, kbdTree, QStringLiteral("Song Rhythm:\\Song\\")));
    kbdList->setSelectedRow(1);
    settle(300);
    bool boxShot = false;
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, &form, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || boxShot)
            return;
        boxShot = true;
        QTimer::singleShot(600, box, [&form, box] {
            shoot(QStringLiteral("window-error.png"),
                  form.frameGeometry().united(box->frameGeometry()));
            box->accept();
        });
    });
    poll.start();
    form.SendActionExecute();
    poll.stop();
    if (!boxShot) {
        std::fprintf(stderr, "screenshot_tour: no error box appeared\n");
        ++g_failures;
    }
    settle(300);

    // 4. The question before a song is deleted, answered Cancel.
    kbdList->setSelectedRow(0);
    settle(300);
    bool askShot = false;
    QObject::connect(&poll, &QTimer::timeout, &form, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || askShot || box->objectName() != QStringLiteral("ConfirmBox"))
            return;
        askShot = true;
        QTimer::singleShot(600, box, [&form, box] {
            shoot(QStringLiteral("window-confirm-delete.png"),
                  form.frameGeometry().united(box->frameGeometry()));
            box->reject();
        });
    });
    poll.start();
    form.DeleteActionExecute();
    poll.stop();
    if (!askShot) {
        std::fprintf(stderr, "screenshot_tour: no question before the delete\n");
        ++g_failures;
    }
    return g_failures == 0 ? 0 : 1;
}
