// Apache and MySQL as one stack: start, stop, restart, the supervision on
// every status tick and the reactions to the drivers' notifications.
#include "ManagerWindow.h"

#include <cstdio>
#include <cstring>

#include "Diagnostics.h"
#include "InstallDir.h"
#include "PortDiagnosis.h"
#include "ServerDiagnosis.h"
#include "ServiceControl.h"
#include "Supervision.h"
#include "Shortcuts.h"
#include "Texts.h"
#include "resource.h"

namespace {

// The system's text for an error code; "error N" when it has none.
void SystemMessage(DWORD code, char* out, size_t size)
{
    char* text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (length && text)
        lstrcpynA(out, text, static_cast<int>(size));
    else
        snprintf(out, size, "error %lu", static_cast<unsigned long>(code));
    if (text)
        LocalFree(text);
}

}  // namespace

void ManagerWindow::startAll()
{
    logEvent("Demarrage des serveurs", SourceManager);
    if (settings.StartAsServices) {
        apache.start();
        mysql.start();
        return;
    }
    DWORD code = mysql.start();
    if (code == 1 || code == 2) {
        char system[200];
        char text[200];
        SystemMessage(code, system, sizeof system);
        FormatText(text, sizeof text, IDS_MYSQL_START_FAILED, system);
        int answer = prompt(text, MB_YESNO);
        // Only Yes goes on; a prompt ended by a quit ends the start too.
        if (answer != IDYES || quitArrived())
            return;
    }
    startApache();
}

