// The real Apache 2.4 (64-bit, built from Debian's sources by
// scripts/build-apache.sh) in a kit laid out for 2.x beside the stand-in
// MySQL, for the test and the bench that run the manager on it.
//
// The real server runs as two processes: the parent the manager (or a
// user) starts, and a child, the same program, that serves. A console
// server ends when its parent's event ap<parent pid>_shutdown is set; its
// -k words reach installed services only.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "E2eKit.h"

namespace realapache {

// The built server's folder (bin\, modules\, conf\), from the environment
// variable TARVANE_REAL_APACHE; empty when it is not set.
std::string ServerDir();

// The httpd.conf of the kit: Listen on `port`, the page folder ..\www as
// DocumentRoot, the six modules the build makes, its logs in logs\.
// `extra` is added at its end.
std::string HttpdConf(int port, const char* extra = "");

struct Process {
    DWORD pid, parent;
};

class RealKit {
public:
    explicit RealKit(const char* tag);
    // Quits a manager still running, removes the kit's services, ends what
    // runs of the kit's httpd.exe, and the kit goes.
    ~RealKit();
    // Empty when the kit is ready, else what went wrong.
    const std::string& problem() const { return problem_; }

    e2e::ManagerRun run;

    bool writeConf(int port, const char* extra = "") const;
    // The kit's page served on the port.
    bool serves(int port, DWORD ms) const;
    // The kit's httpd.exe processes alive (parent and child).
    std::vector<Process> servers() const;
    // None left and the port closed, within ms.
    bool waitGone(int port, DWORD ms) const;
    int endServers() const;
    std::string errorLog() const;

private:
    std::string problem_;
};

}  // namespace realapache
