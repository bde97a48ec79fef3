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
const DWORD trayRecordSize = offsetof(NOTIFYICONDATAA, szTip) + 64;
#if !defined(_WIN64)
static_assert(trayRecordSize == 88, "first notification icon record layout");
#endif

// Advanced on every status tick while the stack counts as started.
int blinkCounter = 0;

}  // namespace

void ManagerWindow::addTrayIcon()
{
    ZeroMemory(&trayData, sizeof trayData);
    trayData.cbSize = trayRecordSize;
    trayData.hWnd = handle_;
    trayData.uID = 0;
    trayData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    trayData.uCallbackMessage = TrayCallbackMessage;
    trayData.hIcon = trayIcons[0];
    lstrcpynA(trayData.szTip, caption, 64);
    Shell_NotifyIconA(NIM_ADD, &trayData);
    // Kept even when the shell was not there yet: the next update adds it.
    trayAdded_ = true;
}

void ManagerWindow::updateTray()
{
    if (!trayAdded_)
        return;
    // What the shell took is remembered; after a refusal (no shell yet)
    // the next refresh asks again.
    if (Shell_NotifyIconA(NIM_MODIFY, &trayData) || Shell_NotifyIconA(NIM_ADD, &trayData)) {
        trayShownIcon_ = trayData.hIcon;
        lstrcpynA(trayShownTip_, trayData.szTip, sizeof trayShownTip_);
    } else {
        trayShownIcon_ = nullptr;
    }
}

void ManagerWindow::refreshTray()
{
    if (serversStarted) {
        int n = blinkCounter++;
        int index = 2 * (mysql.state() == Running) + (apache.state() == Running);
        trayData.hIcon = (n % 2) ? trayIcons[0] : trayIcons[index];
    } else {
        trayData.hIcon = trayIcons[0];
    }
    char state[MaxTextLength + 1];
    CopyText(state, sizeof state, serversStarted ? IDS_STATE_STARTED : IDS_STATE_STOPPED);
    snprintf(trayData.szTip, 64, "%s (%s)", caption, state);
    // The shell is asked only for a change.
    if (trayData.hIcon != trayShownIcon_ || strcmp(trayData.szTip, trayShownTip_) != 0)
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
    bool bothStopped = apache.state() == Stopped && mysql.state() == Stopped;
    POINT cursor = {0, 0};
    GetCursorPos(&cursor);

    UINT label = serversStarted ? IDS_MENU_STOP : IDS_MENU_START;
    if (!serversStarted && !bothStopped)
        label = IDS_STATE_PENDING;
    char text[MaxTextLength + 1];
    CopyText(text, sizeof text, label);
    ModifyMenuA(menu, ID_CMD_TOGGLE, MF_BYCOMMAND | MF_STRING, ID_CMD_TOGGLE, text);
    SetMenuDefaultItem(menu, ID_CMD_TOGGLE, FALSE);

    // Outside expert mode the configuration submenu (the one with Apache's
    // configuration file) gives way to one item that shows the window.
    int configuration = settings.ExpertMode ? -1 : SubmenuHolding(menu, ID_CMD_EDIT_APACHE_CONF);
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
