// The common part of the server drivers: registration in serverTable, the
// skeleton of start and stop, the service handle's upkeep, and the hidden
// launches and service commands both drivers run.
#include "Server.h"

#include <stdio.h>
#include <string.h>

#include "ConsoleCapture.h"
#include "Launch.h"
#include "ServerMonitor.h"
#include "ServiceControl.h"
#include "System.h"

Server* serverTable[ServerTableSize];

namespace {

// QueryServiceStatusEx, looked up at run time (Windows 2000 and later):
// it also names the service's process.
typedef BOOL(WINAPI* QueryStatusExProc)(SC_HANDLE, SC_STATUS_TYPE, LPBYTE, DWORD, LPDWORD);
bool queryStatusExLooked;
QueryStatusExProc queryStatusEx;

// The service's status; *pid its process where the system says (else 0).
bool QueryService(SC_HANDLE service, SERVICE_STATUS* status, DWORD* pid)
{
    if (!queryStatusExLooked) {
        queryStatusEx = reinterpret_cast<QueryStatusExProc>(
            GetProcAddress(GetModuleHandleA("advapi32.dll"), "QueryServiceStatusEx"));
        queryStatusExLooked = true;
    }
    *pid = 0;
    SERVICE_STATUS_PROCESS full;
    DWORD needed = 0;
    if (queryStatusEx &&
        queryStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&full), sizeof full, &needed)) {
        CopyMemory(status, &full, sizeof *status);
        *pid = full.dwProcessId;
        return true;
    }
    return QueryServiceStatus(service, status) != 0;
}

}  // namespace

ProcessVerdict SettleProcessState(ServerState state, bool alive, bool restartPending)
{
    if (!alive)
        return ProcessVerdict{Stopped, state == Running && !restartPending};
    // StopPending holds until the process is gone.
    return ProcessVerdict{state == StopPending ? StopPending : Running, false};
}

ServerState SettleServiceState(ServerState state, DWORD serviceStatus)
{
    switch (serviceStatus) {
    case SERVICE_STOPPED:
        return Stopped;
    case SERVICE_START_PENDING:
    case SERVICE_CONTINUE_PENDING:
    case SERVICE_PAUSE_PENDING:
    case SERVICE_PAUSED:
        return StartPending;
    case SERVICE_STOP_PENDING:
        return StopPending;
    case SERVICE_RUNNING:
        return Running;
    default:
        return state;
    }
}

Server::Server(const char* name)
{
    snprintf(name_, sizeof name_, "%s", name ? name : "");
    serviceProblem_ = ServiceOk;
    foreignProgram_[0] = '\0';
    controlDenied_ = false;
    controlDeniedTold_ = false;
    ZeroMemory(&process_, sizeof process_);
    port_ = 0;
    state_ = Stopped;

    char messageName[49];  // at most 48 characters
    snprintf(messageName, sizeof messageName, "Tarvane_%s", name_);
    messageId_ = RegisterWindowMessageA(messageName);

    serviceMode_ = false;
    restartPending_ = false;
    watchConfig_ = false;
    notifyWindow_ = nullptr;
    configPath_[0] = '\0';
    configTime_.dwLowDateTime = 0;
    configTime_.dwHighDateTime = 0;
    ZeroMemory(&adoptExclusion_, sizeof adoptExclusion_);
    ZeroMemory(helpers_, sizeof helpers_);
    nextHelper_ = 0;
    adoptExclusion_.helpers = helpers_;
    adoptExclusion_.helperCount = HelperCount;
    startChecked_ = false;
    checking_ = false;
    serviceProcess_ = nullptr;
    ZeroMemory(&lastEnd_, sizeof lastEnd_);
    serviceProcessId_ = 0;
    stopRequestedAt_ = 0;
    stopOverdueTold_ = false;
    adoptNames_ = nullptr;
    adoptNameCount_ = 0;
    adoptFolder_[0] = '\0';
    // The kit's folder is not known yet (the subclass sets it): the
    // service's program is looked at when service mode is set.
    service_ = openOwnService(ServiceControl::ServiceCommands);

    // A full table leaves the driver working but unmonitored.
    for (int i = 0; i < ServerTableSize; ++i) {
        if (!serverTable[i]) {
            serverTable[i] = this;
            break;
        }
    }
}

