// The ways the manager ends besides the plain quit: closing whatever prompt,
// menu or dialog is open when a quit comes, waiting for servers still
// starting, and the end of the user's session.
#include "ManagerWindow.h"

#include <cstdio>
#include <cstring>

#include "Texts.h"
#include "resource.h"

namespace {

// How long a quit waits for a server that is still starting to be seen
// running (and then stopped), and how long the end of a session waits for
// the servers to end: Windows without a way to say why (before Vista)
// gives a logoff about five seconds; one that was told why waits until
// the user ends the wait, and a clean MySQL shutdown is given at most
// SessionEndHeldMs.
const DWORD StartWaitMs = 10000;
const DWORD SessionEndWaitMs = 4000;
const DWORD SessionEndHeldMs = 20000;

// ShutdownBlockReasonCreate and ShutdownBlockReasonDestroy (Windows Vista
// and later), looked up at run time.
typedef BOOL(WINAPI* BlockReasonCreateProc)(HWND, LPCWSTR);
typedef BOOL(WINAPI* BlockReasonDestroyProc)(HWND);

FARPROC User32Proc(const char* name)
{
    HMODULE user32 = GetModuleHandleA("user32.dll");
    return user32 ? GetProcAddress(user32, name) : nullptr;
}

// Waits until the processes the handles of `watched` give have ended, or
// until ms have passed, reading and dispatching the thread's messages
// meanwhile, so that the window keeps answering. The handles are read
// afresh each time: the monitor lets go of a process it finds ended.
template <typename Handles>
void WaitPumping(Handles watched, DWORD ms)
{
    DWORD started = GetTickCount();
    for (;;) {
        HANDLE found[2];
        HANDLE ends[2];
        DWORD count = 0;
        DWORD listed = watched(found);
        for (DWORD i = 0; i < listed; ++i)
            if (WaitForSingleObject(found[i], 0) == WAIT_TIMEOUT)
                ends[count++] = found[i];
        DWORD spent = GetTickCount() - started;
        if (!count || spent >= ms)
            return;
        // Any one process or a message (waiting for all would wait for a
        // message only once every process has ended).
        DWORD result = MsgWaitForMultipleObjects(count, ends, FALSE, ms - spent, QS_ALLINPUT);
        if (result == WAIT_TIMEOUT || result == WAIT_FAILED)
            return;
        if (result < WAIT_OBJECT_0 + count)
            continue;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                // The loop's own end is handed on to it.
                PostQuitMessage(static_cast<int>(message.wParam));
                return;
            }
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
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
    return (quitDone_ || quitPending_ || quitAfterStart_) && id != ID_CMD_QUIT;
}

bool ManagerWindow::deferQuitForStartingServers()
{
    // A service switch under way is let end first (its commands are
    // bounded): services are never left half switched.
    bool switching = switchingServices();
    if (!switching && quitAfterStart_ && GetTickCount() - quitRequestedAt_ >= StartWaitMs)
        return false;  // waited long enough: what runs is stopped now
    bool starting = switching || (!apache.serviceMode() && apache.state() == StartPending) ||
                    (!mysql.serviceMode() && mysql.state() == StartPending);
    if (!starting)
        return false;
    // A process that is starting cannot be told to stop yet: the quit is
    // carried out at the status tick that sees it running (or gone).
    if (!quitAfterStart_ || switching)
        quitRequestedAt_ = GetTickCount();
    quitAfterStart_ = true;
    return true;
}

void ManagerWindow::checkDeferredQuit()
{
    if (quitAfterStart_ && !deferQuitForStartingServers()) {
        quitAfterStart_ = false;
        quitManager();
    }
}

void ManagerWindow::stopForSessionEnd()
{
    logEvent("Arret des serveurs", SourceManager);
    // MySQL first: its data must be written before Windows ends what is
    // left. Then Apache, without its syntax test (a broken httpd.conf must
    // neither keep it running nor open a box now). Starting servers are
    // told too.
    if (!mysql.serviceMode() && mysql.state() != Stopped)
        mysql.stopProcess();
    if (!apache.serviceMode() && apache.state() != Stopped)
        apache.shutdownUnchecked();
    // Both processes at once, on the drivers' own handles (a started or an
    // adopted server has one): another program of the same name is not
    // waited for. The window answers meanwhile: Windows shows the reason
    // given at WM_QUERYENDSESSION instead of "not responding".
    WaitPumping(
        [this](HANDLE* ends) {
            DWORD count = 0;
            if (mysql.processHandle())
                ends[count++] = mysql.processHandle();
            if (apache.processHandle())
                ends[count++] = apache.processHandle();
            return count;
        },
        sessionHeld_ ? SessionEndHeldMs : SessionEndWaitMs);
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
    quitAfterStart_ = false;
    versionFetch_.cancel();
    closeOpenPrompts();
    // The switch's thread is let go: the session ends whatever it does.
    serviceJob_.cancel();
    if (!apache.serviceMode() || !mysql.serviceMode()) {
        stopForSessionEnd();
        trayData.hIcon = trayIcons[0];
    }
    holdSessionEnd(false);
    keepSettingsAtQuit();
    if (trayAdded_) {
        Shell_NotifyIconA(NIM_DELETE, &trayData);
        trayAdded_ = false;
    }
    // The process may be ended as soon as the handler returns.
    settings.SaveSettings();
    // The loop ends (a prompt's own loop hands the quit on); the window is
    // destroyed with the object, after everything posted to it is gone.
    PostQuitMessage(0);
}

void ManagerWindow::keepSettingsAtQuit()
{
    bool applied = settings.StartAsServices;
    storeSettingsPage();
    // A service option that was never applied would make the next start
    // start nothing: only an applied one is kept; and one applied but not
    // yet carried out is not kept either.
    settings.StartAsServices = serviceSwitchPending ? apache.serviceMode() : applied;
}
