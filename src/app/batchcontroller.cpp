#include "app/batchcontroller.h"
#include "ui_mainform.h"

#include "app/filelistview.h"
#include "app/kbdactioncontroller.h"
#include "app/kbdpane.h"
#include "app/localpane.h"
#include "app/mainform.h"
#include "common/msgstr.h"
#include "data/zxdata.h"
#include "data/zxkinds.h"
#include "drive/zxkbddrv.h"
#include "ops/batch.h"
#include "ops/datafile.h"
#include "ops/progress.h"
#include "ops/slotref.h"

#include <QCoreApplication>
#include <QProgressBar>
#include <QStringList>
#include <QTreeWidget>
#include <algorithm>
#include <functional>
#include <optional>
#include <vector>

namespace kbxapp {

namespace {

// One bar over the whole job: each item owns an equal share of it, filled by its steps (a kept
// copy, the transfer, a read-back) without ever going back; the status line names the item.
class ItemsProgress : public kbxops::Progress {
public:
    static constexpr int kShare = 1000;

    ItemsProgress(QProgressBar* bar, int count, std::function<void(int index)> itemBegins)
        : m_bar(bar)
        , m_itemBegins(std::move(itemBegins)) {
        m_bar->setTextVisible(true);
        m_bar->setRange(0, std::max(1, count) * kShare);
        m_bar->setValue(0);
    }

    void begin(const kbxops::Step& step) override {
        m_step = step;
        if (step.index <= 0)
            return; // the list before the job: the bar stays at its start
        if (step.index != m_index) {
            m_index = step.index;
            m_itemBegins(step.index);
        }
        show(0);
    }
    void advanceTo(std::uint32_t done) override { show(done); }
    // A step without a size (a delete) counts once it is over.
    void end() override {
        if (m_step.total == 0 && m_step.index > 0)
            show(1, 1);
    }

private:
    void show(std::uint32_t done, std::uint32_t total) {
        m_step.total = total;
        show(done);
    }
    void show(std::uint32_t done) {
        if (m_index <= 0)
            return;
        const int within = m_step.total ? static_cast<int>(std::min<std::uint64_t>(
                                              kShare, std::uint64_t(done) * kShare / m_step.total))
                                        : 0;
        const int value = (m_index - 1) * kShare + within;
        if (value > m_bar->value()) {
            m_bar->setValue(value);
            m_bar->repaint();
        }
    }

