// The Apache web server of the kit: launched and shut down through the
// program's own switches, registered as the service "Apache", and checked
// with Apache's syntax test before every start and stop. Two layouts are
// known: Apache 1.3's apache.exe in the Apache folder, and Apache 2.x's
// bin\httpd.exe below it.
#pragma once

#include <windows.h>

#include "Server.h"

// Output of the syntax test: at most this many bytes are read and judged.
const int apacheCheckOutputSize = 2000;

class ApacheServer : public Server {
public:
    ApacheServer();

    bool installService() override;
    bool uninstallService() override;
    bool checkConfig() override;
    DWORD startProcess() override;
    DWORD stopProcess() override;
    DWORD reloadConfig() override;
    void serviceCommand(bool install, char* line, int size) override;

    void setSsl(bool flag) { ssl_ = flag; }
    bool ssl() const { return ssl_; }
    // Apache's folder in the kit, with a trailing backslash.
    const char* directory() const { return directory_; }
    // Full path of the program chosen at construction, and whether it is
    // Apache 2.x's bin\httpd.exe.
    const char* executable() const { return executable_; }
    bool httpd() const { return httpd_; }
    // Asks the running Apache to shut down without its syntax test, for the
    // end of the session, when no prompt may open; 0 or the launch's error.
    DWORD shutdownUnchecked() override;
    // The output of the last check that failed (empty before any).
    const char* configError() const { return configError_; }

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
    char executable_[MAX_PATH];
    bool httpd_;

    // Runs a command line of the chosen program (the application name is
    // given, so a folder with blanks cannot be misread) hidden in a new
    // console titled `title`, in Apache's folder. The record gets the ids
    // and the process handle; 0 or CreateProcessA's error.
    DWORD launch(char* cmdLine, const char* title, PROCESS_INFORMATION* record);
    // The same for a command whose process is not kept: its id is
    // remembered as a helper, its handles closed.
    DWORD launchHelper(char* cmdLine, const char* title);

    // The last check's output, as read.
    static char checkOutput_[apacheCheckOutputSize + 1];
    // The driver's own copy of a failed check's output, which ConfigError
    // points to: it lives with the driver, not with the check's call.
    char configError_[apacheCheckOutputSize + 1];
    // Reads the test's output file into checkOutput_; true when it held an
    // answer (10 bytes or more), then judged into *valid.
    static bool readCheckOutput(const char* path, bool* valid);
};
