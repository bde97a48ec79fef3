// The MySQL driver: the executable choice, its command line, the shutdown
// event "MySqlShutdown", mysqladmin and the service commands.
#include "MySqlServer.h"

#include <io.h>
#include <stdio.h>
#include <string.h>

#include "InstallDir.h"
#include "ServiceControl.h"

namespace {

// The server builds in the order they are tried; the first one only on the
// NT family.
const char* const candidates[] = {
    "mysqld-nt.exe",
    "mysqld.exe",
    "mysqld-opt.exe",
    "mysqld-shareware.exe",
};
const int candidateCount = sizeof candidates / sizeof candidates[0];

// mysqladmin, run to shut the NT build down, lives on for a moment after
// the server: a start made meanwhile must not take it for a running MySQL.
const char* const helperNames[] = {"mysqladmin.exe"};

// Waited after signalling the shutdown event.
const DWORD shutdownWaitMs = 500;

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
    adoptExclusion_.names = helperNames;
    adoptExclusion_.nameCount = sizeof helperNames / sizeof helperNames[0];
}

void MySqlServer::setArguments(const char* text)
{
    snprintf(arguments_, sizeof arguments_, "%s", text ? text : "");
}

DWORD MySqlServer::startProcess()
{
    // Both paths and the arguments at their longest, two blanks and the switch.
    char line[2 * MAX_PATH + mySqlArgumentsLength + 16];
    snprintf(line, sizeof line, "%s --basedir=%s  %s", executable_, directory_, arguments_);
    // No console title, and the current folder is the manager's own.
    return launchHidden(line, nullptr, nullptr, &process_);
}

DWORD MySqlServer::stopProcess()
{
    HANDLE shutdown = OpenEventA(EVENT_MODIFY_STATE, FALSE, "MySqlShutdown");
    if (shutdown) {
        SetEvent(shutdown);
        CloseHandle(shutdown);
        Sleep(shutdownWaitMs);
    }
    // The NT build also listens to mysqladmin.
    if (strstr(executable_, "-nt")) {
        char line[MAX_PATH + 32];
        snprintf(line, sizeof line, "%sbin\\mysqladmin.exe -u root shutdown", directory_);
        runHidden(line);
    }
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

bool MySqlServer::installService()
{
    char line[MAX_PATH];
    snprintf(line, sizeof line, "%sbin\\mysqld-nt.exe --install", directory_);
    return installWith(line);
}

bool MySqlServer::uninstallService()
{
    char line[MAX_PATH];
    snprintf(line, sizeof line, "%sbin\\mysqld-nt.exe --remove", directory_);
    return uninstallWith(line);
}