    QProgressBar* m_bar;
    std::function<void(int)> m_itemBegins;
    kbxops::Step m_step;
    int m_index = 0;
};

QString statusFor(kbxops::BatchKind kind) {
    switch (kind) {
    case kbxops::BatchKind::Send:
        return localText("Sending %1 of %2: %3", "送信中 %1 / %2: %3");
    case kbxops::BatchKind::Import:
        return localText("Receiving %1 of %2: %3", "受信中 %1 / %2: %3");
    case kbxops::BatchKind::Delete:
        return localText("Deleting %1 of %2: %3", "削除中 %1 / %2: %3");
    }
    return {};
}

} // namespace

BatchController::BatchController(TPcLinkForm& form, Ui::TPcLinkForm& ui,
                                 KbdActionController& actions)
    : QObject(&form)
    , m_form(form)
    , m_ui(ui)
    , m_actions(actions) {}

bool BatchController::askOnce(const QString& question, const QString& yesText) {
    // The window's confirmation, asked once for the whole job.
    return m_actions.confirmChange(question, yesText);
}

void BatchController::showSummary(const kbxops::BatchResult& result) {
    const QString summary = kbxops::batchSummary(result);
    if (result.failed.empty())
        m_actions.setDoneStatus(summary);
    else
        m_form.ReportError(summary);
}

namespace {

// The keyboard list's selected slots (folder entries left out), with their names as listed.
struct SelectedSlots {
    std::vector<kbxops::SlotAddress> addresses;
    QStringList names;
};

SelectedSlots selectedSlots(const KbdPane& pane, const FileListView& list) {
    SelectedSlots picked;
    for (int row : list.selectedRows()) {
        const ZxData* node = pane.KbdItemData(row);
        if (!node || (node->attributes() & ZxAttr::Directory))
            continue;
        picked.addresses.push_back(kbxops::addressOf(*node));
        picked.names << list.itemText(row).trimmed();
    }
    return picked;
}

} // namespace

bool BatchController::sendSelection() {
    FileListView& local = *m_ui.LocalFileView;
    QTreeWidgetItem* folder = m_ui.LocalDirView->currentItem();
    if (!folder || local.selectedRows().size() < 2)
        return false;
    const QString dir = m_form.GetNodePath(folder);
    QStringList paths, names;
    for (int row : local.selectedRows()) {
        if (m_form.localPane().IsFolderItem(row))
            continue;
        names << local.itemText(row);
        paths << dir + local.itemText(row);
    }
    if (paths.size() < 2)
        return false;
    // From the slot selected below on; a send into slots that hold items replaces them.
    std::optional<kbxops::SlotAddress> start;
    if (const ZxData* node = m_form.kbdPane().KbdItemData(m_ui.KbdFileView->selectedRow());
        node && !(node->attributes() & ZxAttr::Directory))
        start = kbxops::addressOf(*node);
    // Songs and rhythms go into empty slots only; the other kinds replace what their slots hold,
    // and only that is asked about. A file that cannot be read fails in the job, not here.
    const bool replaces = std::any_of(paths.begin(), paths.end(), [](const QString& path) {
        try {
            return !ZxKind::isDeletable(kbxops::readDataFile(path)->kind());
        } catch (...) {
            return false;
        }
    });
    if (replaces &&
        !askOnce(localText("Send %1 files to the keyboard? Items in the slots they go to are "
                           "replaced.",
                           "%1 個のファイルをキーボードに送信しますか? 送信先のスロットのデータは"
                           "置き換えられます。")
                     .arg(paths.size()),
                 QCoreApplication::translate("KbdActionController", "&Send")))
        return true;
    m_actions.run(KbdActionController::StatusSend, [&] {
        ItemsProgress progress(m_actions.progressBar(), static_cast<int>(paths.size()),
                               [&](int index) {
                                   m_actions.setStatusText(statusFor(kbxops::BatchKind::Send)
                                                               .arg(index)
                                                               .arg(paths.size())
                                                               .arg(names.value(index - 1)));
                               });
        kbxops::Keyboard keyboard = m_actions.keyboard(&progress);
        const kbxops::BatchResult result = kbxops::sendFiles(keyboard, paths, start);
        m_form.kbdPane().RelistKeepingSelection();
        showSummary(result);
    });
    return true;
}

bool BatchController::importSelection() {
    if (m_ui.KbdFileView->selectedRows().size() < 2)
        return false;
    const SelectedSlots picked = selectedSlots(m_form.kbdPane(), *m_ui.KbdFileView);
    QTreeWidgetItem* folder = m_ui.LocalDirView->currentItem();
    if (picked.addresses.size() < 2 || !folder)
        return false;
    // Kept by its path: the local tree's items can be replaced while the job runs.
    const QString dir = m_form.GetNodePath(folder);
    m_actions.run(KbdActionController::StatusImport, [&] {
        const int count = static_cast<int>(picked.addresses.size());
        ItemsProgress progress(m_actions.progressBar(), count, [&](int index) {
            m_actions.setStatusText(statusFor(kbxops::BatchKind::Import)
                                        .arg(index)
                                        .arg(count)
                                        .arg(picked.names.value(index - 1)));
        });
        kbxops::Keyboard keyboard = m_actions.keyboard(&progress);
        const kbxops::BatchResult result = kbxops::importSlots(keyboard, picked.addresses, dir);
        QTreeWidgetItem* now = m_ui.LocalDirView->currentItem();
        if (now && m_form.GetNodePath(now) == dir) {
            m_form.localPane().ListLocalFiles(now);
            if (!result.imported.empty())
                m_form.localPane().SelectItem(result.imported.back().fileName);
        }
        showSummary(result);
    });
    return true;
}

bool BatchController::deleteSelection() {
    if (m_ui.KbdFileView->selectedRows().size() < 2)
        return false;
    const SelectedSlots picked = selectedSlots(m_form.kbdPane(), *m_ui.KbdFileView);
    if (picked.addresses.size() < 2)
        return false;
    if (!askOnce(localText("Delete %1 items from the keyboard?",
                           "%1 個のデータをキーボードから削除しますか?")
                     .arg(picked.addresses.size()),
                 QCoreApplication::translate("KbdActionController", "&Delete")))
        return true;
    m_actions.run(KbdActionController::StatusDelete, [&] {
        if (!m_form.kbdDrv().isListed())
            throw OperateException(OperateException::ListFirst);
        const int count = static_cast<int>(picked.addresses.size());
        ItemsProgress progress(m_actions.progressBar(), count, [&](int index) {
            m_actions.setStatusText(statusFor(kbxops::BatchKind::Delete)
                                        .arg(index)
                                        .arg(count)
                                        .arg(picked.names.value(index - 1)));
        });
        kbxops::Keyboard keyboard = m_actions.keyboard(&progress);
        const kbxops::BatchResult result = kbxops::removeSlots(keyboard, picked.addresses);
        m_form.kbdPane().RelistKeepingSelection();
        showSummary(result);
    });
    return true;
}

} // namespace kbxapp
