// The MySQL database server of the kit: one of the mysqld executables,
// chosen once by Windows family, shut down through its shutdown event and
// mysqladmin, registered as the service "MySql".
#pragma once

#include <windows.h>

#include "Server.h"
#include "Settings.h"  // MaxMySqlArguments, the longest text the settings keep

class MySqlServer : public Server {
public:
    // kitFolder: the kit's folder (the install directory), with its
    // trailing backslash.
    explicit MySqlServer(const char* kitFolder);

    bool installService() override;
    bool uninstallService() override;
    DWORD startProcess() override;
    DWORD stopProcess() override;
    void serviceCommand(bool install, char* line, int size) override;

    // The user's extra arguments for process-mode starts, cut to
    // MaxMySqlArguments characters.
    void setArguments(const char* text);
    const char* arguments() const { return arguments_; }
    // MySQL's folder in the kit, with a trailing backslash.
    const char* directory() const { return directory_; }
    // The TCP port the server listens on: [mysqld] port in my.ini, else
    // MySQL's own default, 3306.
    int listenPort() const { return static_cast<int>(GetPrivateProfileIntA("mysqld", "port", 3306, configPath_)); }
    // Full path of the server executable chosen at construction.
    const char* executable() const { return executable_; }
    // Its file name.
    const char* executableName() const;

    // The event a MySQL server makes to be asked to shut down, by age:
    // 0 "mysqld<pid>_shutdown" (8.0.17 and later), 1 "MySQLShutdown<pid>"
    // (4.1 to 5.7, MariaDB), 2 "MySqlShutdown" (3.23); pid being the id
    // of the process started. A stop tries them in this order.
    static const int ShutdownEventAges = 3;
    static void shutdownEventName(int age, DWORD pid, char* name, int size);

private:
    // The first of those events that exists, opened to be set.
    static HANDLE openShutdownEvent(const Server& server, const char* unused);

    char directory_[MAX_PATH];
    char executable_[MAX_PATH];
    char arguments_[MaxMySqlArguments + 1];
};