Server::~Server()
{
    if (service_) {
        CloseServiceHandle(service_);
        service_ = nullptr;
    }
    dropProcess();
    if (serviceProcess_)
        CloseHandle(serviceProcess_);
    for (int i = 0; i < ServerTableSize; ++i)
        if (serverTable[i] == this)
            serverTable[i] = nullptr;
}

DWORD Server::start()
{
    if (state_ != Stopped)
        return 0;
    // The check may wait for its test while the window's messages go on:
    // meanwhile the server counts as starting (the orchestration must not
    // take it for stopped, nor start it twice) and the monitor leaves it
    // alone.
    checking_ = true;
    setState(StartPending);
    bool valid = checkConfig();
    checking_ = false;
    if (!valid) {
        setState(Stopped);
        return 0;
    }
    RequestMonitorPass();

    if (serviceMode_) {
        if (!service_)
            service_ = openOwnService(ServiceControl::ServiceCommands);
        // The reason a service did not start is the caller's to say; the
        // monitor then finds it stopped.
        if (!service_)
            return foreignProgram_[0] ? ERROR_SERVICE_EXISTS : ERROR_SERVICE_DOES_NOT_EXIST;
        if (!ServiceControl::startService(service_)) {
            DWORD error = LastErrorOr(ERROR_SERVICE_NOT_ACTIVE);
            noteControlError(error);
            return error;
        }
        return 0;
    }

    passOverServiceProcess();

    // A server already running, started by whatever means, is adopted; the
    // driver's own helpers (a syntax test still running, a shutdown tool)
    // are not servers. Its handle, when the system grants one, keeps a
    // later process with the same id from standing for it.
    DWORD pid = 0;
    ServiceControl::acquire();
    bool found = ServiceControl::findProcess(adoptNames_, adoptNameCount_, adoptFolder_, &pid, &adoptExclusion_);
    if (found)
        pid = serverProcessOf(pid);
    ServiceControl::release();
    dropProcess();
    if (found) {
        process_.dwProcessId = pid;
        process_.hProcess = ServiceControl::openProcess(pid);
        takeProcess();
        return 0;
    }

    // A failed launch leaves process id 0, which the monitor reads as gone.
    startChecked_ = true;
    DWORD code = startProcess();
    startChecked_ = false;
    takeProcess();
    return code;
}

DWORD Server::stop()
{
    DWORD result = 0;
    if (state_ == Running) {
        if (serviceMode_) {
            // A refused stop leaves the service running, and says why.
            if (ServiceControl::stopService(service_)) {
                setState(StopPending);
            } else {
                result = service_ ? LastErrorOr(ERROR_SERVICE_NOT_ACTIVE) : ERROR_SERVICE_DOES_NOT_EXIST;
                noteControlError(result);
            }
        } else {
            result = stopProcess();
            if (result == 0) {
                setState(StopPending);
                stopRequestedAt_ = GetTickCount();
                stopOverdueTold_ = false;
            }
        }
    }
    restartPending_ = false;
    return result;
}

bool Server::stopOverdue(DWORD now, DWORD limitMs)
{
    if (state_ != StopPending || serviceMode_ || stopOverdueTold_ || !process_.dwProcessId)
        return false;
    if (now - stopRequestedAt_ < limitMs)
        return false;
    stopOverdueTold_ = true;
    return true;
}

int Server::endProcess()
{
    DWORD pid = process_.dwProcessId;
    char name[MAX_PATH];
    if (!pid || !ServiceControl::processName(pid, name, sizeof name)) {
        SetLastError(pid ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return 0;
    }
    // The first process goes first: one left alive could start its child
    // again (Apache 2.x's parent; MySQL 8's monitor).
    DWORD children[8];
    int childCount = ServiceControl::childProcesses(pid, name, children, 8);
    int ended = 0;
    DWORD error = ERROR_SUCCESS;
    for (int i = -1; i < childCount; ++i) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, i < 0 ? pid : children[i]);
        BOOL done = process && TerminateProcess(process, 1);
        if (!done && error == ERROR_SUCCESS)
            error = GetLastError();
        ended += done != 0;
        if (process)
            CloseHandle(process);
    }
    // Nothing ended: the reason stays for the caller.
    if (!ended)
        SetLastError(error ? error : ERROR_ACCESS_DENIED);
    return ended;
}

