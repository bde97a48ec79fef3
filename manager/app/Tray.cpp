// The notification-area icon, its tooltip and blinking, and the tray menu.
#include "ManagerWindow.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "Texts.h"
#include "resource.h"

namespace {

// The first record layout the shell knew, which every version accepts:
// 88 bytes on 32-bit Windows.
const DWORD TrayRecordSize = offsetof(NOTIFYICONDATAA, szTip) + 64;
#if !defined(_WIN64)
static_assert(TrayRecordSize == 88, "first notification icon record layout");
#endif

}  // namespace

void ManagerWindow::addTrayIcon()
{
    ZeroMemory(&trayData_, sizeof trayData_);
    trayData_.cbSize = TrayRecordSize;
    trayData_.hWnd = handle_;
    trayData_.uID = 0;
    trayData_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    trayData_.uCallbackMessage = TrayCallbackMessage;
    trayData_.hIcon = trayIcons_[0];
    lstrcpynA(trayData_.szTip, caption_, 64);
    Shell_NotifyIconA(NIM_ADD, &trayData_);
    // Kept even when the shell was not there yet: the next update adds it.
    trayAdded_ = true;
}

void ManagerWindow::updateTray()
{
    if (!trayAdded_)
        return;
    // What the shell took is remembered; after a refusal (no shell yet)
    // the next refresh asks again.
    if (Shell_NotifyIconA(NIM_MODIFY, &trayData_) || Shell_NotifyIconA(NIM_ADD, &trayData_)) {
        trayShownIcon_ = trayData_.hIcon;
        lstrcpynA(trayShownTip_, trayData_.szTip, sizeof trayShownTip_);
    } else {
        trayShownIcon_ = nullptr;
    }
}

void ManagerWindow::refreshTray(bool started)
{
    if (started) {
        int n = blinkCounter_++;
        StackSnapshot shot = stack_.snapshot();
        int index = 2 * (shot.mysql == Running) + (shot.apache == Running);
        trayData_.hIcon = (n % 2) ? trayIcons_[0] : trayIcons_[index];
    } else {
        trayData_.hIcon = trayIcons_[0];
    }
    char state[MaxTextLength + 1];
    CopyText(state, sizeof state, started ? IDS_STATE_STARTED : IDS_STATE_STOPPED);
    snprintf(trayData_.szTip, 64, "%s (%s)", caption_, state);
    // The shell is asked only for a change.
    if (trayData_.hIcon != trayShownIcon_ || strcmp(trayData_.szTip, trayShownTip_) != 0)
        updateTray();
}

// The item that opens the submenu holding command id; -1 when none does.
static int SubmenuHolding(HMENU menu, UINT id)
{
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        HMENU sub = GetSubMenu(menu, i);
        if (sub && GetMenuState(sub, id, MF_BYCOMMAND) != static_cast<UINT>(-1))
            return i;
    }
    return -1;
}

void ManagerWindow::showTrayMenu()
{
    HMENU bar = LoadMenuA(AppInstance(), MAKEINTRESOURCEA(IDR_TRAY_MENU));
    HMENU menu = bar ? GetSubMenu(bar, 0) : nullptr;
    if (!menu) {
        if (bar)
            DestroyMenu(bar);
        return;
    }
    StackSnapshot shot = stack_.snapshot();
    POINT cursor = {0, 0};
    GetCursorPos(&cursor);

    UINT label = shot.started ? IDS_MENU_STOP : IDS_MENU_START;
    if (!shot.settled)
        label = IDS_STATE_PENDING;
    char text[MaxTextLength + 1];
    CopyText(text, sizeof text, label);
    ModifyMenuA(menu, ID_CMD_TOGGLE, MF_BYCOMMAND | MF_STRING, ID_CMD_TOGGLE, text);
    SetMenuDefaultItem(menu, ID_CMD_TOGGLE, FALSE);

    // Outside expert mode the configuration submenu (the one with Apache's
    // configuration file) gives way to one item that shows the window.
    int configuration = settings_.ExpertMode ? -1 : SubmenuHolding(menu, ID_CMD_EDIT_APACHE_CONF);
    if (configuration >= 0) {
        DeleteMenu(menu, configuration, MF_BYPOSITION);
        CopyText(text, sizeof text, IDS_MENU_CONFIGURATION);
        InsertMenuA(menu, configuration, MF_BYPOSITION | MF_STRING, ID_CMD_SHOW_WINDOW, text);
    }
    greyMenu(menu);

    SetForegroundWindow(handle_);
    enterPrompt();
    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_LEFTBUTTON, cursor.x, cursor.y, 0, handle_, nullptr);
    PostMessageA(handle_, WM_NULL, 0, 0);
    DestroyMenu(bar);
    leavePrompt();
}
