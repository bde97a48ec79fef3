// The abstract server driver: name, state, process or service, the window
// that is told about events, and the watched configuration file.
#pragma once

#include <windows.h>

#include "ServiceControl.h"
#include "ServiceJob.h"

enum ServerState : LONG {
    Running = 0,
    Stopped = 1,
    StartPending = 2,
    StopPending = 3,
};

// Every notification is posted: the receiver handles it after the driver's
// call has returned.
enum ServerNotification : WPARAM {
    UnexpectedEnd = 0,
    // lParam: the check's output, a copy the driver keeps until its next
    // failed check (valid as long as the driver lives).
    ConfigError = 2,
    ConfigChanged = 3,
    // The state changed (posted); lParam: MAKELPARAM(old state, new state).
    StateChanged = 4,
    // The service can be watched but not started or stopped: the user
    // lacks the rights (posted once per driver, in service mode).
    ControlDenied = 5,
};

// Why the last installService or uninstallService did not do its work, for
// the caller to say (the operations themselves show nothing).
enum ServiceProblem {
    ServiceOk = 0,
    ServiceCommandFailed,  // the server's own command failed or did nothing
    ServiceForeign,        // a service of that name runs another program
};

// The state the monitor settles for a process-mode driver: from the state
// and whether the server's process lives, the new state and whether its end
// is to be reported (the end of a Running server nobody is restarting).
struct ProcessVerdict {
    ServerState state;
    bool reportEnd;
};
ProcessVerdict SettleProcessState(ServerState state, bool alive, bool restartPending);
// The state a service status (SERVICE_STOPPED ... SERVICE_PAUSED) stands
// for; other values leave `state` as it is.
ServerState SettleServiceState(ServerState state, DWORD serviceStatus);

class Server;

// The monitor's timer callback (ServerMonitor.cpp): settles every
// registered driver and watches its configuration file.
void CALLBACK MonitorTick(HWND, UINT, UINT_PTR, DWORD);

const int ServerTableSize = 10;
extern Server* serverTable[ServerTableSize];

// How long a stop waits for a just-started server to make its event, and
// how often it looks.
const DWORD ServerEventWaitMs = 5000;
const DWORD ServerPollMs = 20;

class Server {
public:
    explicit Server(const char* name);
    virtual ~Server();

    // Virtual operations, in this slot order.
    virtual DWORD start();
    virtual DWORD stop();
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

    // What the last install or removal ran into, and for ServiceForeign
    // the program the other service runs (empty when it cannot be read).
    ServiceProblem serviceProblem() const { return serviceProblem_; }
    const char* foreignProgram() const { return foreignProgram_; }
    // The service could be opened only to read its status, or a start or
    // stop was refused for lack of rights.
    bool controlDenied() const { return controlDenied_; }

    bool setServiceMode(bool flag);

    // Asks the server to end without any check of its configuration (for
    // the end of the session, when nothing may be asked); 0 or the code of
    // the failed request.
    virtual DWORD shutdownUnchecked() { return stopProcess(); }
    // stop, without any check of the configuration: a quit ends the server
    // whatever its configuration says.
    virtual DWORD stopWithoutCheck() { return stop(); }
    // True once (per stop) when a process-mode stop asked for at least
    // limitMs before `now` (GetTickCount) has not ended the server.
    bool stopOverdue(DWORD now, DWORD limitMs);
    // Ends the server's process, then the children it runs of its own
    // program (MySQL 8's server, Apache 2.x's serving child), by force; the
    // number ended (0: GetLastError tells why). Only on the user's word: a
    // hard end can lose data.
    virtual int endProcess();
    void setRestartPending(bool flag) { restartPending_ = flag; }
    void setWatchConfig(bool flag) { watchConfig_ = flag; }
    void setNotifyWindow(HWND window) { notifyWindow_ = window; }
    void setConfigPath(const char* path);

    // The monitor's pass over this driver, on the user-interface thread:
    // the state settled from the service status or the process, then the
    // configuration watch of a running server.
    void monitorPass();
    // The process handle of the server in process mode (null: none known,
    // or only its id); the message loop waits on it while the driver holds
    // it, and runs this driver's pass when it ends.
    HANDLE processHandle() const { return serviceMode_ ? nullptr : process_.hProcess; }

    // How the server's last process (process mode) ended, as the monitor
    // saw it go: its id and, where the system told it, its exit code.
    struct ProcessEnd {
        DWORD pid;
        DWORD exitCode;
        bool codeKnown;
    };
    const ProcessEnd& lastEnd() const { return lastEnd_; }

    // A switch between process and service mode whose commands run
    // elsewhere (ServiceJob): the step that installs or removes this
    // server's service, with the command that undoes it; a removal lets go
    // of the service handle and hands over the service's process to wait
    // for. A service of that name already there is looked at first: the
    // kit's own is taken up as it is, another program's is left alone
    // (serviceProblem ServiceForeign, foreignProgram names it) and no
    // command runs for it. takeServiceStep takes up the service the step
    // left and says whether the step did its work. Both on the
    // user-interface thread.
    void prepareServiceStep(bool install, ServiceStep* step);
    bool takeServiceStep(ServiceStep* step);

    // The same launch as runHidden, made with CreateProcessA so that the
    // new process can be waited for: its handle (the caller closes it)
    // and its id (pid may be null); null when nothing was started.
    static HANDLE runHiddenProcess(const char* cmdLine, DWORD* pid);

protected:
    // The process start takes up for a running server, given the one its
    // search found (the found one itself unless a driver knows better: a
    // server of two processes is stopped through the one that was
    // started).
    virtual DWORD serverProcessOf(DWORD pid) { return pid; }

    bool reopenService();
    bool closeService();

