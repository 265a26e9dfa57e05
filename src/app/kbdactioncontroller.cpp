#include "app/kbdactioncontroller.h"
#include "ui_mainform.h"

#include "app/confirm.h"
#include "app/devicechoicecontroller.h"
#include "app/dialogs/slotnames.h"
#include "app/elidinglabel.h"
#include "app/errorreporter.h"
#include "app/filelistview.h"
#include "app/kbdpane.h"
#include "app/localpane.h"
#include "app/mainform.h"
#include "app/progressobservers.h"
#include "data/zxdata.h"
#include "drive/zxkbddrv.h"
#include "ops/cancel.h"
#include "ops/datafile.h"
#include "ops/undo.h"

#include <QActionGroup>
#include <QApplication>
#include <QFileInfo>
#include <QProgressBar>
#include <QStatusBar>
#include <QStringList>
#include <QToolButton>
#include <QTreeWidget>
#include <utility>

namespace kbxapp {

KbdActionController::KbdActionController(TPcLinkForm& form, Ui::TPcLinkForm& ui)
    : QObject(&form)
    , m_form(form)
    , m_ui(ui) {
    QStatusBar* bar = ui.StatusBar;
    m_statusLabel = new ElidingLabel(bar);
    m_statusLabel->setObjectName(QStringLiteral("StatusText"));
    m_statusLabel->setFixedWidth(265);
    m_statusLabel->setFrameShape(QFrame::StyledPanel);
    m_statusLabel->setFrameShadow(QFrame::Sunken);
    m_progressBar = new QProgressBar(bar);
    m_progressBar->setObjectName(QStringLiteral("ProgressBar"));
    m_progressBar->setRange(0, 100);
    m_progressBar->setValue(0);
    m_progressBar->setTextVisible(false);
    bar->addWidget(m_statusLabel, 0);
    // The item a keyboard action works on, beside its status text; once the action has ended,
    // the line that says how it ended, until the next action.
    m_statusItem = new ElidingLabel(bar);
    m_statusItem->setObjectName(QStringLiteral("StatusItem"));
    m_statusItem->setVisible(false);
    bar->addWidget(m_statusItem, 0);
    bar->addWidget(m_progressBar, 1);

    // Esc reaches the action from anywhere in the window; both are offered only while busy.
    m_cancelAction = new QAction(TPcLinkForm::tr("Cancel"), &form);
    m_cancelAction->setObjectName(QStringLiteral("CancelAction"));
    m_cancelAction->setShortcut(QKeySequence(Qt::Key_Escape));
    m_cancelAction->setShortcutContext(Qt::WindowShortcut);
    m_cancelAction->setEnabled(false);
    form.addAction(m_cancelAction);
    connect(m_cancelAction, &QAction::triggered, &form, &TPcLinkForm::CancelActionExecute);
    m_undoOlderAction = new QAction(
        QCoreApplication::translate("KbdActionController", "Undo &Older Change"), &form);
    m_undoOlderAction->setObjectName(QStringLiteral("UndoOlderAction"));
    m_undoOlderAction->setEnabled(false);
    connect(m_undoOlderAction, &QAction::triggered, this, [this] { undo(true); });
    m_cancelBtn = new QToolButton(bar);
    m_cancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    m_cancelBtn->setDefaultAction(m_cancelAction);
    m_cancelBtn->setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_cancelBtn->setVisible(false);
    bar->addWidget(m_cancelBtn, 0);
}

void KbdActionController::setBusyGate(const QList<QAction*>& actions) {
    m_busyGate = new QActionGroup(&m_form);
    m_busyGate->setObjectName(QStringLiteral("BusyGate"));
    m_busyGate->setExclusionPolicy(QActionGroup::ExclusionPolicy::None);
    for (QAction* action : actions)
        m_busyGate->addAction(action);
}

// ---- Status line ----

QString KbdActionController::statusText() const {
    return m_statusLabel->text();
}

void KbdActionController::setStatusText(const QString& text) {
    m_statusLabel->setText(text);
    m_statusLabel->repaint();
}

QString KbdActionController::statusItem() const {
    return m_statusItem->text();
}

void KbdActionController::showActionItem(const QString& item) {
    m_statusItem->setText(item);
    m_statusItem->setVisible(!item.isEmpty());
    m_statusItem->repaint();
}

void KbdActionController::setDoneLine(const QString& line) {
    m_doneLine = line;
}

bool KbdActionController::confirmChange(const QString& question, const QString& yesText) {
    KbxSettings::Safety safety = m_form.deviceChoice().safety();
    // Without the history nothing can be brought back: the question is asked every time.
    if (safety.keepHistory && !safety.askBeforeChange)
        return true;
    Confirmer::Question q;
    q.text = question;
    q.yesText = yesText;
    q.offerDontAsk = safety.keepHistory;
    q.informative = safety.keepHistory
                        ? localText("A copy is kept in the history: Edit > Undo brings it back.",
                                    "コピーを履歴に残します。[編集] > [元に戻す] で戻せます。")
                        : localText("No copy will be kept: this cannot be undone.",
                                    "コピーは残りません。元に戻せません。");
    // The question is no part of the wait: the pointer is the usual one while it is asked.
    QApplication::restoreOverrideCursor();
    const Confirmer::Answer answer = Confirmer::instance().ask(&m_form, q);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    if (answer.dontAskAgain)
        m_form.deviceChoice().setAskBeforeChange(false);
    return answer.yes;
}

// ---- The busy frame ----

namespace {

bool hasNote(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const NotedException&) {
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace

void KbdActionController::run(int status, const std::function<void()>& body) {
    if (m_busy)
        return;
    m_busy = true;
    m_failureContext = {};
    m_doneLine.clear();
    showActionItem(QString());
    // A disabled group disables its actions; enabled again, each gets back the state it was
    // last given, also when the action itself changed it meanwhile (a list enables Send). The
    // bar's text appears with the first step that has a size (PBarProgress): a delete has none
    // to show.
    m_busyGate->setEnabled(false);
    m_form.UpdateUndoAction();
    m_progressBar->setValue(0);
    setStatusText(QString::fromStdString(m_form.messages().GetStatusMsg(status)));

    kbxops::Cancellation cancellation;
    m_cancellation = &cancellation;
    m_cancelAction->setEnabled(true);
    m_cancelBtn->setVisible(true);
    std::exception_ptr failure;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    try {
        const kbxops::CancelScope scope(cancellation);
        body();
    } catch (const ZxCancelledException&) {
        // Never shown as done; but a window that is closing has been told enough.
        if (!m_form.isClosePending())
            failure = std::current_exception();
    } catch (...) {
        failure = std::current_exception();
    }
    // The devices are free for the next action, and for other programs.
    m_form.deviceChoice().endAction();
    QApplication::restoreOverrideCursor();
    m_cancellation = nullptr;
    m_cancelAction->setEnabled(false);
    m_cancelBtn->setVisible(false);
    m_progressBar->setTextVisible(false);
    m_busyGate->setEnabled(true);
    if (failure && kbxops::isCancel(failure) && !hasNote(failure)) {
        // The user's own stop is news, not an error: it goes to the line. A stop with a note
        // (a song put back, or kept in the history only) still gets its box: it must be read.
        m_doneLine = QString::fromStdString(describeException(m_form.messages(), failure).message);
    } else if (failure) {
        reportFailure(failure);
    }

    setStatusText(QString());
    showActionItem(std::exchange(m_doneLine, QString()));
    m_progressBar->setValue(0);
    m_form.UpdateMemoryGauge();
    m_busy = false;
    m_form.UpdateUndoAction();
    m_form.CloseIfPending();
}

void KbdActionController::listAtStart() {
    m_failureToStatus = true;
    list();
    m_failureToStatus = false;
}

void KbdActionController::cancel() {
    if (!m_cancellation)
        return;
    m_cancellation->cancel();
    // Asked once; the action reports its end in the error box.
    m_cancelAction->setEnabled(false);
}

void KbdActionController::reportFailure(std::exception_ptr error) {
    MsgStr& messages = m_form.messages();
    const QString text = QString::fromStdString(describeException(messages, error).message);
    if (m_failureToStatus) {
        m_doneLine = messages.text("No list at start: %1", "起動時に一覧を取得できませんでした: %1")
                         .arg(text);
        return;
    }
    m_doneLine = messages.text("Failed: %1", "失敗しました: %1").arg(text);
    // Free song memory as the keyboard's song folder last reported it: asking the keyboard
    // again would start another exchange from an error.
    ZxKbdDrv& drive = m_form.kbdDrv();
    for (int i = 0; i < drive.folderCount(); ++i) {
        const ZxDataDrive* folder = drive.folderByName(drive.folderName(i));
        if (folder && folder->kind() == ZxKind::Song && drive.isListed())
            m_failureContext.freeSongMemory = static_cast<std::uint32_t>(folder->freeSpace());
    }
    m_form.ReportError(text, informativeLine(messages, error, m_failureContext));
}

// ---- The keyboard ----

kbxops::Keyboard KbdActionController::keyboard(kbxops::Progress* progress) {
    return kbxops::Keyboard(
        m_form.kbdDrv(), m_form.KbdPorts(), progress,
        kbxops::safetyFromPreferences(m_form.deviceChoice().safety(), &m_form.history()));
}

kbxops::Keyboard KbdActionController::plainKeyboard(kbxops::Progress* progress) {
    return kbxops::Keyboard(m_form.kbdDrv(), m_form.KbdPorts(), progress);
}

// The use cases that take a slot, each called from one place: they take the slot's node today.
namespace {

// The kind of a data file; none when it cannot be read as one.
std::optional<std::uint16_t> fileKind(const QString& path) {
    try {
        if (QFileInfo(path).isFile())
            return kbxops::readDataFile(path)->kind();
    } catch (...) {
        // The send reads it again and reports what is wrong with it.
    }
    return std::nullopt;
}

// The row of the keyboard list that shows the item sent.
int sendFileTo(kbxops::Keyboard& keyboard, const QString& path, const SlotChoice& slot) {
    return keyboard.sendFile(path, *slot.node)->number();
}

kbxops::ImportedFile importFrom(kbxops::Keyboard& keyboard, const SlotChoice& slot,
                                const QString& folder) {
    return keyboard.importSlot(*slot.node, folder);
}

void removeFrom(kbxops::Keyboard& keyboard, const SlotChoice& slot) {
    keyboard.remove(*slot.node);
}

} // namespace

void KbdActionController::list() {
    run(StatusList, [this] { readList(); });
}

void KbdActionController::readList() {
    PBarProgress progress(m_progressBar);
    keyboard(&progress).list();
    showListed(true);
    setDoneLine(m_form.messages().text("Keyboard listed.", "キーボードの一覧を読み込みました。"));
}

void KbdActionController::showListed(bool keepPlace) {
    if (keepPlace)
        m_form.kbdPane().SetupKbdDirViewKeepingPlace();
    else
        m_form.kbdPane().SetupKbdDirView();
    m_form.OfferTransfers();
}

void KbdActionController::sendSelectedFile() {
    QTreeWidgetItem* localNode = m_ui.LocalDirView->currentItem();
    const int localRow = m_ui.LocalFileView->selectedRow();
    if (!localNode || localRow < 0)
        throw OperateException(OperateException::NoSendSource);
    const SlotChoice slot = selectedSlot(m_form.kbdPane(), OperateException::NoSendTarget,
                                         OperateException::NotAcceptable);
    QTreeWidgetItem* kbdNode = m_ui.KbdDirView->currentItem();
    const QString fileName = m_ui.LocalFileView->itemText(localRow);
    m_failureContext.sourceFile = m_form.GetNodePath(localNode) + fileName;
    m_failureContext.slot = slot.node;
    // A song or rhythm is the only copy there is; the other kinds always hold something. A file
    // the slot would refuse anyway is not asked about: the send says why it cannot go.
    const std::uint16_t kind = slot.node->kind();
    if (slot.node->isPresent() && (kind == ZxKind::Song || kind == ZxKind::Rhythm) &&
        fileKind(m_failureContext.sourceFile) == kind &&
        !confirmChange(m_form.messages()
                           .text("Replace %1 on the keyboard with %2?",
                                 "キーボードの %1 を %2 で置き換えますか?")
                           .arg(itemInSlot(*slot.node), fileName),
                       QCoreApplication::translate("KbdActionController", "&Replace"))) {
        setDoneLine(m_form.messages().text("Not sent: nothing was changed.",
                                           "送信していません。変更はありません。"));
        return;
    }
    const QString slotName = slotTitle(*slot.node);
    showActionItem(fileName);

    PBarProgress progress(m_progressBar);
    // By the slot, not by its path: names repeat within a folder (blank tones).
    kbxops::Keyboard kbd = keyboard(&progress);
    const int row = sendFileTo(kbd, m_failureContext.sourceFile, slot);
    setDoneLine(m_form.messages()
                    .text("Sent %1 to %2.", "%1 を %2 に送信しました。")
                    .arg(fileName, slotName));

    // The user may have moved in the keyboard tree while the data travelled.
    QTreeWidgetItem* now = m_ui.KbdDirView->currentItem();
    m_form.kbdPane().ListKbdFiles(now);
    if (now == kbdNode) {
        m_ui.KbdFileView->setSelectedRow(row);
        m_ui.KbdFileView->setFocus();
    }
}

void KbdActionController::importSelectedSlot() {
    const SlotChoice slot = selectedSlot(m_form.kbdPane(), OperateException::NoImportSource,
                                         OperateException::NoImportSource);
    QTreeWidgetItem* localNode = m_ui.LocalDirView->currentItem();
    if (!localNode)
        throw OperateException(OperateException::NoImportTarget);
    // Local tree items can be replaced during the transfer; keep the folder by its path.
    const QString folder = m_form.GetNodePath(localNode);
    m_failureContext.slot = slot.node;
    const QString what = itemInSlot(*slot.node);
    showActionItem(m_form.kbdPane().SelectedItemText());

    PBarProgress progress(m_progressBar);
    kbxops::Keyboard kbd = keyboard(&progress);
    const kbxops::ImportedFile imported = importFrom(kbd, slot, folder);
    const QString& fileName = imported.fileName;
    QString line = m_form.messages()
                       .text("Imported %1 as %2.", "%1 を %2 として取り込みました。")
                       .arg(what, fileName);
    if (!imported.trashed.isEmpty())
        line += QLatin1Char(' ') + m_form.messages()
                                       .text("The earlier %1 was moved to the trash.",
                                             "以前の %1 はごみ箱に移しました。")
                                       .arg(fileName);
    setDoneLine(line);

    QTreeWidgetItem* now = m_ui.LocalDirView->currentItem();
    if (!now || m_form.GetNodePath(now) != folder)
        return; // the user has opened another folder meanwhile
    m_form.localPane().ListLocalFiles(now);
    m_form.localPane().SelectItem(fileName);
    m_ui.LocalFileView->setFocus();
}

void KbdActionController::deleteSelectedSlot() {
    const SlotChoice slot = selectedSlot(m_form.kbdPane(), OperateException::NoDeleteTarget,
                                         OperateException::NoDeleteTarget);
    if (!m_form.kbdDrv().isListed())
        throw OperateException(OperateException::ListFirst);
    m_failureContext.slot = slot.node;
    const QString what = itemInSlot(*slot.node);
    if (!confirmChange(
            m_form.messages()
                .text("Delete %1 from the keyboard?", "キーボードから %1 を削除しますか?")
                .arg(what),
            QCoreApplication::translate("KbdActionController", "&Delete"))) {
        setDoneLine(m_form.messages().text("Not deleted: nothing was changed.",
                                           "削除していません。変更はありません。"));
        return;
    }
    showActionItem(m_form.kbdPane().SelectedItemText());
    PBarProgress progress(m_progressBar);
    kbxops::Keyboard kbd = keyboard(&progress);
    removeFrom(kbd, slot);
    m_form.kbdPane().RelistKeepingSelection();
    setDoneLine(m_form.messages().text("Deleted %1.", "%1 を削除しました。").arg(what));
}

// ---- Undo ----

void KbdActionController::updateUndoAction() {
    std::optional<kbxops::HistoryEntry> target;
    std::optional<kbxops::HistoryEntry> older;
    if (!m_busy) {
        try {
            target = kbxops::undoTarget(m_form.history());
            older = kbxops::undoTarget(m_form.history(), true);
        } catch (...) {
            // A history that cannot be read has nothing to undo; the next change says why.
        }
    }
    m_ui.UndoAction->setEnabled(target.has_value());
    m_ui.UndoAction->setText(target ? QStringLiteral("&") + kbxops::undoText(*target)
                                    : TPcLinkForm::tr("&Undo"));
    // Only where Undo stops at a change it cannot revert.
    const bool past = older && (!target || target->id != older->id);
    m_undoOlderAction->setEnabled(past);
    m_undoOlderAction->setStatusTip(past ? kbxops::undoText(*older) : QString());
}

void KbdActionController::undo(bool goPast) {
    if (m_busy)
        return;
    std::optional<kbxops::HistoryEntry> target;
    try {
        target = kbxops::undoTarget(m_form.history(), goPast);
    } catch (...) {
        m_form.ReportError(QString::fromStdString(
            describeException(m_form.messages(), std::current_exception()).message));
    }
    if (!target) {
        m_form.UpdateUndoAction();
        return;
    }
    run(target->before ? StatusSend : StatusDelete, [this, target, goPast] {
        undoLastChange(goPast);
        setDoneLine(m_form.messages()
                        .text("Done: %1.", "完了しました: %1。")
                        .arg(kbxops::undoText(*target)));
    });
}

void KbdActionController::undoLastChange(bool goPast) {
    // The slot is found in the listed drive, and what it holds now is kept before it goes.
    if (!m_form.kbdDrv().isListed())
        readList();
    PBarProgress progress(m_progressBar);
    kbxops::Keyboard kbd = keyboard(&progress);
    kbxops::UndoReport report;
    kbxops::undoLast(kbd, m_form.history(), goPast, &report);
    m_form.kbdPane().RelistKeepingSelection();
    // A change of many slots: the slots it could not revert are named, the rest are reverted.
    if (!report.skipped.empty()) {
        QStringList lines{m_form.messages()
                              .text("%1 of %2 slots reverted; skipped:",
                                    "%2 個中 %1 個のスロットを元に戻しました。スキップ:")
                              .arg(report.reverted.size())
                              .arg(report.reverted.size() + report.skipped.size())};
        for (const auto& [entry, why] : report.skipped)
            lines << QStringLiteral("%1: %2").arg(kbxops::slotTitle(entry.slot), why);
        m_form.ReportError(lines.join(QLatin1Char('\n')));
    }
}

} // namespace kbxapp
