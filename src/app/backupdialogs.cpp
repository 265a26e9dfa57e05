// The whole keyboard in the window: Back up keyboard…, Restore keyboard… with its preview, and
// the song memory gauge under the keyboard list. Each runs in the keyboard action's busy frame,
// with its progress over the whole job on the status line and the bar.
#include "mainform.h"
#include "ui_mainform.h"

#include "errorreporter.h"
#include "filelistview.h"
#include "kbxnames.h"
#include "memorygauge.h"
#include "ops/applyplan.h"
#include "ops/backup.h"
#include "ops/compare.h"
#include "ops/datafile.h"
#include "ops/restoreplan.h"
#include "ops/slotref.h"
#include "restorepreviewform.h"
#include "zxdata.h"
#include "zxkbddrv.h"
#include "zxkinds.h"

#include <QBoxLayout>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QProgressBar>
#include <QSplitter>
#include <QTreeWidget>
#include <algorithm>

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

void TPcLinkForm::SetupWholeKeyboard() {
    Ui::TPcLinkForm& ui = *m_ui;
    // The Keyboard menu holds the two actions, greyed until now; they also go at the end of the
    // keyboard's pop-up menu.
    BackupAction->setEnabled(true);
    RestoreAction->setEnabled(true);
    connect(BackupAction, &QAction::triggered, this, &TPcLinkForm::BackupKeyboardExecute);
    connect(RestoreAction, &QAction::triggered, this, &TPcLinkForm::RestoreKeyboardExecute);
    KbdPopupMenu->addSeparator();
    KbdPopupMenu->addAction(BackupAction);
    KbdPopupMenu->addAction(RestoreAction);

    // The gauge goes under the keyboard's folder tree and list.
    m_gauge = new MemoryGauge(this);
    QWidget* split = ui.KbdFileView->parentWidget();
    if (auto* box = qobject_cast<QBoxLayout*>(split->parentWidget()->layout()))
        box->insertWidget(box->indexOf(split) + 1, m_gauge);
    connect(ui.LocalFileView, &FileListView::currentRowChanged, this,
            [this] { UpdateMemoryGauge(); });
    connect(ui.KbdFileView, &FileListView::currentRowChanged, this,
            [this] { UpdateMemoryGauge(); });
}

void TPcLinkForm::ShowKbdListed() {
    m_kbd->SetupKbdDirView();
    m_ui->SendAction->setEnabled(true);
    m_ui->LocalSendMenuItem->setEnabled(true);
    m_ui->ReceiveAction->setEnabled(true);
    m_ui->KbdReceiveItem->setEnabled(true);
    m_ui->KbdPropertyItem->setEnabled(true);
}

void TPcLinkForm::UpdateMemoryGauge() {
    if (!m_gauge || !KbdDrv)
        return;
    const std::optional<SongMemory> memory = songMemoryOf(*KbdDrv);
    m_gauge->setMemory(memory);
    // The file selected locally, when it is a song or a rhythm: what it needs, and its room in
    // the keyboard slot selected below (a song replacing a song may use the old one's bytes).
    QTreeWidgetItem* node = m_ui->LocalDirView->currentItem();
    const int row = m_ui->LocalFileView->selectedRow();
    if (!memory || !node || row < 0) {
        m_gauge->clearNeed();
        return;
    }
    const QString path = GetNodePath(node) + m_ui->LocalFileView->itemText(row);
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
    const int kbdRow = m_ui->KbdFileView->selectedRow();
    const ZxData* target = kbdRow >= 0 ? m_kbd->KbdItemData(kbdRow) : nullptr;
    if (dynamic_cast<const ZxDataDrive*>(target))
        target = nullptr; // a folder, not a slot
    m_gauge->setNeed(item->size(), roomFor(*memory, item->kind(), target));
}

// ---- Back up ----

void TPcLinkForm::BackupKeyboardExecute() {
    if (m_busy)
        return;
    const QString parent = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Back Up Keyboard: Choose a Folder"), DefaultDir);
    if (!parent.isEmpty())
        BackupKeyboardTo(parent);
}

