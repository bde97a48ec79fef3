// Apache and MySQL as one stack: start, stop, restart, the supervision on
// every status tick and the reactions to the drivers' notifications.
#include "ManagerWindow.h"

#include <cstdio>

#include "Diagnostics.h"
#include "ServiceControl.h"
#include "Supervision.h"
#include "Shortcuts.h"
#include "Texts.h"
#include "resource.h"

namespace {

// The system's text for an error code as it gives it, for a prompt.
void SystemMessage(DWORD code, char* out, size_t size)
{
    ServiceControl::systemText(code, out, static_cast<int>(size), false);
}

// The same for the event log, without its line end.
void LogSystemMessage(ManagerWindow* window, DWORD code, EventSource source)
{
    char text[200];
    ServiceControl::systemText(code, text, sizeof text);
    window->logEvent(text, source);
}

}  // namespace

void ManagerWindow::startAll()
{
    logEvent("Demarrage des serveurs", SourceManager);
    // Any failed launch or service start is said, in the system's words
    // (access denied, not a valid program, a 64-bit server on 32-bit
    // Windows, elevation needed...).
    DWORD code = mysql.start();
    if (code != 0) {
        char system[200];
        char text[200];
        SystemMessage(code, system, sizeof system);
        FormatText(text, sizeof text, IDS_MYSQL_START_FAILED, system);
        LogSystemMessage(this, code, SourceMySql);
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
        char text[MaxTextLength + 1];
        CopyText(text, sizeof text, IDS_APACHE_PORT_TAKEN);
        prompt(text, MB_OK | MB_ICONEXCLAMATION);
        explainPortHolder();
        return;
    }
    char system[200];
    char text[200];
    SystemMessage(code, system, sizeof system);
    FormatText(text, sizeof text, IDS_APACHE_START_FAILED, system);
    LogSystemMessage(this, code, SourceApache);
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
        if (server == &apache && LOWORD(lParam) == StartPending && HIWORD(lParam) == Stopped)
            explainPortHolder();
        // MySQL that never came up: the program on its port is named (a
        // service of another installation, for one).
        char program[MAX_PATH] = "";
        DWORD pid = 0;
        int port = 0;
        if (server == &mysql && LOWORD(lParam) == StartPending && HIWORD(lParam) == Stopped && !mysql.serviceMode() &&
            FindPortHolder(port = mysql.listenPort(), program, sizeof program, &pid)) {
            if (program[0])
                FormatText(text, sizeof text, IDS_PORT_HOLDER, port, program, static_cast<unsigned long>(pid));
            else
                FormatText(text, sizeof text, IDS_PORT_HOLDER_UNKNOWN, port);
            logEvent(text, SourceMySql);
        }
        onStackChanged(false);
        return;
    }
    if (code == ControlDenied) {
        // Said once for both servers.
        if (!controlDeniedTold_) {
            controlDeniedTold_ = true;
            CopyText(text, sizeof text, IDS_SERVICES_NEED_ADMIN);
            logEvent(text, SourceManager);
            prompt(text, MB_OK | MB_ICONINFORMATION);
        }
        return;
    }
    if (server == &apache) {
        switch (code) {
        case UnexpectedEnd:
            serversStarted = apache.isRunning() || mysql.isRunning();
            CopyText(text, sizeof text, IDS_APACHE_UNEXPECTED_END);
            logEvent(text, SourceApache);
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
        logErrorTail(&mysql);
    }
}

void ManagerWindow::explainPortHolder()
{
    char program[MAX_PATH] = "";
    DWORD pid = 0;
    int port = apache.port();
    if (!FindPortHolder(port, program, sizeof program, &pid))
        return;
    char text[MaxTextLength + 1];
    if (program[0])
        FormatText(text, sizeof text, IDS_PORT_HOLDER, port, program, static_cast<unsigned long>(pid));
    else
        // The system names no owner (Wine, for one, gives process id 0).
        FormatText(text, sizeof text, IDS_PORT_HOLDER_UNKNOWN, port);
    logEvent(text, SourceApache);
}

void ManagerWindow::logErrorTail(Server* server)
{
    char path[MAX_PATH];
    if (server == &apache)
        snprintf(path, sizeof path, "%sapache\\logs\\error.log", GetInstallDir());
    else
        FindMySqlErrorLog(path, sizeof path);
    char lines[3][logTailLineSize];
    int count = ReadLogTail(path, lines, 3);
    for (int i = 0; i < count; ++i)
        logEvent(lines[i], server == &apache ? SourceApache : SourceMySql);
}
