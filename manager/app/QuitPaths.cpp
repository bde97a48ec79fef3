// The ways the manager ends besides the plain quit: closing whatever prompt,
// menu or dialog is open when a quit comes, and the end of the user's
// session. (Waiting for servers still starting is the stack's.)
#include "ManagerWindow.h"

#include <cstdio>
#include <cstring>

#include "Texts.h"
#include "resource.h"

namespace {

// ShutdownBlockReasonCreate and ShutdownBlockReasonDestroy (Windows Vista
// and later), looked up at run time.
typedef BOOL(WINAPI* BlockReasonCreateProc)(HWND, LPCWSTR);
typedef BOOL(WINAPI* BlockReasonDestroyProc)(HWND);

FARPROC User32Proc(const char* name)
{
    HMODULE user32 = GetModuleHandleA("user32.dll");
    return user32 ? GetProcAddress(user32, name) : nullptr;
}

BOOL CALLBACK CloseDialogBox(HWND window, LPARAM manager)
{
    char name[16] = "";
    GetClassNameA(window, name, sizeof name);
    if (window == reinterpret_cast<HWND>(manager) || strcmp(name, "#32770") != 0)
        return TRUE;
    // As if answered No, or Cancel where there is no No (a message box
    // with one button ends on IDOK, the about dialog on either).
    WPARAM answer = GetDlgItem(window, IDNO) ? IDNO : GetDlgItem(window, IDCANCEL) ? IDCANCEL : IDOK;
    PostMessageA(window, WM_COMMAND, answer, 0);
    return TRUE;
}

}  // namespace

void ManagerWindow::closeOpenPrompts()
{
    // The tray menu; then every message box and dialog of this thread.
    EndMenu();
    EnumThreadWindows(GetCurrentThreadId(), CloseDialogBox, reinterpret_cast<LPARAM>(handle_));
}

int ManagerWindow::promptAnswerWithoutAsking(UINT type)
{
    switch (type & MB_TYPEMASK) {
    case MB_YESNO:
    case MB_YESNOCANCEL:
        return IDNO;
    case MB_OKCANCEL:
    case MB_RETRYCANCEL:
        return IDCANCEL;
    default:
        return IDOK;
    }
}

bool ManagerWindow::ignoresCommand(WPARAM id) const
{
    // After a quit only the quit itself still counts.
    return quitArrived() && id != ID_CMD_QUIT;
}

void ManagerWindow::holdSessionEnd(bool hold)
{
    if (hold == sessionHeld_)
        return;
    if (!hold) {
        BlockReasonDestroyProc destroy =
            reinterpret_cast<BlockReasonDestroyProc>(User32Proc("ShutdownBlockReasonDestroy"));
        if (destroy)
            destroy(handle_);
        sessionHeld_ = false;
        return;
    }
    // Only servers that run as programs end with the session's end here.
    const Server& apache = stack_.apache();
    const Server& mysql = stack_.mysql();
    bool programs = (!apache.serviceMode() && apache.state() != Stopped) ||
                    (!mysql.serviceMode() && mysql.state() != Stopped);
    BlockReasonCreateProc create =
        reinterpret_cast<BlockReasonCreateProc>(User32Proc("ShutdownBlockReasonCreate"));
    if (!programs || !create)
        return;
    wchar_t reason[MaxTextLength + 1];
    if (!MultiByteToWideChar(CP_ACP, 0, LoadText(IDS_SESSION_END_REASON), -1, reason, MaxTextLength + 1))
        return;
    reason[MaxTextLength] = L'\0';
    sessionHeld_ = create(handle_, reason) != 0;
}

void ManagerWindow::endSession()
{
    if (quitDone_)
        return;
    // No prompt opens from here on, and the open ones end as answered No.
    quitDone_ = true;
    quitPending_ = false;
    versionFetch_.cancel();
    closeOpenPrompts();
    stack_.endSession(sessionHeld_);
    trayData_.hIcon = trayIcons_[0];
    holdSessionEnd(false);
    keepSettingsAtQuit();
    if (trayAdded_) {
        Shell_NotifyIconA(NIM_DELETE, &trayData_);
        trayAdded_ = false;
    }
    // The process may be ended as soon as the handler returns.
    settings_.SaveSettings();
    // The loop ends (a prompt's own loop hands the quit on); the window is
    // destroyed with the object, after everything posted to it is gone.
    PostQuitMessage(0);
}

void ManagerWindow::keepSettingsAtQuit()
{
    storeSettingsPage();
    // A service option that was never applied would make the next start
    // start nothing: only an applied one is kept; and one applied but not
    // yet carried out is not kept either.
    settings_.StartAsServices = stack_.servicesToKeep();
}