QString TPcLinkForm::BackupKeyboardTo(const QString& parent) {
    if (m_busy)
        return {};
    // One folder per backup, named so that they sort by time; a second backup within the same
    // second gets a number.
    const QString stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HHmmss"));
    QString dir = QDir(parent).filePath(QStringLiteral("Backup ") + stamp);
    for (int n = 2; QFileInfo::exists(dir); ++n)
        dir = QDir(parent).filePath(QStringLiteral("Backup %1 (%2)").arg(stamp).arg(n));

    QString made;
    RunKbdAction(0, [&] {
        std::vector<std::pair<QString, std::uint32_t>> items; // name, size in backup order
        const auto gather = [&] {
            if (!items.empty())
                return;
            for (const kbxops::SlotEntry& s : kbxops::slotsOf(KbdDrv->root()))
                if (s.node->isPresent())
                    items.emplace_back(itemName(s.node->name()), s.node->size());
        };
        JobProgress progress(
            ProgressBar,
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
            [this](const QString& text) { SetStatusText(text); });
        kbxops::Keyboard keyboard(*KbdDrv, KbdDevices(), &progress);
        const kbxops::BackupResult result = kbxops::backupKeyboard(keyboard, dir);
        made = result.directory;
        ShowKbdListed();
        if (!result.complete)
            ReportError(
                localText("The backup was cancelled. %1 of %2 items are in \"%3\"; its "
                          "manifest marks the backup as incomplete.",
                          "バックアップは中止されました。%2 件中 %1 件が \"%3\" にあります。"
                          "マニフェストには不完全なバックアップと記されています。")
                    .arg(result.files.size())
                    .arg(result.files.size() + static_cast<std::size_t>(result.notDone.size()))
                    .arg(result.directory));
    });
    if (!made.isEmpty()) {
        m_local->RefreshLocalFiles();
    }
    return made;
}

// ---- Restore ----

void TPcLinkForm::RestoreKeyboardExecute() {
    if (m_busy)
        return;
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Restore Keyboard: Choose a Backup"), DefaultDir,
        QStringLiteral("Backup manifest (manifest.json);;All files (*)"));
    if (!path.isEmpty())
        RestoreKeyboardFrom(path);
}

bool TPcLinkForm::RestoreKeyboardFrom(const QString& path) {
    if (m_busy)
        return false;
    const QFileInfo info(path);
    const QString dir = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    bool ran = false;
    RunKbdAction(0, [&] {
        PBarProgress listProgress(ProgressBar);
        kbxops::Keyboard lister(*KbdDrv, KbdDevices(), &listProgress);
        const kbxops::RestorePlan first = kbxops::planRestore(lister, dir);
        ShowKbdListed();

        TRestorePreviewForm form(this);
        form.setPlan(first);
        // Both list the keyboard again: the user may have changed it on its panel meanwhile.
        form.setReplanner([&](bool sendUnchanged) -> std::optional<kbxops::RestorePlan> {
            try {
                return kbxops::planRestore(lister, dir, sendUnchanged);
            } catch (...) {
                ReportError(QString::fromStdString(
                    describeException(*Messages, std::current_exception()).message));
                return std::nullopt;
            }
        });
        form.setComparer([&]() -> std::optional<std::vector<kbxops::SlotComparison>> {
            try {
                return kbxops::compareSides(kbxops::sideOfBackup(dir),
                                            kbxops::sideOfKeyboard(lister));
            } catch (...) {
                ReportError(QString::fromStdString(
                    describeException(*Messages, std::current_exception()).message));
                return std::nullopt;
            }
        });
        if (form.run() != QDialog::Accepted)
            return;
        const kbxops::RestorePlan plan = form.plan();
        ran = true;

        // The restore numbers its changes as the plan lists them: each slot's copy kept, delete,
        // send and read-back carry its number.
        std::vector<QString> names;
        std::uint32_t bytes = 0;
        for (const kbxops::PlannedChange& change : plan.changes) {
            const std::optional<kbxops::PlannedItem>& shown =
                change.backup ? change.backup : change.now;
            names.push_back(shown ? itemName(shown->name) : QString());
            if (change.now && Safety.keepHistory)
                bytes += change.now->size; // the copy kept
            if (change.backup)
                bytes += change.backup->size * (Safety.verifyRestore ? 2 : 1);
        }
        JobProgress progress(
            ProgressBar,
            [&](int index, int count) {
                const QString name =
                    index <= static_cast<int>(names.size()) ? names[index - 1] : QString();
                return localText("Restoring %1 of %2: %3", "復元中 %1 / %2: %3")
                    .arg(index)
                    .arg(count)
                    .arg(name);
            },
            [&] { return bytes; }, [this](const QString& text) { SetStatusText(text); });
        // Each change kept, recorded and read back as the preferences ask, like any send.
        kbxops::Keyboard keyboard = Keyboard(&progress);
        const kbxops::RestoreResult result = kbxops::applyRestorePlan(keyboard, plan, *Messages);
        ShowKbdListed();

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
            ReportError(lines.join(QLatin1Char('\n')));
    });
    return ran;
}
