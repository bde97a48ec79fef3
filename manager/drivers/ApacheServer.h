// The Apache web server of the kit: launched and shut down through the
// program's own switches, registered as the service "Apache", and checked
// with Apache's syntax test before every start and stop. Two layouts are
// known: Apache 1.3's apache.exe in the Apache folder, and Apache 2.x's
// bin\httpd.exe below it.
#pragma once

#include <windows.h>

#include "Server.h"

// Output of the syntax test: the whole of it is judged, at most this many
// bytes of it (line ends as LF) are kept for the window.
const int ApacheCheckOutputSize = 8000;

// The syntax test's output as it comes through its pipe: judged whole
// ("Syntax OK" anywhere), its start kept with CR LF read as LF.
struct ApacheCheckOutput {
    char text[ApacheCheckOutputSize + 1];
    size_t length;
    bool syntaxOk;
    // The last bytes seen, for a "Syntax OK" split between two reads.
    char tail[16];
    size_t tailLength;

    void clear();
    void add(const char* bytes, size_t count);
    // The kept text ends at its last line feed (a text without one stays
    // whole).
    void finish();
};

class ApacheServer : public Server {
public:
    // kitFolder: the kit's folder (the install directory), with its
    // trailing backslash.
    explicit ApacheServer(const char* kitFolder);

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
    // end of the session, when no prompt may open; 0 or the error.
    DWORD shutdownUnchecked() override;
    // stop without the syntax test: a quit ends Apache whatever its
    // httpd.conf says.
    DWORD stopWithoutCheck() override;
    // How long a syntax test may run before it counts as no answer.
    void setCheckLimit(DWORD ms) { checkLimitMs_ = ms; }
    // The last failed check's output, kept until the next check (what
    // ConfigError's lParam points to).
    const char* checkOutput() const { return checkOutput_.text; }

protected:
    // Apache 2.x runs a parent and a serving child of the same program:
    // the parent is the server the driver stops and restarts.
    DWORD serverProcessOf(DWORD pid) override;

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

    bool uncheckedStop_;
    DWORD checkLimitMs_;
    ApacheCheckOutput checkOutput_;

    // The named event ap<pid>_<kind> ("shutdown", "restart") of the
    // server's first process, opened to be set (awaited through
    // awaitServerEvent while that process has not made it yet); null
    // without it.
    static HANDLE openParentEvent(const Server& server, const char* kind);
    // Sets that event (Apache 2.x's parent waits on it); 0 or the error.
    DWORD signalParent(const char* kind);
    // Whether pid runs this kit's httpd.exe; *parent (may be null) gets
    // the process that created it.
    bool kitHttpd(DWORD pid, DWORD* parent) const;
    // Runs the syntax test with its output through a pipe into *output,
    // waiting for its end (bounded) while the window's messages are
    // dispatched; true when it ended and so gave a verdict. *quit is set
    // when the thread's quit arrived meanwhile (handed on).
    bool runSyntaxTest(ApacheCheckOutput* output, bool* quit);

    // One check at a time for the whole process: the window's message box
    // for a ConfigError, and the wait for the test, let the monitor's timer
    // run again meanwhile.
    static bool checkBusy_;
};
