// Apache and MySQL as one stack: start, stop, restart, the supervision on
// every status tick and the reactions to the drivers' notifications.
#include "ManagerWindow.h"

#include <cstdio>

#include "Diagnostics.h"
#include "ServiceControl.h"
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

// Formats a localized text that holds one %s.
void FormatText(char* out, size_t size, UINT id, const char* argument)
{
    char format[MaxTextLength + 1];
    lstrcpynA(format, LoadText(id), sizeof format);
    snprintf(out, size, format, argument);
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
        char text[MaxTextLength + 1];
        lstrcpynA(text, LoadText(IDS_APACHE_PORT_TAKEN), sizeof text);
        prompt(text, MB_OK | MB_ICONEXCLAMATION);
        explainPortHolder();
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
    if (!stopRefusedLately(&apache))
        noteStopResult(&apache, apache.stop());
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
    lstrcpynA(text, LoadText(IDS_LOG_RESTARTING), sizeof text);
    logEvent(text, SourceManager);
    if (!apache.checkConfig() || quitArrived())
        return;
    apache.stop();
    mysql.stop();
    apache.setRestartPending(true);
    mysql.setRestartPending(true);
}

void ManagerWindow::superviseServers()
{
    ServerState apacheState = apache.state();
    ServerState mysqlState = mysql.state();
    serversStarted = apacheState == Running && mysqlState == Running;

    // Apache went from starting to stopped without ever running.
    if (lastApacheState_ == StartPending && apacheState == Stopped && !apacheWasRunning_)
        explainPortHolder();
    if (apacheState == Running)
        apacheWasRunning_ = true;
    else if (apacheState == StartPending && lastApacheState_ != StartPending)
        apacheWasRunning_ = false;
    lastApacheState_ = apacheState;

    // Between a quit and its performing nothing is started or stopped.
    if (quitArrived())
        return;

    if (apache.restartPending() && apacheState == Stopped) {
        apache.start();
        apache.setRestartPending(false);
    } else if (mysql.restartPending() && mysqlState == Stopped) {
        mysql.start();
        mysql.setRestartPending(false);
    } else if (apacheState == Stopped && mysqlState == Stopped && serviceSwitchPending) {
        switchServiceMode();
    } else if (mysqlState == Stopped && apacheState == Running) {
        // A stop that the configuration check refused is tried again only
        // after the next write of the file: one prompt per write.
        if (!stopRefusedLately(&apache))
            noteStopResult(&apache, apache.stop());
    } else if (mysqlState == Running && apacheState == Stopped) {
        mysql.stop();
    }
}

void ManagerWindow::noteStopResult(Server* server, DWORD result)
{
    if (server != &apache)
        return;
    apacheStopRefused_ = result == 1;
    if (apacheStopRefused_ &&
        !ServiceControl::fileWriteTime(apache.configPath(), &apacheStopRefusedAt_))
        ZeroMemory(&apacheStopRefusedAt_, sizeof apacheStopRefusedAt_);
}

bool ManagerWindow::stopRefusedLately(Server* server)
{
    if (server != &apache || !apacheStopRefused_)
        return false;
    FILETIME now;
    // A file that cannot be read just now (being written) counts as
    // unchanged: the write that ends will show.
    if (!ServiceControl::fileWriteTime(apache.configPath(), &now) ||
        CompareFileTime(&now, &apacheStopRefusedAt_) == 0)
        return true;
    apacheStopRefused_ = false;
    return false;
}

void ManagerWindow::onServerNotification(Server* server, WPARAM code, LPARAM lParam)
{
    char text[2261];
    if (server == &apache) {
        switch (code) {
        case UnexpectedEnd:
            serversStarted = apache.isRunning() || mysql.isRunning();
            lstrcpynA(text, LoadText(IDS_APACHE_UNEXPECTED_END), sizeof text);
            logEvent(text, SourceApache);
            logErrorTail(&apache);
            // An Apache that could not bind its port may live just long
            // enough to be seen running: the holder is named all the same,
            // and only here (the next tick must not name it again).
            explainPortHolder();
            apacheWasRunning_ = true;
            break;
        case ConfigError:
            FormatText(text, sizeof text, IDS_APACHE_CONFIG_ERROR,
                       lParam ? reinterpret_cast<const char*>(lParam) : "");
            logEvent("Erreur dans le fichier de configuration d'Apache", SourceManager);
            if (prompt(text, MB_YESNO | MB_ICONERROR) == IDYES && !quitArrived())
                PostMessageA(handle_, WM_COMMAND, ID_CMD_EDIT_APACHE_CONF, 0);
            break;
        case ConfigChanged:
            lstrcpynA(text, LoadText(IDS_LOG_CONFIG_CHANGED), sizeof text);
            logEvent(text, SourceApache);
            break;
        default:
            break;
        }
    } else if (server == &mysql && code == UnexpectedEnd) {
        serversStarted = apache.isRunning() || mysql.isRunning();
        lstrcpynA(text, LoadText(IDS_MYSQL_UNEXPECTED_END), sizeof text);
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
    char format[MaxTextLength + 1];
    char text[MaxTextLength + 1];
    if (program[0]) {
        lstrcpynA(format, LoadText(IDS_PORT_HOLDER), sizeof format);
        snprintf(text, sizeof text, format, port, program, static_cast<unsigned long>(pid));
    } else {
        // The system names no owner (Wine, for one, gives process id 0).
        lstrcpynA(format, LoadText(IDS_PORT_HOLDER_UNKNOWN), sizeof format);
        snprintf(text, sizeof text, format, port);
    }
    logEvent(text, SourceApache);
}

void ManagerWindow::logErrorTail(Server* server)
{
    char path[MAX_PATH];
    if (server == &apache)
        snprintf(path, sizeof path, "%sapache\\logs\\error.log", InstallDir());
    else
        FindMySqlErrorLog(path, sizeof path);
    char lines[3][logTailLineSize];
    int count = ReadLogTail(path, lines, 3);
    for (int i = 0; i < count; ++i)
        logEvent(lines[i], server == &apache ? SourceApache : SourceMySql);
}
