// The property dialogs the main window opens: the data property dialog of the focused list, the
// drive property dialog. None opens while a keyboard action runs.
#include "app/mainform.h"
#include "ui_mainform.h"

#include "app/dialogs/kbddrvpropform.h"
#include "app/dialogs/propform.h"
#include "app/errordetails.h"
#include "app/filelistview.h"
#include "app/kbdpane.h"
#include "app/localpane.h"
#include "data/zxdata.h"
#include "files/kbxnames.h"
#include "ops/datafile.h"

#include <QTreeWidget>

FileListView* TPcLinkForm::FocusedList() const {
    // The window's own focus child: it stays on the list while a pop-up menu is open, and
    // while the window waits to be activated again after a dialog.
    for (QWidget* widget = focusWidget(); widget; widget = widget->parentWidget()) {
        if (widget == m_ui->LocalFileView || widget == m_ui->KbdFileView)
            return static_cast<FileListView*>(widget);
    }
    return nullptr;
}

void TPcLinkForm::PropOpenExecute() {
    // A keyboard action may replace the slots and relist either list while it waits.
    if (isBusy())
        return;
    FileListView* list = FocusedList();
    const int row = list ? list->selectedRow() : -1;
    if (row < 0)
        return;
    const bool local = list == m_ui->LocalFileView;
    QTreeWidgetItem* node = (local ? m_ui->LocalDirView : m_ui->KbdDirView)->currentItem();
    if (!node)
        return;
    const QString text = list->itemText(row);
    const QString folder = GetNodePath(node);
    const QString path = folder + text;

    // A data file is read once per listing: the item stays with the list item. Held shared, so
    // that a relisting while the dialog is open (activation) cannot free it under the dialog.
    std::shared_ptr<ZxDataFile> file;
    const ZxData* data = nullptr;
    if (local) {
        try {
            file = m_local->ItemDataFile(row);
        } catch (...) {
            kbxapp::FailureContext context;
            context.sourceFile = path;
            ReportError(QString::fromStdString(
                            describeException(*m_messages, std::current_exception()).message),
                        kbxapp::informativeLine(*m_messages, std::current_exception(), context));
            return;
        }
        data = file.get();
    } else {
        data = m_kbd->KbdItemData(row);
    }

    TZxDataPropertyForm form(this);
    form.SetIcon(list->itemIcon(row));
    form.SetFileName(text);
    form.SetLocation(folder);
    form.SetNameEditable(local);
    if (data) {
        form.SetDataKind(data->kind());
        form.SetDataSize(data->size());
        form.SetDataName(kbxnames::keyboardText(data->name()));
    }
    if (!form.Execute() || !local || !file)
        return;
    try {
        // Written atomically: a failure leaves the file, and the item, with the old name.
        kbxops::renameDataFile(path, *file, form.GetDataName());
    } catch (...) {
        ReportError(QString::fromStdString(
            describeException(*m_messages, std::current_exception()).message));
    }
}

void TPcLinkForm::KbdDrvPropOpenExecute() {
    if (isBusy())
        return;
    QTreeWidgetItem* node = m_ui->KbdDirView->currentItem();
    // The root carries no folder.
    const auto* folder = dynamic_cast<const ZxDataDrive*>(KbdPane::KbdNodeData(node));
    if (!folder)
        return;
    TKbdDrivePropertyForm form(this);
    form.SetIcon(node->icon(0));
    form.SetDriveName(kbxnames::keyboardText(folder->name()));
    form.SetUsedSpace(folder->usedSpace());
    form.SetFreeSpace(folder->freeSpace());
    form.SetCapacity(folder->capacity());
    form.exec();
}