void Server::setState(ServerState state)
{
    ServerState old = state_;
    if (state == old)
        return;
    state_ = state;
    if (state == StartPending || state == StopPending)
        RequestMonitorPass();
    if (notifyWindow_)
        PostMessageA(notifyWindow_, messageId_, StateChanged, MAKELPARAM(old, state));
}

void Server::takeProcess()
{
    if (process_.hThread) {
        CloseHandle(process_.hThread);
        process_.hThread = nullptr;
    }
    WaitOnHandle(process_.hProcess, processEnded, this);
}

void Server::processEnded(void* server)
{
    static_cast<Server*>(server)->monitorPass();
}

void Server::noteEnd()
{
    // A server already stopped has no process to note: the last end stays.
    if (!process_.dwProcessId && !process_.hProcess)
        return;
    lastEnd_.pid = process_.dwProcessId;
    lastEnd_.exitCode = 0;
    lastEnd_.codeKnown = process_.hProcess && GetExitCodeProcess(process_.hProcess, &lastEnd_.exitCode) &&
                         lastEnd_.exitCode != STILL_ACTIVE;
}

void Server::dropProcess()
{
    if (process_.hThread)
        CloseHandle(process_.hThread);
    if (process_.hProcess) {
        StopWaitingOn(process_.hProcess);
        CloseHandle(process_.hProcess);
    }
    ZeroMemory(&process_, sizeof process_);
}

bool Server::processAlive() const
{
    if (process_.hProcess)
        return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
    return process_.dwProcessId != 0 && GetProcessVersion(process_.dwProcessId) != 0;
}

void Server::monitorPass()
{
    if (checking_)
        return;
    // Step 1: settle the state from the service status or the process.
    if (serviceMode_ && service_) {
        SERVICE_STATUS status;
        DWORD pid = 0;
        if (QueryService(service_, &status, &pid)) {
            noteServiceProcess(pid);
            setState(SettleServiceState(state_, status.dwCurrentState));
        }
    } else {
        ProcessVerdict verdict = SettleProcessState(state_, processAlive(), restartPending_);
        if (verdict.reportEnd && notifyWindow_)
            PostMessageA(notifyWindow_, messageId_, UnexpectedEnd, 0);
        if (verdict.state == Stopped) {
            noteEnd();
            dropProcess();
        }
        setState(verdict.state);
    }

    // A service the user may watch but not control: the window says so,
    // once.
    if (serviceMode_ && controlDenied_ && !controlDeniedTold_ && notifyWindow_) {
        controlDeniedTold_ = true;
        PostMessageA(notifyWindow_, messageId_, ControlDenied, 0);
    }

    // Step 2: watch the configuration file of a running server.
    if (state_ == Running && watchConfig_)
        watchConfigFile();
}

void Server::noteServiceProcess(DWORD pid)
{
    if (!pid || pid == serviceProcessId_)
        return;
    if (serviceProcess_)
        CloseHandle(serviceProcess_);
    serviceProcess_ = ServiceControl::openProcess(pid);
    serviceProcessId_ = pid;
}

void Server::passOverServiceProcess()
{
    if (!serviceProcess_)
        return;
    if (WaitForSingleObject(serviceProcess_, 0) == WAIT_TIMEOUT)
        rememberHelper(serviceProcessId_);
    CloseHandle(serviceProcess_);
    serviceProcess_ = nullptr;
    serviceProcessId_ = 0;
}

void Server::watchConfigFile()
{
    FILETIME written;
    FileWriteTime(configPath_, &written);
    // Missing, unreadable or held open for writing by another program.
    if (written.dwLowDateTime == 0 || written.dwHighDateTime == 0)
        return;
    if (written.dwLowDateTime == configTime_.dwLowDateTime &&
        written.dwHighDateTime == configTime_.dwHighDateTime)
        return;
    if (notifyWindow_)
        PostMessageA(notifyWindow_, messageId_, ConfigChanged, 0);
    // A check that fails posts its report: nothing runs meanwhile.
    if (checkConfig()) {
        stop();
        restartPending_ = true;  // after stop, which clears it
        reloadConfig();
    }
    configTime_ = written;
}

bool Server::checkConfig()
{
    return true;
}

DWORD Server::reloadConfig()
{
    return 0;
}

