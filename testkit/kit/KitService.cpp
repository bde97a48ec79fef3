#include "KitService.h"

#include <cstdlib>
#include <cstring>

#include "KitCommon.h"
#include "record.h"

namespace kit {

namespace {

// An SC_HANDLE closed on scope exit.
class ScHandle {
public:
    explicit ScHandle(SC_HANDLE h) : handle(h) {}
    ~ScHandle()
    {
        if (handle)
            CloseServiceHandle(handle);
    }
    operator SC_HANDLE() const { return handle; }

private:
    SC_HANDLE handle;
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
};

// State of the one service this process runs. ServiceMain runs on its own
// thread and the control handler on the dispatcher's, hence the lock.
const char* serviceName = "";
ServiceBody serviceBody = nullptr;
SERVICE_STATUS_HANDLE statusHandle = nullptr;
SERVICE_STATUS status;
HANDLE stopEvent = nullptr;
HANDLE restartEvent = nullptr;
CRITICAL_SECTION statusLock;

void ReportStatus(DWORD state, DWORD exitCode = NO_ERROR, DWORD specific = 0)
{
    EnterCriticalSection(&statusLock);
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
                                 state == SERVICE_STOPPED)
                                    ? 0
                                    : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PAUSE_CONTINUE;
    status.dwWin32ExitCode = exitCode;
    status.dwServiceSpecificExitCode = specific;
    status.dwCheckPoint = (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING) ? status.dwCheckPoint + 1 : 0;
    status.dwWaitHint = (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING) ? 5000 : 0;
    if (statusHandle)
        SetServiceStatus(statusHandle, &status);
    LeaveCriticalSection(&statusLock);
}

DWORD CurrentState()
{
    EnterCriticalSection(&statusLock);
    DWORD state = status.dwCurrentState;
    LeaveCriticalSection(&statusLock);
    return state;
}

void WINAPI ControlHandler(DWORD control)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        ReportStatus(SERVICE_STOP_PENDING);
        SetEvent(stopEvent);
        break;
    case SERVICE_CONTROL_PAUSE:
        if (CurrentState() == SERVICE_RUNNING) {
            ReportStatus(SERVICE_PAUSED);
            Record(kitrecord::kEventPause);
        }
        break;
    case SERVICE_CONTROL_CONTINUE:
        if (CurrentState() == SERVICE_PAUSED) {
            ReportStatus(SERVICE_RUNNING);
            Record(kitrecord::kEventContinue);
        }
        break;
    case 128:  // Apache's service_nt_ctrl: SERVICE_APACHE_RESTART signals the parent
        if (restartEvent)
            SetEvent(restartEvent);
        ReportStatus(CurrentState());
        break;
    default:  // SERVICE_CONTROL_INTERROGATE and the rest: report as is
        ReportStatus(CurrentState());
        break;
    }
}

void WINAPI ServiceMain(DWORD, LPSTR*)
{
    statusHandle = RegisterServiceCtrlHandlerA(serviceName, ControlHandler);
    if (!statusHandle)
        return;
    ReportStatus(SERVICE_START_PENDING);
    DWORD result = serviceBody(stopEvent);
    if (result == 0)
        ReportStatus(SERVICE_STOPPED);
    else
        ReportStatus(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR, result);
}

// A slow service command, for tests of a window that must not wait for
// it: a file service.delay beside the program holding a number of
// milliseconds makes an install or a removal take that long first.
void CommandDelay()
{
    std::string delay;
    if (ReadWholeFile(ProgramDir() + "service.delay", &delay, 32))
        Sleep(strtoul(delay.c_str(), nullptr, 10));
}

}  // namespace

void OnServiceRestart(HANDLE event)
{
    restartEvent = event;
}

void ServiceReady()
{
    ReportStatus(SERVICE_RUNNING);
    Record(kitrecord::kEventServiceRunning);
}

int InstallService(const char* name, const std::string& imagePath)
{
    CommandDelay();
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager) {
        DWORD error = GetLastError();
        PrintErr("%s: cannot open the service control manager: %s (%lu)\n", ProgramName().c_str(),
                 SystemMessage(error).c_str(), error);
        return 1;
    }
    PrintErr("Installing the %s service\n", name);
    ScHandle service(CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                    SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, imagePath.c_str(), nullptr, nullptr,
                                    nullptr, nullptr, nullptr));
    if (!service) {
        DWORD error = GetLastError();
        PrintErr("%s: failed to create the service %s: %s (%lu)\n", ProgramName().c_str(), name,
                 SystemMessage(error).c_str(), error);
        return 1;
    }
    PrintErr("The %s service is successfully installed.\n", name);
    return 0;
}

int RemoveService(const char* name)
{
    CommandDelay();
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        DWORD error = GetLastError();
        PrintErr("%s: cannot open the service control manager: %s (%lu)\n", ProgramName().c_str(),
                 SystemMessage(error).c_str(), error);
        return 1;
    }
    ScHandle service(OpenServiceA(manager, name, DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service) {
        DWORD error = GetLastError();
        PrintErr("%s: no installed service named \"%s\": %s (%lu)\n", ProgramName().c_str(), name,
                 SystemMessage(error).c_str(), error);
        return 1;
    }
    PrintErr("Removing the %s service\n", name);
    SERVICE_STATUS st;
    memset(&st, 0, sizeof st);
    if (QueryServiceStatus(service, &st) && st.dwCurrentState != SERVICE_STOPPED) {
        ControlService(service, SERVICE_CONTROL_STOP, &st);
        DWORD start = GetTickCount();
        while (QueryServiceStatus(service, &st) && st.dwCurrentState != SERVICE_STOPPED &&
               GetTickCount() - start < 10000)
            Sleep(100);
    }
    if (!DeleteService(service)) {
        DWORD error = GetLastError();
        PrintErr("%s: failed to remove the service %s: %s (%lu)\n", ProgramName().c_str(), name,
                 SystemMessage(error).c_str(), error);
        return 1;
    }
    PrintErr("The %s service has been removed successfully.\n", name);
    return 0;
}

int RunAsService(const char* name, ServiceBody body)
{
    InitializeCriticalSection(&statusLock);
    memset(&status, 0, sizeof status);
    serviceName = name;
    serviceBody = body;
    stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    char nameBuffer[64];
    lstrcpynA(nameBuffer, name, sizeof nameBuffer);
    SERVICE_TABLE_ENTRYA table[] = {{nameBuffer, ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherA(table)) {
        DWORD error = GetLastError();
        PrintErr("%s: this switch is for the service control manager only: %s (%lu)\n", ProgramName().c_str(),
                 SystemMessage(error).c_str(), error);
        return 1;
    }
    return 0;
}

}  // namespace kit
