// The abstract server driver: name, state, process or service, the window
// that is told about events, and the watched configuration file.
#pragma once

#include <windows.h>

#include "ServiceControl.h"

enum ServerState : LONG {
    Running = 0,
    Stopped = 1,
    StartPending = 2,
    StopPending = 3,
};

enum ServerNotification : WPARAM {
    UnexpectedEnd = 0,
    ConfigError = 2,
    ConfigChanged = 3,
};

class Server;

// The monitor's timer callback (ServerMonitor.cpp): settles every
// registered driver and watches its configuration file.
void CALLBACK monitorTick(HWND, UINT, UINT_PTR, DWORD);

const int serverTableSize = 10;
extern Server* serverTable[serverTableSize];

class Server {
public:
    explicit Server(const char* name);
    virtual ~Server();

    // Virtual operations, in this slot order.
    virtual DWORD start();
    virtual DWORD stop();
    virtual DWORD restart() = 0;
    virtual bool installService() = 0;
    virtual bool uninstallService() = 0;
    virtual bool checkConfig();
    virtual DWORD startProcess() = 0;
    virtual DWORD stopProcess() = 0;
    virtual DWORD reloadConfig();

    ServerState state() const { return state_; }
    bool isRunning() const { return state_ == Running; }
    UINT messageId() const { return messageId_; }
    int port() const { return port_; }
    const char* configPath() const { return configPath_; }
    const char* name() const { return name_; }
    bool serviceMode() const { return serviceMode_; }
    bool restartPending() const { return restartPending_; }
    bool watchConfig() const { return watchConfig_; }

    bool setServiceMode(bool flag);
    void setRestartPending(bool flag) { restartPending_ = flag; }
    void setWatchConfig(bool flag) { watchConfig_ = flag; }
    void setNotifyWindow(HWND window) { notifyWindow_ = window; }
    void setConfigPath(const char* path);

protected:
    bool reopenService();
    bool closeService();

    // Runs a command line without showing a window; true when WinExec
    // accepted it (a result above 31).
    static bool runHidden(const char* cmdLine);
    // The same launch made with CreateProcessA as WinExec makes it, so that
    // the new process's id is known; 0 when nothing was started.
    static DWORD runHiddenProcess(const char* cmdLine);
    // Runs a command line hidden and waits at most waitMs for its end;
    // true when it was launched.
    static bool runHiddenAndWait(const char* cmdLine, DWORD waitMs);
    // The program a command line starts: its first word, or the text in
    // the quotes it begins with. CreateProcessA is given it as the
    // application name, so that a path with blanks never starts another
    // program ("C:\Program.exe").
    static void programOf(const char* cmdLine, char* program, int size);
    // Fills a startup record for a program whose window stays hidden;
    // title (may be null) names its new console.
    static void hiddenStartup(STARTUPINFOA* startup, const char* title);
    // Launches cmdLine (a writable buffer, as CreateProcessA wants) hidden
    // in a new console, from directory (null: the current one). Only the
    // process id is of use: the handles are closed at once, and the record
    // (when given) gets the ids. Returns 0 or CreateProcessA's error.
    static DWORD launchHidden(char* cmdLine, const char* title, const char* directory,
                              PROCESS_INFORMATION* record);
    // Runs the server's own install command and waits (bounded) for its
    // end, then takes up the service it registered and quotes its image
    // path when the server wrote it bare; true only when the service
    // exists afterwards.
    bool installWith(const char* cmdLine);
    // Lets go of the service handle, then runs the server's own removal
    // command and waits (bounded) for its end; true only when the service
    // is gone afterwards (otherwise its handle is taken up again).
    bool uninstallWith(const char* cmdLine);
    // Writes the service's image path again with its program in quotes
    // when it is registered bare; true when it is quoted (or was already).
    bool quoteImagePath();

    // Fields, in this order. The monitor (a friend) reads and writes them.
    PROCESS_INFORMATION process_;
    SC_HANDLE service_;
    int port_;
    UINT messageId_;
    HWND notifyWindow_;
    char name_[32];
    ServerState state_;
    bool serviceMode_;
    bool restartPending_;
    bool watchConfig_;
    char configPath_[MAX_PATH];
    FILETIME configTime_;
    // What start's search for a running server passes over: the programs
    // the driver itself runs besides the server (set by the subclasses;
    // empty in Server).
    ProcessExclusion adoptExclusion_;
    // What start takes for the server already running: a process whose
    // executable's file name is one of these (set by the subclasses) and,
    // where the system tells its path, lies below adoptFolder_ (empty:
    // anywhere).
    const char* const* adoptNames_;
    int adoptNameCount_;
    char adoptFolder_[MAX_PATH];

    friend void CALLBACK monitorTick(HWND, UINT, UINT_PTR, DWORD);

private:
    // startProcess and stopProcess may show a message box (Apache's check
    // sends ConfigError), and the window may destroy the driver inside its
    // loop. The slot is taken before such a call; a registered driver whose
    // slot no longer holds it afterwards is gone and must not be touched.
    int registeredSlot() const;
    bool destroyedSince(int slot) const;

    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;
};