    // The only way the state changes: the window is told of a change by a
    // posted StateChanged, and a start or stop being under way wakes the
    // monitor for a pass at once.
    void setState(ServerState state);

    // Runs a command line without showing a window; true when WinExec
    // accepted it (a result above 31).
    static bool runHidden(const char* cmdLine);
    // The event a server makes once it has started and that its stop sets,
    // opened by open(server, kind). A server still starting has not made it
    // yet: it is awaited while the process lives, at most ServerEventWaitMs,
    // the messages sent to the window answered meanwhile. Null when none
    // came.
    typedef HANDLE (*EventOpener)(const Server& server, const char* kind);
    HANDLE awaitServerEvent(EventOpener open, const char* kind) const;
    // The program a command line starts: its first word, or the text in
    // the quotes it begins with. CreateProcessA is given it as the
    // application name, so that a path with blanks never starts another
    // program ("C:\Program.exe").
    static void programOf(const char* cmdLine, char* program, int size);
    // Launches cmdLine (a writable buffer, as CreateProcessA wants) hidden
    // in a new console, from directory (null: the current one). The record
    // (when given) gets the process id and handle, which its holder closes (the driver's own record
    // keeps it to see the server end). Returns 0 or CreateProcessA's error.
    static DWORD launchHidden(char* cmdLine, const char* title, const char* directory,
                              PROCESS_INFORMATION* record);
    // The install or removal command of the server's service (empty when
    // the server has none); the subclasses give theirs.
    virtual void serviceCommand(bool install, char* line, int size);
    // Runs the server's own install command and waits (bounded) for its
    // end, then takes up the service it registered and quotes its image
    // path when the server wrote it bare; true only when the command did
    // not fail and the service exists afterwards. A service of that name
    // already there is taken up when it is the kit's, and refused
    // (ServiceForeign) otherwise. On the calling thread (a switch runs the
    // same step on a ServiceJob's).
    bool installWith(const char* cmdLine);
    // Lets go of the service handle, then runs the server's own removal
    // command and waits (bounded) for its end; true only when the service
    // is gone afterwards (otherwise its handle is taken up again). Only
    // the kit's service is removed: with none, or another program's
    // (ServiceForeign, left alone), nothing is run and the answer is true.
    bool uninstallWith(const char* cmdLine);
    // Writes the service's image path again with its program in quotes
    // when it is registered bare; true when it is quoted (or was already).
    bool quoteImagePath();

    // Fields, in this order. Only the driver's own operations change them.
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
    // Remembers a program the driver ran besides the server: the command
    // interpreter of a syntax test (one that gave no verdict in time may
    // still run), a shutdown or service command. A start never
    // adopts one of the latest of them, nor a child of one, as the server.
    void rememberHelper(DWORD pid);
    // True while start's startProcess runs: the configuration has just
    // passed start's own check, and a driver need not check it again.
    bool startChecked_;
    // True while start's own check runs (the state is StartPending then,
    // with no process yet).
    bool checking_;
    // What start takes for the server already running: a process whose
    // executable's file name is one of these (set by the subclasses) and,
    // where the system tells its path, lies below adoptFolder_ (empty:
    // anywhere).
    const char* const* adoptNames_;
    int adoptNameCount_;
    char adoptFolder_[MAX_PATH];

    // The process-mode stop asked for last: when (GetTickCount), and
    // whether its being overdue was reported.
    DWORD stopRequestedAt_;
    bool stopOverdueTold_;

private:
    static const int HelperCount = 8;
    DWORD helpers_[HelperCount];
    int nextHelper_;

    // Takes up the process record a launch or an adoption filled: the
    // thread handle is closed, the process handle kept and handed to the
    // message loop's wait.
    void takeProcess();
    static void processEnded(void* server);
    // Lets go of the process: the handles, the whole record.
    void dropProcess();
    // The server's process lives: by its handle when there is one (a
    // reused id cannot stand for it), else by its id.
    bool processAlive() const;
    // Step 2 of a monitor pass, for a running watched server.
    void watchConfigFile();
    // The service of this server's name with the rights asked for (less
    // where refused: at least its status, noting controlDenied_); null
    // when there is none, or when it runs a program that is not the kit's
    // (then noted in foreignProgram_): another program's service is never
    // started, stopped, rewritten or removed.
    SC_HANDLE openOwnService(ServiceControl::ServiceAccess access);
    // Whether a service of this name exists, and then whether its program
    // is the kit's (below adoptFolder_); the program in foreignProgram_
    // when it is not.
    bool serviceRegistered(bool* own);
    // Notes a refused start or stop (ERROR_ACCESS_DENIED).
    void noteControlError(DWORD error);

    ServiceProblem serviceProblem_;
    char foreignProgram_[MAX_PATH];
    bool controlDenied_;
    bool controlDeniedTold_;

    // Keeps a handle on the process the service manager says runs the
    // service (pid 0: none named).
    void noteServiceProcess(DWORD pid);
    // A service of this server that was stopped may leave its process a
    // moment longer than its status says. The switch to process mode waits
    // for it on its own thread (its removal step); a start in process mode
    // that still finds it alive (a mode set without a switch) does not
    // wait but passes over it, or it would take up the ending process as
    // the server.
    void passOverServiceProcess();
    // The step of a switch (or of installWith and uninstallWith) for this
    // server's service.
    void fillServiceStep(bool install, const char* command, ServiceStep* step);

    // The process of this server's service as last seen running (null:
    // none seen), and its id.
    HANDLE serviceProcess_;
    DWORD serviceProcessId_;
    // Keeps the id and exit code of the process that is found gone.
    void noteEnd();
    ProcessEnd lastEnd_;

    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;
};
