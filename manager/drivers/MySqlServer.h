// The MySQL database server of the kit: one of the mysqld executables,
// chosen once by Windows family, shut down through its shutdown event and
// mysqladmin, registered as the service "MySql".
#pragma once

#include <windows.h>

#include "Server.h"

// Longest extra argument text, in characters.
const int mySqlArgumentsLength = 255;

class MySqlServer : public Server {
public:
    MySqlServer();

    DWORD restart() override;
    bool installService() override;
    bool uninstallService() override;
    DWORD startProcess() override;
    DWORD stopProcess() override;
    void serviceCommand(bool install, char* line, int size) override;

    // The user's extra arguments for process-mode starts, cut to 255
    // characters.
    void setArguments(const char* text);
    const char* arguments() const { return arguments_; }
    // MySQL's folder in the kit, with a trailing backslash.
    const char* directory() const { return directory_; }
    // Full path of the server executable chosen at construction.
    const char* executable() const { return executable_; }
    // Its file name.
    const char* executableName() const;

    // The event MySQL 5.1 and later create to be asked to shut down:
    // "mysqld<pid>_shutdown", pid being the started process's id.
    static void shutdownEventName(DWORD pid, char* name, int size);

    // True once (per stop) when a process-mode stop asked for at least
    // limitMs before `now` (GetTickCount) has not ended the server.
    bool stopOverdue(DWORD now, DWORD limitMs);
    // Ends the server's process and its own server children by force;
    // the number ended. Only on the user's word: a hard end can lose data.
    int endProcess();

private:
    char directory_[MAX_PATH];
    char executable_[MAX_PATH];
    char arguments_[mySqlArgumentsLength + 1];
    // When the last process-mode stop was asked for, and whether the user
    // was told that it has not ended.
    DWORD stopRequestedAt_;
    bool stopOverdueTold_;
};