bool Server::setServiceMode(bool flag)
{
    if (state_ != Stopped)
        return false;
    serviceMode_ = flag;
    // Opened again now that the kit's folder is known: another program's
    // service of this name is let go.
    if (flag) {
        closeService();
        service_ = openOwnService(ServiceControl::ServiceCommands);
    }
    return true;
}

void Server::setConfigPath(const char* path)
{
    snprintf(configPath_, sizeof configPath_, "%s", path ? path : "");
    FileWriteTime(configPath_, &configTime_);
}

bool Server::reopenService()
{
    if (service_)
        CloseServiceHandle(service_);
    service_ = nullptr;
    Sleep(200);  // let the installer register the service
    service_ = openOwnService(ServiceControl::ServiceCommands);
    return service_ != nullptr;
}

bool Server::closeService()
{
    if (!service_)
        return true;
    BOOL closed = CloseServiceHandle(service_);
    service_ = nullptr;
    return closed != 0;
}

HANDLE Server::awaitServerEvent(EventOpener open, const char* kind) const
{
    HANDLE event = open(*this, kind);
    // The server's own handle is waited on: the driver's may go meanwhile.
    HANDLE server = nullptr;
    if (!event && process_.hProcess)
        DuplicateHandle(GetCurrentProcess(), process_.hProcess, GetCurrentProcess(), &server, SYNCHRONIZE, FALSE, 0);
    // Only sent messages are answered meanwhile: a stop comes also at a
    // quit or a logoff, whose posted messages (a menu's end, the quit)
    // belong to the loops that wait for them.
    for (DWORD begun = GetTickCount(); !event && server && GetTickCount() - begun < ServerEventWaitMs;) {
        if (WaitAnswering(&server, 1, ServerPollMs) == WAIT_OBJECT_0)
            break;
        event = open(*this, kind);
    }
    if (server)
        CloseHandle(server);
    return event;
}

bool Server::runHidden(const char* cmdLine)
{
    return WinExec(cmdLine, SW_HIDE) > 31;
}

HANDLE Server::runHiddenProcess(const char* cmdLine, DWORD* pid)
{
    char line[2 * MAX_PATH];
    snprintf(line, sizeof line, "%s", cmdLine ? cmdLine : "");
    char program[MAX_PATH];
    programOf(line, program, sizeof program);
    HiddenLaunch launch = {program, line, nullptr, 0, nullptr, nullptr, FALSE};
    HANDLE process = nullptr;
    LaunchHidden(launch, &process, pid);
    return process;
}

SC_HANDLE Server::openOwnService(ServiceControl::ServiceAccess access)
{
    SC_HANDLE service = ServiceControl::openService(name_, access);
    // Refused: at least the status, which every user may read.
    while (!service && GetLastError() == ERROR_ACCESS_DENIED && access != ServiceControl::ServiceStatus) {
        access = static_cast<ServiceControl::ServiceAccess>(access - 1);
        service = ServiceControl::openService(name_, access);
        controlDenied_ = controlDenied_ || (service && access == ServiceControl::ServiceStatus);
    }
    foreignProgram_[0] = '\0';
    char program[MAX_PATH];
    if (service && adoptFolder_[0] && ServiceControl::serviceProgram(service, program, sizeof program) &&
        !ServiceControl::pathBelow(program, adoptFolder_)) {
        lstrcpynA(foreignProgram_, program, sizeof foreignProgram_);
        CloseServiceHandle(service);
        service = nullptr;
    }
    return service;
}

bool Server::serviceRegistered(bool* own)
{
    *own = false;
    foreignProgram_[0] = '\0';
    SC_HANDLE service = ServiceControl::openService(name_, ServiceControl::ServiceStatus);
    if (!service)
        return false;
    char program[MAX_PATH];
    bool known = ServiceControl::serviceProgram(service, program, sizeof program);
    CloseServiceHandle(service);
    // A program that cannot be read is not taken for the kit's.
    *own = known && (!adoptFolder_[0] || ServiceControl::pathBelow(program, adoptFolder_));
    if (!*own)
        lstrcpynA(foreignProgram_, known ? program : "", sizeof foreignProgram_);
    return true;
}

void Server::noteControlError(DWORD error)
{
    if (error == ERROR_ACCESS_DENIED)
        controlDenied_ = true;
}

