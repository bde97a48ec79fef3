// The MySQL driver: the executable choice, its command line, the shutdown
// (the server's own event, and mysqladmin where the kit has it) and the
// service commands.
#include "MySqlServer.h"

#include <io.h>
#include <stdio.h>
#include <string.h>

#include "InstallDir.h"
#include "ServiceControl.h"

namespace {

// The server builds in the order they are tried; the first one only on the
// NT family. A running program is taken for the server only by one of
// these file names.
const char* const candidates[] = {
    "mysqld-nt.exe",
    "mysqld.exe",
    "mysqld-opt.exe",
    "mysqld-shareware.exe",
};
const int candidateCount = sizeof candidates / sizeof candidates[0];

// mysqladmin, run to shut the server down, lives on for a moment after
// the server: a start made meanwhile must not take it for a running MySQL.
const char* const helperNames[] = {"mysqladmin.exe"};

}  // namespace

MySqlServer::MySqlServer() : Server("MySql")
{
    snprintf(directory_, sizeof directory_, "%sMySql\\", GetInstallDir());

    // When none exists the last candidate's path stays: every start then
    // fails with "file not found".
    for (int i = ServiceControl::isNtFamily() ? 0 : 1; i < candidateCount; ++i) {
        snprintf(executable_, sizeof executable_, "%sbin\\%s", directory_, candidates[i]);
        if (_access(executable_, 0) == 0)
            break;
    }

    char windowsDir[MAX_PATH] = "";
    GetWindowsDirectoryA(windowsDir, sizeof windowsDir);
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%s\\My.Ini", windowsDir);
    setConfigPath(path);

    arguments_[0] = '\0';
    stopRequestedAt_ = 0;
    stopOverdueTold_ = false;
    adoptExclusion_.names = helperNames;
    adoptExclusion_.nameCount = sizeof helperNames / sizeof helperNames[0];
    adoptNames_ = candidates;
    adoptNameCount_ = candidateCount;
    snprintf(adoptFolder_, sizeof adoptFolder_, "%sbin\\", directory_);
}

void MySqlServer::setArguments(const char* text)
{
    snprintf(arguments_, sizeof arguments_, "%s", text ? text : "");
}

const char* MySqlServer::executableName() const
{
    const char* slash = strrchr(executable_, '\\');
    return slash ? slash + 1 : executable_;
}

DWORD MySqlServer::startProcess()
{
    // Both paths and the arguments at their longest, quotes, two blanks
    // and the switch. The base directory ends with a backslash, which
    // would escape its closing quote: it is given without it.
    char line[2 * MAX_PATH + mySqlArgumentsLength + 20];
    snprintf(line, sizeof line, "\"%s\" --basedir=\"%.*s\"  %s", executable_,
             static_cast<int>(strlen(directory_)) - 1, directory_, arguments_);
    // No console title, and the current folder is the manager's own.
    return launchHidden(line, nullptr, nullptr, &process_);
}

void MySqlServer::shutdownEventName(DWORD pid, char* name, int size)
{
    snprintf(name, size, "mysqld%lu_shutdown", static_cast<unsigned long>(pid));
}

DWORD MySqlServer::stopProcess()
{
    // MySQL 5.1 and later create an event named after the id of the
    // process that was started; MySQL 3 and 4 "MySqlShutdown". Neither
    // needs a password.
    char name[40];
    shutdownEventName(process_.dwProcessId, name, sizeof name);
    HANDLE shutdown = process_.dwProcessId ? OpenEventA(EVENT_MODIFY_STATE, FALSE, name) : nullptr;
    if (!shutdown)
        shutdown = OpenEventA(EVENT_MODIFY_STATE, FALSE, "MySqlShutdown");
    // The server's end is seen on its process handle: nothing waits here.
    if (shutdown) {
        SetEvent(shutdown);
        CloseHandle(shutdown);
    }
    // mysqladmin, where the kit has it, for a server without such an event
    // (it fails once root has a password, which the event does not need).
    // Not after the event: still running when the server has ended, it
    // would shut down the next server of a restart.
    char admin[MAX_PATH];
    snprintf(admin, sizeof admin, "%sbin\\mysqladmin.exe", directory_);
    if (!shutdown && _access(admin, 0) == 0) {
        char line[MAX_PATH + 32];
        snprintf(line, sizeof line, "\"%s\" -u root shutdown", admin);
        HANDLE admin = runHiddenProcess(line, nullptr);
        if (admin)
            CloseHandle(admin);
    }
    stopRequestedAt_ = GetTickCount();
    stopOverdueTold_ = false;
    return 0;
}

DWORD MySqlServer::restart()
{
    if (serviceMode_) {
        bool stopped = ServiceControl::stopService(service_);
        restartPending_ = true;
        return stopped ? 1 : 0;
    }

    // A running server cannot be started again before it has ended: ask it
    // to stop, and have it started again once it is Stopped (stop clears
    // the flag, so it is set afterwards).
    if (state_ == Running) {
        DWORD code = stop();
        if (code == 0)
            restartPending_ = true;
        return code;
    }
    stop();
    return start();
}

void MySqlServer::serviceCommand(bool install, char* line, int size)
{
    // The executable chosen for process mode, with the service's name.
    snprintf(line, size, "\"%s\" %s %s", executable_, install ? "--install" : "--remove", name_);
}

bool MySqlServer::installService()
{
    char line[2 * MAX_PATH];
    serviceCommand(true, line, sizeof line);
    return installWith(line);
}

bool MySqlServer::uninstallService()
{
    char line[2 * MAX_PATH];
    serviceCommand(false, line, sizeof line);
    return uninstallWith(line);
}

bool MySqlServer::stopOverdue(DWORD now, DWORD limitMs)
{
    if (state_ != StopPending || serviceMode_ || stopOverdueTold_ || !process_.dwProcessId)
        return false;
    if (now - stopRequestedAt_ < limitMs)
        return false;
    stopOverdueTold_ = true;
    return true;
}

int MySqlServer::endProcess()
{
    DWORD pid = process_.dwProcessId;
    if (!pid)
        return 0;
    // MySQL 8 runs the server as a child of the process that was started;
    // both go.
    DWORD children[8];
    int childCount = ServiceControl::childProcesses(pid, executableName(), children, 8);
    int ended = 0;
    for (int i = -1; i < childCount; ++i) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, i < 0 ? pid : children[i]);
        if (!process)
            continue;
        ended += TerminateProcess(process, 1) != 0;
        CloseHandle(process);
    }
    return ended;
}
