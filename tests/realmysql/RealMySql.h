// A real MySQL server (8.0 or 5.7 for 64-bit Windows, fetched by
// scripts/setup.sh) in a kit beside the stand-in Apache, for the test and
// the bench that run the manager on it.
//
// Under Wine 8 a MySQL 8 process does not end after a finished shutdown
// ("Shutdown complete" in its error log, port closed, pid file gone): a
// thread waits on a handle the server closed, and Wine never wakes it.
// Windows ends the process. So do "--initialize-insecure" runs once their
// work is done. The tests judge a shutdown by the log and the closed port,
// and then end such a leftover process themselves (EndServers); the
// manager is not bent to this.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "E2eKit.h"

namespace realmysql {

// The real servers: 8.0 (two processes, mysqladmin and the client in its
// package) and 5.7 (one process; its package has mysqld.exe and share\
// only, so its kit has no mysqladmin, and the test's queries use 8.0's
// client, which speaks to 5.7 as well).
enum RealServer { Mysql80, Mysql57 };

// The folder of the fetched 8.0 server (with bin\ and share\), from the
// environment variable TARVANE_REAL_MYSQL; empty when it is not set.
std::string ServerDir();
// The folder of the server's programs (bin\ of 8.0, the folder of 5.7's
// mysqld.exe, from TARVANE_REAL_MYSQL57); empty when it is not set.
std::string ProgramDir(RealServer server);

// The kit: Tarvane.exe, the stand-in Apache, and MySql\bin with the real
// mysqld.exe (8.0: mysqladmin.exe, mysql.exe and their DLLs too),
// MySql\share.
// my.ini in the Windows directory gives the server innodb_use_native_aio=0
// (8.0's overlapped I/O fails under Wine; 5.7 ignores the option on
// Windows, see initialise()), a free port for the server
// and the clients, and no X plugin (its port would be shared with other
// runs). The data folder is initialised once, when the kit is made.
class RealKit {
public:
    explicit RealKit(const char* tag, const e2e::Keys& keys = {}, RealServer server = Mysql80);
    // Ends what runs of the kit's MySQL, removes my.ini (restoring one that
    // was there) and the kit.
    ~RealKit();
    // Empty when the kit is ready, else what went wrong.
    const std::string& problem() const { return problem_; }

    e2e::ManagerRun run;
    int port() const { return port_; }
    std::string dataDir() const { return run.kit.mysqlDir() + "data\\"; }
    // data\<host name>.err, the error log MySQL 5.1 and later write.
    std::string errorLogPath() const;
    std::string errorLog() const;
    int logCount(const char* text) const;

    // mysql.exe (8.0's) -h 127.0.0.1 -u root [-p<password>] -e sql, over TCP as
    // the kit's web applications connect; its output (see RunCapture).
    bool query(const std::string& sql, std::string* output, const char* password = nullptr);
    bool portOpen() const;
    // The kit's mysqld.exe processes still alive.
    std::vector<DWORD> servers() const;
    // A clean shutdown: `count` "Shutdown complete" lines in the log and
    // the port closed, within ms.
    bool waitShutdown(int count, DWORD ms = 60000);
    // Ends the kit's mysqld.exe processes (see above); their number.
    int endServers();

private:
    bool initialise();
    RealServer server_;
    int port_;
    bool hadMyIni_;
    std::string savedMyIni_;
    std::string problem_;
};

// Runs a command line hidden: its output (with plain line ends, and its
// error output after it when it failed) to `output`; false when
// it did not start or end within ms (it is then ended).
bool RunCapture(const std::string& cmdLine, std::string* output, DWORD* exitCode, DWORD ms = 60000);

}  // namespace realmysql
