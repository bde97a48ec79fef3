// The Apache web server of the kit: launched and shut down through
// apache.exe's own switches, registered as the service "Apache", and
// checked with Apache's syntax test before every start and stop.
#pragma once

#include <windows.h>

#include "Server.h"

// Output of the syntax test: at most this many bytes are read and judged.
const int apacheCheckOutputSize = 2000;

class ApacheServer : public Server {
public:
    ApacheServer();

    DWORD restart() override;
    bool installService() override;
    bool uninstallService() override;
    bool checkConfig() override;
    DWORD startProcess() override;
    DWORD stopProcess() override;
    DWORD reloadConfig() override;

    void setSsl(bool flag) { ssl_ = flag; }
    bool ssl() const { return ssl_; }
    // Apache's folder in the kit, with a trailing backslash.
    const char* directory() const { return directory_; }

private:
    char directory_[MAX_PATH];
    bool ssl_;
    // A stop the configuration check refused is tried again only after the
    // next write of httpd.conf: one prompt per write. The file's write time
    // at that refusal (both halves 0 when it could not be read).
    bool stopRefused_;
    FILETIME stopRefusedAt_;
    // True while a stop refused earlier would meet the same file.
    bool stopRefusedLately();

    // One check at a time for the whole process: the window's message box
    // for a ConfigError lets the monitor's timer run again meanwhile.
    static bool checkBusy_;
    // The last check's output; ConfigError's lParam points here and the
    // text is valid only during that call.
    static char checkOutput_[apacheCheckOutputSize + 1];
    // Reads the test's output file into checkOutput_; true when it held an
    // answer (10 bytes or more), then judged into *valid.
    static bool readCheckOutput(const char* path, bool* valid);
};
