// The notification-area icon, its tooltip and blinking, and the tray menu.
#include "ManagerWindow.h"

#include <cstddef>
#include <cstdio>

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
    if (!Shell_NotifyIconA(NIM_MODIFY, &trayData))
        Shell_NotifyIconA(NIM_ADD, &trayData);
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
    lstrcpynA(state, LoadText(serversStarted ? IDS_STATE_STARTED : IDS_STATE_STOPPED),
              sizeof state);
    snprintf(trayData.szTip, 64, "%s (%s)", caption, state);
    updateTray();
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
    bool pending = !serversStarted && !bothStopped;
    if (pending)
        label = IDS_STATE_PENDING;
    char text[MaxTextLength + 1];
    lstrcpynA(text, LoadText(label), sizeof text);
    ModifyMenuA(menu, ID_CMD_TOGGLE, MF_BYCOMMAND | MF_STRING, ID_CMD_TOGGLE, text);
    SetMenuDefaultItem(menu, ID_CMD_TOGGLE, FALSE);

    if (!settings.ExpertMode) {
        DeleteMenu(menu, 3, MF_BYPOSITION);
        lstrcpynA(text, LoadText(IDS_MENU_CONFIGURATION), sizeof text);
        InsertMenuA(menu, 3, MF_BYPOSITION | MF_STRING, ID_CMD_SHOW_WINDOW, text);
    }

    const UINT greyedWhileStarted[] = {ID_CMD_EXTENSION_EDITOR, ID_CMD_EDIT_PHP_CONF};
    const UINT greyedWhileStopped[] = {ID_CMD_PHPMYADMIN, ID_CMD_ADMINISTRATION, ID_CMD_BROWSE,
                                       ID_CMD_RESTART};
    for (UINT id : greyedWhileStarted)
        EnableMenuItem(menu, id, MF_BYCOMMAND | (serversStarted ? MF_GRAYED : MF_ENABLED));
    for (UINT id : greyedWhileStopped)
        EnableMenuItem(menu, id, MF_BYCOMMAND | (serversStarted ? MF_ENABLED : MF_GRAYED));
    EnableMenuItem(menu, ID_CMD_TOGGLE, MF_BYCOMMAND | (pending ? MF_GRAYED : MF_ENABLED));

    SetForegroundWindow(handle_);
    enterPrompt();
    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_LEFTBUTTON, cursor.x, cursor.y, 0, handle_, nullptr);
    PostMessageA(handle_, WM_NULL, 0, 0);
    DestroyMenu(bar);
    leavePrompt();
}