void ManagerWindow::startApache()
{
    DWORD code = apache.start();
    if (code == 0)
        return;
    if (code == 1) {
        // The box says who holds the port and what to do, as the log does.
        char text[MaxTextLength + 3 + logTailLineSize];
        CopyText(text, sizeof text, IDS_APACHE_PORT_TAKEN);
        size_t used = strlen(text);
        explainPortHolder(text + used, sizeof text - used);
        prompt(text, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    char system[200];
    char text[200];
    SystemMessage(code, system, sizeof system);
    FormatText(text, sizeof text, IDS_APACHE_START_FAILED, system);
    prompt(text, MB_OK | MB_ICONEXCLAMATION);
}

void ManagerWindow::stopAll()
{
    logEvent("Arret des serveurs", SourceManager);
    apache.stop();
    mysql.stop();
    trayData.hIcon = trayIcons[0];
    updateTray();
}

void ManagerWindow::toggleServers()
{
    if (serversStarted)
        stopAll();
    else
        startAll();
}

void ManagerWindow::restartAll()
{
    if (!serversStarted)
        return;
    char text[MaxTextLength + 1];
    CopyText(text, sizeof text, IDS_LOG_RESTARTING);
    logEvent(text, SourceManager);
    if (!apache.checkConfig() || quitArrived())
        return;
    apache.stop();
    mysql.stop();
    apache.setRestartPending(true);
    mysql.setRestartPending(true);
}

void ManagerWindow::superviseServers(bool statusTick)
{
    serversStarted = stackStarted(apache.state(), mysql.state());
    StackFacts facts = {apache.state(),         mysql.state(),        apache.restartPending(),
                        mysql.restartPending(), serviceSwitchPending, quitArrived(),
                        statusTick};
    switch (nextStackStep(facts)) {
    case StepStartApache:
        apache.start();
        apache.setRestartPending(false);
        break;
    case StepStartMySql:
        mysql.start();
        mysql.setRestartPending(false);
        break;
    case StepSwitchMode:
        switchServiceMode();
        break;
    case StepStopApache:
        // Apache refuses a stop while its configuration fails the check,
        // and asks only once per write of the file.
        apache.stop();
        break;
    case StepStopMySql:
        mysql.stop();
        break;
    case StepNone:
        break;
    }
}

void ManagerWindow::onStackChanged(bool statusTick)
{
    superviseServers(statusTick);
    drawStatus();
    refreshTray();
    // A quit that waits for servers still starting goes on once they run.
    checkDeferredQuit();
}

void ManagerWindow::onServerNotification(Server* server, WPARAM code, LPARAM lParam)
{
    char text[2261];
    if (code == StateChanged) {
        // Apache went from starting to stopped without ever running.
        if (LOWORD(lParam) == StartPending && HIWORD(lParam) == Stopped) {
            explainEnd(server);
            if (server == &apache)
                explainPortHolder();
            else
                logErrorTail(server);
        }
        onStackChanged(false);
        return;
    }
    if (server == &apache) {
        switch (code) {
        case UnexpectedEnd:
            serversStarted = apache.isRunning() || mysql.isRunning();
            CopyText(text, sizeof text, IDS_APACHE_UNEXPECTED_END);
            logEvent(text, SourceApache);
            explainEnd(&apache);
            logErrorTail(&apache);
            // An Apache that could not bind its port may live just long
            // enough to be seen running: the holder is named all the same.
            explainPortHolder();
            break;
        case ConfigError:
            FormatText(text, sizeof text, IDS_APACHE_CONFIG_ERROR,
                       lParam ? reinterpret_cast<const char*>(lParam) : "");
            logEvent("Erreur dans le fichier de configuration d'Apache", SourceManager);
            if (prompt(text, MB_YESNO | MB_ICONERROR) == IDYES && !quitArrived())
                PostMessageA(handle_, WM_COMMAND, ID_CMD_EDIT_APACHE_CONF, 0);
            break;
        case ConfigChanged:
            CopyText(text, sizeof text, IDS_LOG_CONFIG_CHANGED);
            logEvent(text, SourceApache);
            break;
        default:
            break;
        }
    } else if (server == &mysql && code == UnexpectedEnd) {
        serversStarted = apache.isRunning() || mysql.isRunning();
        CopyText(text, sizeof text, IDS_MYSQL_UNEXPECTED_END);
        logEvent(text, SourceMySql);
        explainEnd(&mysql);
        logErrorTail(&mysql);
    }
}

void ManagerWindow::explainPortHolder(char* box, size_t boxSize)
{
    char lines[1][logTailLineSize];
    if (ExplainPort(apache.port(), lines, 1) == 0)
        return;
    logEvent(lines[0], SourceApache);
    if (box && boxSize)
        snprintf(box, boxSize, "\n\n%s", lines[0]);
}

void ManagerWindow::explainEnd(Server* server)
{
    // A service's end is the service manager's to tell.
    if (server->serviceMode())
        return;
    const char* program = server == &apache ? apache.executable() : mysql.executable();
    const Server::ProcessEnd& end = server->lastEnd();
    char lines[8][logTailLineSize];
    int count = ExplainServerEnd(program, end.pid, end.exitCode, end.codeKnown, lines, 8);
    for (int i = 0; i < count; ++i)
        logEvent(lines[i], server == &apache ? SourceApache : SourceMySql);
}

void ManagerWindow::logKitFolder()
{
    char lines[3][logTailLineSize];
    int count = ExplainKitFolder(GetInstallDir(), lines, 3);
    for (int i = 0; i < count; ++i)
        logEvent(lines[i], SourceManager);
}

void ManagerWindow::logErrorTail(Server* server)
{
    char path[MAX_PATH];
    if (server == &apache)
        snprintf(path, sizeof path, "%sapache\\logs\\error.log", GetInstallDir());
    else
        FindMySqlErrorLog(path, sizeof path);
    char lines[3][logTailLineSize];
    // MySQL's log is read from its last run's start for what it says in
    // words; the raw tail follows.
    if (server == &mysql && ExplainMySqlLog(path, lines, 1) == 1)
        logEvent(lines[0], SourceMySql);
    int count = ReadLogTail(path, lines, 3);
    for (int i = 0; i < count; ++i)
        logEvent(lines[i], server == &apache ? SourceApache : SourceMySql);
}
