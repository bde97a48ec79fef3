// The MySQL driver: the executable choice, its command line, the shutdown
// (the server's own event, and mysqladmin where the kit has it) and the
// service commands.
#include "MySqlServer.h"

#include <io.h>
#include <stdio.h>
#include <string.h>

#include "ServiceControl.h"
#include "System.h"

namespace {

// The server builds in the order they are tried; the first one only on the
// NT family. A running program is taken for the server only by one of
// these file names.
const char* const Candidates[] = {
    "mysqld-nt.exe",
    "mysqld.exe",
    "mysqld-opt.exe",
    "mysqld-shareware.exe",
};
const int CandidateCount = sizeof Candidates / sizeof Candidates[0];

// mysqladmin, run to shut the server down, lives on for a moment after
// the server: a start made meanwhile must not take it for a running MySQL.
const char* const HelperNames[] = {"mysqladmin.exe"};

}  // namespace

MySqlServer::MySqlServer(const char* kitFolder) : Server("MySql")
{
    snprintf(directory_, sizeof directory_, "%sMySql\\", kitFolder ? kitFolder : "");

    // When none exists the last candidate's path stays: every start then
    // fails with "file not found".
    for (int i = IsNtFamily() ? 0 : 1; i < CandidateCount; ++i) {
        snprintf(executable_, sizeof executable_, "%sbin\\%s", directory_, Candidates[i]);
        if (_access(executable_, 0) == 0)
            break;
    }

    char windowsDir[MAX_PATH] = "";
    GetWindowsDirectoryA(windowsDir, sizeof windowsDir);
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%s\\My.Ini", windowsDir);
    setConfigPath(path);

    arguments_[0] = '\0';
    adoptExclusion_.names = HelperNames;
    adoptExclusion_.nameCount = sizeof HelperNames / sizeof HelperNames[0];
    adoptNames_ = Candidates;
    adoptNameCount_ = CandidateCount;
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
    // The port this start will listen on, for the holder's name when the
    // start fails.
    port_ = listenPort();
    // Both paths and the arguments at their longest, quotes, two blanks
    // and the switch. The base directory ends with a backslash, which
    // would escape its closing quote: it is given without it.
    char line[2 * MAX_PATH + MaxMySqlArguments + 20];
    snprintf(line, sizeof line, "\"%s\" --basedir=\"%.*s\"  %s", executable_,
             static_cast<int>(strlen(directory_)) - 1, directory_, arguments_);
    // No console title, and the current folder is the manager's own.
    return launchHidden(line, nullptr, nullptr, &process_);
}

void MySqlServer::shutdownEventName(int age, DWORD pid, char* name, int size)
{
    // 8.0.17 and later: "mysqld<pid>_shutdown" of the process started (the
    // monitor); 4.1 to 5.7 and MariaDB: "MySQLShutdown<pid>" (capital S,
    // Q, L; their sql/mysqld.cc); 3.23: "MySqlShutdown", a fixed name.
    if (age == 0)
        snprintf(name, size, "mysqld%lu_shutdown", static_cast<unsigned long>(pid));
    else if (age == 1)
        snprintf(name, size, "MySQLShutdown%lu", static_cast<unsigned long>(pid));
    else
        snprintf(name, size, "MySqlShutdown");
}

HANDLE MySqlServer::openShutdownEvent(const Server& server, const char*)
{
    DWORD pid = static_cast<const MySqlServer&>(server).process_.dwProcessId;
    HANDLE shutdown = nullptr;
    for (int age = 0; age < ShutdownEventAges && !shutdown; ++age) {
        if (age < 2 && !pid)
            continue;
        char name[40];
        shutdownEventName(age, pid, name, sizeof name);
        shutdown = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
    }
    return shutdown;
}

DWORD MySqlServer::stopProcess()
{
    // The server's own event, newest naming first; none needs a password.
    // Object names are compared with case: each is asked as it is made.
    // A server just started has not made it yet (a logoff or a quit right
    // after the start): it is awaited while the server lives.
    HANDLE shutdown = awaitServerEvent(openShutdownEvent, nullptr);
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
    return 0;
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