void Server::programOf(const char* cmdLine, char* program, int size)
{
    const char* from = cmdLine ? cmdLine : "";
    char end = ' ';
    if (*from == '"') {
        ++from;
        end = '"';
    }
    int length = 0;
    while (from[length] && from[length] != end)
        ++length;
    snprintf(program, size, "%.*s", length, from);
}

DWORD Server::launchHidden(char* cmdLine, const char* title, const char* directory, PROCESS_INFORMATION* record)
{
    char program[MAX_PATH];
    programOf(cmdLine, program, sizeof program);
    // What the program says in its console before its log opens is kept.
    ConsoleCapture capture;
    capture.prepare();
    HiddenLaunch launch = {program, cmdLine, directory, CREATE_NEW_CONSOLE, title, capture.output(), capture.inherits()};
    PROCESS_INFORMATION created;
    ZeroMemory(&created, sizeof created);
    DWORD error = LaunchHidden(launch, record ? &created.hProcess : nullptr, &created.dwProcessId);
    if (error)
        return error;
    capture.attach(created.dwProcessId);
    if (record)
        *record = created;
    return 0;
}

void Server::rememberHelper(DWORD pid)
{
    if (!pid)
        return;
    helpers_[nextHelper_] = pid;
    nextHelper_ = (nextHelper_ + 1) % HelperCount;
}

void Server::serviceCommand(bool, char* line, int size)
{
    if (size > 0)
        line[0] = '\0';
}

void Server::fillServiceStep(bool install, const char* command, ServiceStep* step)
{
    ZeroMemory(step, sizeof *step);
    snprintf(step->name, sizeof step->name, "%s", name_);
    snprintf(step->command, sizeof step->command, "%s", command);
    step->install = install;
    serviceProblem_ = ServiceOk;
    // A service of that name already there is looked at here, before any
    // command: another program's is left as it is (an install fails, a
    // removal has nothing of the kit's to remove), the kit's own is taken
    // up as it is by an install.
    bool own = false;
    bool registered = serviceRegistered(&own);
    if (registered && !own) {
        serviceProblem_ = ServiceForeign;
        step->skip = true;
        step->done = !install;
    } else if (install && registered) {
        step->skip = true;
        step->done = true;
    } else if (!install && !registered) {
        step->skip = true;
        step->done = true;
    }
    if (install)
        return;
    // The service goes only once no handle on it is left open, and once
    // its process has ended.
    closeService();
    step->endingProcess = serviceProcess_;
    serviceProcess_ = nullptr;
    serviceProcessId_ = 0;
}

void Server::prepareServiceStep(bool install, ServiceStep* step)
{
    char command[sizeof step->command];
    serviceCommand(install, command, sizeof command);
    fillServiceStep(install, command, step);
    // A service of another program is never touched, not even by an undo.
    if (serviceProblem_ != ServiceForeign)
        serviceCommand(!install, step->undo, sizeof step->undo);
}

bool Server::takeServiceStep(ServiceStep* step)
{
    if (step->service) {
        CloseServiceHandle(step->service);
        step->service = nullptr;
    }
    closeService();
    // The service as it stands, with the least rights that serve; a
    // service of another program found now is named (foreignProgram_).
    service_ = openOwnService(ServiceControl::ServiceCommands);
    if (step->skip)
        return step->done;
    // Whether the step did its work is what it found then (an undo since
    // does not change it); another program's service of that name found
    // now does not count.
    bool done = step->done && !(step->install && !service_ && foreignProgram_[0]);
    if (!done)
        serviceProblem_ = foreignProgram_[0] ? ServiceForeign : ServiceCommandFailed;
    return done;
}

bool Server::installWith(const char* cmdLine)
{
    ServiceStep step;
    fillServiceStep(true, cmdLine, &step);
    RunServiceSteps(&step, 1);
    return takeServiceStep(&step);
}

bool Server::uninstallWith(const char* cmdLine)
{
    ServiceStep step;
    fillServiceStep(false, cmdLine, &step);
    RunServiceSteps(&step, 1);
    return takeServiceStep(&step);
}

bool Server::quoteImagePath()
{
    if (!service_)
        return false;
    // Rewriting the image path takes all rights, which only this asks for.
    SC_HANDLE service = ServiceControl::openService(name_, ServiceControl::ServiceAll);
    bool quoted = QuoteServiceImagePath(service);
    if (service)
        CloseServiceHandle(service);
    return quoted;
}
