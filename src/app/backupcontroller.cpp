#include "app/backupcontroller.h"
#include "ui_mainform.h"

#include "app/devicechoicecontroller.h"
#include "app/dialogs/restorepreviewform.h"
#include "app/filelistview.h"
#include "app/kbdactioncontroller.h"
#include "app/kbdpane.h"
#include "app/localpane.h"
#include "app/mainform.h"
#include "app/memorygauge.h"
#include "app/progressobservers.h"
#include "common/msgstr.h"
#include "data/zxdata.h"
#include "data/zxkinds.h"
#include "drive/zxkbddrv.h"
#include "files/kbxnames.h"
#include "ops/applyplan.h"
#include "ops/backup.h"
#include "ops/compare.h"
#include "ops/datafile.h"
#include "ops/restoreplan.h"
#include "ops/slotref.h"

#include <QBoxLayout>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QProgressBar>
#include <QSet>
#include <QTreeWidget>
#include <algorithm>

namespace kbxapp {

namespace {

// A job of many items on the window's bar and status line: the list moves the bar as a list
// does; then the bar runs over the bytes of all items, and the status line names the item.
class JobProgress : public kbxops::Progress {
public:
    // itemText(index) is the status line for the item index (from 1), called as it begins;
    // total is the bytes of the whole job, known once the first item begins (totalOf).
    JobProgress(QProgressBar* bar, std::function<QString(int index, int count)> itemText,
                std::function<std::uint32_t()> totalOf, std::function<void(const QString&)> status)
        : m_bar(bar)
        , m_list(bar)
        , m_itemText(std::move(itemText))
        , m_totalOf(std::move(totalOf))
        , m_status(std::move(status)) {}

    void begin(const kbxops::Step& step) override {
        if (step.kind == kbxops::Step::List || step.index <= 0) {
            m_list.begin(step);
            m_inItem = false;
            return;
        }
        if (!m_total) {
            m_total = std::max<std::uint32_t>(1, m_totalOf());
            m_bar->setRange(0, static_cast<int>(m_total));
        }
        m_inItem = true;
        m_stepTotal = step.total;
        m_status(m_itemText(step.index, step.count));
        show(0);
    }
    void advanceTo(std::uint32_t done) override {
        if (m_inItem)
            show(done);
        else
            m_list.advanceTo(done);
    }
    void end() override {
        if (!m_inItem)
            return;
        m_base += m_stepTotal;
        m_inItem = false;
        show(0);
    }

private:
    void show(std::uint32_t done) {
        m_bar->setValue(static_cast<int>(std::min(m_total, m_base + done)));
        m_bar->repaint();
    }

