// Takes the screenshots of docs/ for the whole keyboard: the backup's progress, the restore
// preview (with its comparison) and the gauge, and the history window after that restore and an
// undo, against the virtual keyboard, on whatever X server DISPLAY names
// (scripts/screenshots-wholekbd runs it under Xvfb with openbox).
//   shoot_wholekbd OUTPUT-FOLDER SUFFIX       e.g. docs en  ->  docs/screenshot-backup-en.png
// A suffix "ja" chooses the Japanese window as well; messages follow the locale.
#include "app/dialogs/historyform.h"
#include "app/dialogs/restorepreviewform.h"
#include "app/errorreporter.h"
#include "app/mainform.h"
#include "app/translations.h"
#include "common/settings.h"
#include "data/zxkinds.h"
#include "emulator/virtualzr7316.h"
#include "midi/mididevices.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <cstring>

namespace {

class Silent : public ErrorReporter {
public:
    void showError(QWidget*, const QString& text) override {
        std::fprintf(stderr, "error: %s\n", qPrintable(text));
    }
};

void settle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool shoot(const QString& path) {
    const bool saved = QGuiApplication::primaryScreen()->grabWindow(0).save(path);
    std::fprintf(stderr, "%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

std::vector<std::uint8_t> named(std::size_t size, std::size_t offset, const char* name) {
    std::vector<std::uint8_t> bytes(size, 0x11);
    const std::size_t length = std::strlen(name);
    for (std::size_t i = 0; i < 8; ++i)
        bytes[offset + i] = static_cast<std::uint8_t>(i < length ? name[i] : ' ');
    return bytes;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: shoot_wholekbd OUTPUT-FOLDER SUFFIX\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const QString suffix = QString::fromLocal8Bit(argv[2]);
    QTemporaryDir temp;
    KbxSettings::setDefaultStore(QSettings::IniFormat, temp.filePath("KbxMan.ini"));
    QDir(temp.path()).mkpath("Music");
    const QString local = QDir::toNativeSeparators(temp.filePath("Music"));
    KbxSettings().save(0, 0, local);
    // As chosen on the preference dialog and loaded at start.
    const QString language = suffix == QStringLiteral("ja") ? suffix : QStringLiteral("en");
    KbxSettings().saveLanguage(language);
    kbxapp::setInterfaceLanguage(language);
    Silent silent;
    ErrorReporter::setInstance(&silent);
    auto& registry = kbxmidi::DeviceRegistry::instance();
    registry.setSystemDevicesEnabled(false);
    VirtualZr7316& keyboard = registry.virtualKeyboard();
    keyboard.setStateFile(QString());
    keyboard.factoryReset();

    TPcLinkForm form;
    form.resize(860, 660);
    form.move(40, 30);
    form.show();
    settle(800);
    form.ConnectActionExecute();
    settle(300);

    // The backup, caught at its twelfth item.
    bool shotBackup = false;
    QTimer poll;
    poll.setInterval(0);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const QString status = form.statusText();
        if (!shotBackup && (status.contains(" 12 of ") || status.contains(" 12 / "))) {
            shotBackup = true;
            shoot(out.filePath(QStringLiteral("screenshot-backup-%1.png").arg(suffix)));
        }
    });
    poll.start();
    // Paced at the wire's speed, as a real keyboard is, so that the bar moves visibly.
    VirtualZr7316::Faults faults;
    faults.wireSpeed = true;
    keyboard.setFaults(faults);
    const QString backup = form.BackupKeyboardTo(temp.filePath("Music"));
    keyboard.setFaults({});
    poll.stop();

    // A few changes since the backup, then the restore's preview with its comparison.
    keyboard.setItemBytes(ZxKind::Tone, 3, 0, named(60, 36, "Brass 2"));
    keyboard.setItemBytes(ZxKind::Rhythm, 3, 0, named(420, 2, "Bossa"));
    keyboard.setItemBytes(ZxKind::Song, 0, 0, {});
    TRestorePreviewForm::setRunner([&](TRestorePreviewForm& preview) {
        preview.resize(620, 520);
        preview.move(160, 110);
        preview.show();
        settle(500);
        preview.compareButton()->click();
        settle(500);
        shoot(out.filePath(QStringLiteral("screenshot-restore-preview-%1.png").arg(suffix)));
        return int(QDialog::Rejected);
    });
    form.RestoreKeyboardFrom(backup);

    // The restore carried out, its last change undone: the history window lists what each
    // change replaced, newest first (the history is a temporary one under KBX_TEST).
    TRestorePreviewForm::setRunner([](TRestorePreviewForm&) { return int(QDialog::Accepted); });
    form.RestoreKeyboardFrom(backup);
    form.UndoActionExecute();
    form.HistoryOpenExecute();
    THistoryForm* history = form.historyForm();
    history->resize(780, 360);
    history->move(120, 200);
    settle(300);
    // The restore is one row, oldest at the bottom: opened on its slots, the first selected.
    QTreeWidget* entries = history->entryList();
    if (QTreeWidgetItem* restore = entries->topLevelItem(entries->topLevelItemCount() - 1)) {
        restore->setExpanded(true);
        entries->setCurrentItem(restore->child(0) ? restore->child(0) : restore);
    }
    settle(500);
    const bool shotHistory =
        history->entryList()->topLevelItemCount() > 0 &&
        shoot(out.filePath(QStringLiteral("screenshot-history-%1.png").arg(suffix)));
    ErrorReporter::setInstance(nullptr);
    return shotBackup && shotHistory ? 0 : 1;
}
