// The ways the manager ends besides the plain quit: closing whatever prompt,
// menu or dialog is open when a quit comes, waiting for servers still
// starting, and the end of the user's session.
#include "ManagerWindow.h"

#include <cstdio>
#include <cstring>

#include "resource.h"

namespace {

// How long a quit waits for a server that is still starting to be seen
// running (and then stopped), and how long the end of a session waits for
// the servers to end: Windows gives a logoff about five seconds.
const DWORD StartWaitMs = 10000;
const DWORD SessionEndWaitMs = 4000;

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
    if (quitAfterStart_ && GetTickCount() - quitRequestedAt_ >= StartWaitMs)
        return false;  // waited long enough: what runs is stopped now
    bool starting = (!apache.serviceMode() && apache.state() == StartPending) ||
                    (!mysql.serviceMode() && mysql.state() == StartPending);
    if (!starting)
        return false;
    // A process that is starting cannot be told to stop yet: the quit is
    // carried out at the status tick that sees it running (or gone).
    if (!quitAfterStart_)
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
    // waited for.
    HANDLE ends[2];
    DWORD count = 0;
    if (mysql.processHandle())
        ends[count++] = mysql.processHandle();
    if (apache.processHandle())
        ends[count++] = apache.processHandle();
    if (count)
        WaitForMultipleObjects(count, ends, TRUE, SessionEndWaitMs);
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
    if (!apache.serviceMode() || !mysql.serviceMode()) {
        stopForSessionEnd();
        trayData.hIcon = trayIcons[0];
    }
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