    QProgressBar* m_bar;
    PBarProgress m_list;
    std::function<QString(int, int)> m_itemText;
    std::function<std::uint32_t()> m_totalOf;
    std::function<void(const QString&)> m_status;
    std::uint32_t m_total = 0;
    std::uint32_t m_base = 0;
    std::uint32_t m_stepTotal = 0;
    bool m_inItem = false;
};

QString itemName(const std::string& bytes) {
    return kbxnames::keyboardText(bytes).trimmed();
}

} // namespace

BackupController::BackupController(TPcLinkForm& form, Ui::TPcLinkForm& ui,
                                   KbdActionController& actions)
    : QObject(&form)
    , m_form(form)
    , m_ui(ui)
    , m_actions(actions) {
    m_gauge = new MemoryGauge(&form);
    QWidget* split = ui.KbdFileView->parentWidget();
    if (auto* box = qobject_cast<QBoxLayout*>(split->parentWidget()->layout()))
        box->insertWidget(box->indexOf(split) + 1, m_gauge);
    // After the selection has moved, not with the current row, which changes first: the gauge
    // describes what is selected now.
    connect(ui.LocalFileView, &FileListView::selectionChanged, this, [this] { updateGauge(); });
    connect(ui.KbdFileView, &FileListView::selectionChanged, this, [this] { updateGauge(); });
}

void BackupController::updateGauge() {
    const std::optional<SongMemory> memory = songMemoryOf(m_form.kbdDrv());
    m_gauge->setMemory(memory);
    // The file selected locally, when it is a song or a rhythm: what it needs, and its room in
    // the keyboard slot selected below (a song replacing a song may use the old one's bytes).
    QTreeWidgetItem* node = m_ui.LocalDirView->currentItem();
    const int row = m_ui.LocalFileView->selectedRow();
    if (!memory || !node || row < 0) {
        m_gauge->clearNeed();
        return;
    }
    const QString path = m_form.GetNodePath(node) + m_ui.LocalFileView->itemText(row);
    std::unique_ptr<ZxDataFile> item;
    try {
        if (QFileInfo(path).isFile())
            item = kbxops::readDataFile(path);
    } catch (...) {
        // Not a data file: nothing to measure.
    }
    if (!item || (item->kind() != ZxKind::Song && item->kind() != ZxKind::Rhythm)) {
        m_gauge->clearNeed();
        return;
    }
    const int kbdRow = m_ui.KbdFileView->selectedRow();
    const ZxData* target = kbdRow >= 0 ? m_form.kbdPane().KbdItemData(kbdRow) : nullptr;
    if (dynamic_cast<const ZxDataDrive*>(target))
        target = nullptr; // a folder, not a slot
    m_gauge->setNeed(item->size(), roomFor(*memory, item->kind(), target));
}

// ---- Back up ----

void BackupController::backupAsked() {
    if (m_actions.isBusy())
        return;
    const QString parent = QFileDialog::getExistingDirectory(
        &m_form, TPcLinkForm::tr("Back Up Keyboard: Choose a Folder"), m_form.ShownFolder());
    if (!parent.isEmpty())
        backupTo(parent);
}

QString BackupController::backupTo(const QString& parent) {
    if (m_actions.isBusy())
        return {};
    // One folder per backup, named so that they sort by time; a second backup within the same
    // second gets a number.
    const QString stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HHmmss"));
    QString dir = QDir(parent).filePath(QStringLiteral("Backup ") + stamp);
    for (int n = 2; QFileInfo::exists(dir); ++n)
        dir = QDir(parent).filePath(QStringLiteral("Backup %1 (%2)").arg(stamp).arg(n));

    QString made;
    m_actions.run(0, [&] {
        std::vector<std::pair<QString, std::uint32_t>> items; // name, size in backup order
        const auto gather = [&] {
            if (!items.empty())
                return;
            for (const kbxops::SlotEntry& s : kbxops::slotsOf(m_form.kbdDrv().root()))
                if (s.node->isPresent())
                    items.emplace_back(itemName(s.node->name()), s.node->size());
        };
        JobProgress progress(
            m_actions.progressBar(),
            [&](int index, int count) {
                gather();
                const QString name =
                    index <= static_cast<int>(items.size()) ? items[index - 1].first : QString();
                return localText("Backing up %1 of %2: %3", "バックアップ中 %1 / %2: %3")
                    .arg(index)
                    .arg(count)
                    .arg(name);
            },
            [&] {
                gather();
                std::uint32_t total = 0;
                for (const auto& item : items)
                    total += item.second;
                return total;
            },
            [this](const QString& text) { m_actions.setStatusText(text); });
        kbxops::Keyboard keyboard = m_actions.plainKeyboard(&progress);
        const kbxops::BackupResult result = kbxops::backupKeyboard(keyboard, dir);
        made = result.directory;
        m_actions.showListed(false);
        m_actions.setDoneLine(
            localText("Backed up %1 items into %2.", "%1 件を %2 にバックアップしました。")
                .arg(result.files.size())
                .arg(QDir::toNativeSeparators(result.directory)));
        if (!result.complete)
            m_form.ReportError(
                localText("The backup was cancelled. %1 of %2 items are in \"%3\"; its "
                          "manifest marks the backup as incomplete.",
                          "バックアップは中止されました。%2 件中 %1 件が \"%3\" にあります。"
                          "マニフェストには不完全なバックアップと記されています。")
                    .arg(result.files.size())
                    .arg(result.files.size() + static_cast<std::size_t>(result.notDone.size()))
                    .arg(result.directory));
    });
    if (!made.isEmpty())
        m_form.localPane().RefreshLocalFiles();
    return made;
}

// ---- Restore ----

void BackupController::restoreAsked() {
    if (m_actions.isBusy())
        return;
    const QString path = QFileDialog::getOpenFileName(
        &m_form, TPcLinkForm::tr("Restore Keyboard: Choose a Backup"), m_form.ShownFolder(),
        TPcLinkForm::tr("Backup manifest (manifest.json);;All files (*)"));
    if (!path.isEmpty())
        restoreFrom(path);
}

bool BackupController::restoreFrom(const QString& path) {
    if (m_actions.isBusy())
        return false;
    const QFileInfo info(path);
    const QString dir = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    bool ran = false;
    m_actions.run(0, [&] {
        MsgStr& messages = m_form.messages();
        PBarProgress listProgress(m_actions.progressBar());
        kbxops::Keyboard lister = m_actions.plainKeyboard(&listProgress);
        const kbxops::RestorePlan first = kbxops::planRestore(lister, dir);
        m_actions.showListed(false);
        // The list is done; while the user reads the preview the window says nothing is running.
        m_actions.setStatusText(QString());
        m_actions.progressBar()->setValue(0);

        TRestorePreviewForm form(&m_form);
        form.setPlan(first);
        // Both list the keyboard again: the user may have changed it on its panel meanwhile.
        form.setReplanner([&](bool sendUnchanged) -> std::optional<kbxops::RestorePlan> {
            try {
                return kbxops::planRestore(lister, dir, sendUnchanged);
            } catch (...) {
                m_form.ReportError(QString::fromStdString(
                    describeException(messages, std::current_exception()).message));
                return std::nullopt;
            }
        });
        form.setComparer([&]() -> std::optional<std::vector<kbxops::SlotComparison>> {
            try {
                return kbxops::compareSides(kbxops::sideOfBackup(dir),
                                            kbxops::sideOfKeyboard(lister));
            } catch (...) {
                m_form.ReportError(QString::fromStdString(
                    describeException(messages, std::current_exception()).message));
                return std::nullopt;
            }
        });
        if (form.run() != QDialog::Accepted)
            return;
        const kbxops::RestorePlan plan = form.plan();
        ran = true;

        // The restore numbers its changes as the plan lists them: each slot's copy kept, delete,
        // send and read-back carry its number.
        const KbxSettings::Safety& safety = m_form.deviceChoice().safety();
        std::vector<QString> names;
        std::uint32_t bytes = 0;
        for (const kbxops::PlannedChange& change : plan.changes) {
            const std::optional<kbxops::PlannedItem>& shown =
                change.backup ? change.backup : change.now;
            names.push_back(shown ? itemName(shown->name) : QString());
            if (change.now && safety.keepHistory)
                bytes += change.now->size; // the copy kept
            if (change.backup)
                bytes += change.backup->size * (safety.verifyRestore ? 2 : 1);
        }
        JobProgress progress(
            m_actions.progressBar(),
            [&](int index, int count) {
                const QString name =
                    index <= static_cast<int>(names.size()) ? names[index - 1] : QString();
                return localText("Restoring %1 of %2: %3", "復元中 %1 / %2: %3")
                    .arg(index)
                    .arg(count)
                    .arg(name);
            },
            [&] { return bytes; }, [this](const QString& text) { m_actions.setStatusText(text); });
        // Each change kept, recorded and read back as the preferences ask, like any send.
        kbxops::Keyboard keyboard = m_actions.keyboard(&progress);
        const kbxops::RestoreResult result = kbxops::applyRestorePlan(keyboard, plan, messages);
        m_actions.showListed(false);
        QSet<QString> changed(result.cleared.begin(), result.cleared.end());
        for (const auto& [file, slot] : result.restored)
            changed.insert(slot);
        m_actions.setDoneLine(
            localText("Restored %1 slots.", "%1 個のスロットを復元しました。").arg(changed.size()));

        QStringList lines;
        for (const kbxops::RestoreFailure& failure : result.failed)
            lines << QStringLiteral("%1: %2").arg(failure.slot,
                                                  QString::fromStdString(failure.error.message));
        if (result.cancelled)
            lines.prepend(localText("The restore was cancelled; %1 slots were not restored.",
                                    "復元は中止されました。%1 個のスロットは復元されていません。")
                              .arg(result.notDone.size()));
        else if (!lines.isEmpty())
            lines.prepend(
                localText("Some slots were not restored:", "復元できなかったスロットがあります:"));
        if (!lines.isEmpty())
            m_form.ReportError(lines.join(QLatin1Char('\n')));
    });
    return ran;
}

} // namespace kbxapp
