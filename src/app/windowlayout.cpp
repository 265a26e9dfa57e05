// What the main window keeps from run to run beside the described settings: its size, place and
// state, the dividers, each list's view style, and whether it lists the keyboard at start. The
// window always comes up whole on the screen that shows it, whatever was stored or scaled.
#include "app/mainform.h"
#include "ui_mainform.h"

#include "app/devicechoicecontroller.h"
#include "app/filelistview.h"
#include "app/kbdpane.h"
#include "app/localpane.h"
#include "common/settings.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <algorithm>

// The preference ListAtStart is read before the described values (FormCreate), so that the
// preference dialog of a first start shows it; the layout comes once the panes exist.
void TPcLinkForm::LoadWindowSettings() {
    KbxSettings::WindowValues values;
    try {
        values = KbxSettings().loadWindow();
    } catch (...) {
        // The described values report a store that cannot be read; the layout starts afresh.
    }
    if (!values.geometry.isEmpty())
        restoreGeometry(values.geometry);
    if (!values.state.isEmpty())
        restoreState(values.state);
    if (!values.panelDivider.isEmpty())
        m_ui->PanelSplitter->restoreState(values.panelDivider);
    if (!values.localDivider.isEmpty())
        m_ui->LocalSplitter->restoreState(values.localDivider);
    if (!values.kbdDivider.isEmpty())
        m_ui->KbdSplitter->restoreState(values.kbdDivider);
    if (values.localViewStyle >= 0)
        m_local->SelectViewStyle(values.localViewStyle);
    if (values.kbdViewStyle >= 0)
        m_kbd->SelectViewStyle(values.kbdViewStyle);
    ClampToScreen();
}

void TPcLinkForm::SaveWindowSettings() {
    KbxSettings::WindowValues values;
    values.geometry = saveGeometry();
    values.state = saveState();
    values.panelDivider = m_ui->PanelSplitter->saveState();
    values.localDivider = m_ui->LocalSplitter->saveState();
    values.kbdDivider = m_ui->KbdSplitter->saveState();
    values.localViewStyle = m_ui->LocalFileView->viewStyle();
    values.kbdViewStyle = m_ui->KbdFileView->viewStyle();
    values.listAtStart = m_devices->listAtStart();
    values.localFolder = m_local->ShownFolder();
    try {
        KbxSettings().saveWindow(values);
    } catch (...) {
        // A store that cannot be written is reported once, by the described values.
    }
}

void TPcLinkForm::ClampToScreen() {
    if (isMaximized() || isFullScreen())
        return;
    QScreen* screen = this->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();

    // The window system's frame: known once the window is shown, estimated before (and on
    // systems that draw none, where the estimate costs a few pixels only when space is short).
    const QRect inner = geometry();
    const QRect outerNow = frameGeometry();
    QMargins frame(inner.left() - outerNow.left(), inner.top() - outerNow.top(),
                   outerNow.right() - inner.right(), outerNow.bottom() - inner.bottom());
    if (frame.isNull()) {
        const int border = 4;
        frame = QMargins(border, style()->pixelMetric(QStyle::PM_TitleBarHeight) + border, border,
                         border);
    }
    const QSize room = available.size().shrunkBy(frame);
    const QSize size = this->size().boundedTo(room).expandedTo(minimumSizeHint().boundedTo(room));
    if (size != this->size())
        resize(size);

    // move() places the frame.
    const QSize outer = size.grownBy(frame);
    QPoint at = outerNow.topLeft();
    at.setX(std::clamp(at.x(), available.left(),
                       std::max(available.left(), available.right() + 1 - outer.width())));
    at.setY(std::clamp(at.y(), available.top(),
                       std::max(available.top(), available.bottom() + 1 - outer.height())));
    if (at != outerNow.topLeft())
        move(at);
}
