// A kit laid out in a temp folder as the real one is, with the stand-in
// server programs of the build (testkit/), for tests that launch them:
//
//   <root>Apache\apache.exe            (Apache 2.x's layout: bin\httpd.exe)
//   <root>Apache\conf\httpd.conf       (DefaultHttpdConf(port()))
//   <root>Apache\logs\ (empty folder)
//   <root>www\ (empty folder: the document root)
//   <root>MySql\bin\mysqld-nt.exe, mysqld.exe, mysqld-opt.exe,
//                  mysqld-shareware.exe, mysqladmin.exe
//
// The stand-ins append their record lines (testkit/record.h) to
// <root>Apache\testkit.log (<root>Apache\bin\testkit.log for httpd.exe) and
// <root>MySql\bin\testkit.log.
//
// The destructor cleans up after the test: it stops and deletes the
// services "Apache" and "MySql" when their program lies in this kit, ends
// every stand-in process the kit's records name that still runs, and
// removes the folder.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "record.h"

namespace testkit {

// Which mysqld executables a kit gets (a bit set).
enum KitMysqld : unsigned {
    KitMysqldNt = 1,         // mysqld-nt.exe
    KitMysqldPlain = 2,      // mysqld.exe
    KitMysqldOpt = 4,        // mysqld-opt.exe
    KitMysqldShareware = 8,  // mysqld-shareware.exe
    KitAllMysqlds = 15,
};

// A TCP port of the loopback address that no socket held a moment ago
// (the system's pick for port 0), never the same twice in one process; 0
// when none can be had. Tests that run servers use it, since several test
// programs, and other trees on the machine, run at the same time.
int FreeTcpPort();
// True when something listens on 127.0.0.1:port (a connection is taken).
bool PortAnswers(int port);
// A TCP connection to 127.0.0.1:port, INVALID_SOCKET when none is taken.
// Winsock is started for it: the caller closes the socket (also an invalid
// one is harmless to close) and calls WSACleanup.
SOCKET ConnectLoopback(int port);

// The Apache layouts the manager knows: Apache 1.3's apache.exe in the
// Apache folder, Apache 2.x's bin\httpd.exe below it.
enum KitApache { KitApache13, KitApache24 };

// A valid httpd.conf for the stand-in with DocumentRoot "../www" and the
// aliases /home/ ("../home/") and /mysql/ ("../phpmyadmin/"), relative to
// the Apache folder; the port in the line "Port <port>" for Apache 1.3, in
// "Listen <port>" (and without the directives 2.x dropped) for 2.x.
std::string DefaultHttpdConf(int port, KitApache layout = KitApache13);

class KitLayout {
public:
    // tag names the temp folder; mysqlds selects the mysqld executables;
    // apache and mysqladmin whether those programs are copied.
    explicit KitLayout(const char* tag, unsigned mysqlds = KitAllMysqlds, bool apache = true,
                       bool mysqladmin = true);
    // The same in a folder of the caller's (created when missing, its
    // parent must exist), e.g. one whose name holds blanks.
    KitLayout(const std::string& folder, unsigned mysqlds, bool apache, bool mysqladmin);
    ~KitLayout();

    // True when every requested file was laid out.
    bool ok() const { return complete; }

    // The kit's folder with a trailing backslash, as created (long form),
    // and its short (8.3) form, which the manager's install directory uses.
    const std::string& root() const { return rootDir; }
    std::string shortRoot() const;

    // Turns the kit into Apache 2.x's layout: the stand-in moves to
    // Apache\bin\httpd.exe and httpd.conf becomes DefaultHttpdConf(port(),
    // KitApache24). False when a step failed.
    bool useApache24();
    KitApache apacheLayout() const { return layout; }

    std::string apacheDir() const { return rootDir + "Apache\\"; }
    // The folder of the Apache program, where it writes its records.
    std::string apacheProgramDir() const { return layout == KitApache24 ? apacheDir() + "bin\\" : apacheDir(); }
    std::string apacheExe() const
    {
        return apacheProgramDir() + (layout == KitApache24 ? "httpd.exe" : "apache.exe");
    }
    std::string httpdConf() const { return apacheDir() + "conf\\httpd.conf"; }
    std::string pidFile() const { return apacheDir() + "logs\\httpd.pid"; }
    std::string mysqlDir() const { return rootDir + "MySql\\"; }
    std::string mysqlBin() const { return mysqlDir() + "bin\\"; }
    std::string wwwDir() const { return rootDir + "www\\"; }
    std::string logsDir() const { return apacheDir() + "logs\\"; }

    // The port of the kit's httpd.conf (FreeTcpPort()).
    int port() const { return webPort; }

    bool writeHttpdConf(const std::string& text) const;

    // The record lines of the Apache folder and of MySQL's bin folder.
    std::vector<kitrecord::Record> apacheRecords() const { return kitrecord::ReadRecords(apacheProgramDir()); }
    std::vector<kitrecord::Record> mysqlRecords() const { return kitrecord::ReadRecords(mysqlBin()); }

    // Terminates every stand-in process named in the kit's records that
    // still runs (same pid and same program name), and waits for its end.
    void endProcesses() const;

    // Stops and deletes the services "Apache", "Apache2.4" and "MySql" when
    // their image path lies in this kit.
    void removeServices() const;

private:
    std::string rootDir;
    int webPort;
    bool complete;
    KitApache layout = KitApache13;

    KitLayout(const KitLayout&) = delete;
    KitLayout& operator=(const KitLayout&) = delete;
};

// Stops (waiting up to 10 s for SERVICE_STOPPED) and deletes the service
// `name` if it exists; true when it is gone afterwards.
bool RemoveServiceIfPresent(const char* name);

// Registers a demand-start service `name` running `imagePath` (another
// program's, say); false when it could not.
bool CreateServiceNamed(const char* name, const std::string& imagePath);

// The image path of an installed service; empty when it does not exist.
std::string ServiceImagePath(const char* name);

// Whether a service of that name is registered.
inline bool ServiceExists(const char* name)
{
    return !ServiceImagePath(name).empty();
}

// The current state of a service (SERVICE_RUNNING ...), 0 when it cannot
// be queried.
DWORD ServiceState(const char* name);

}  // namespace testkit
