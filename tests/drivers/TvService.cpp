// A minimal service program for the driver tests:
//   TvService.exe NAME [--start-delay MS] [--stop-delay MS]
// Runs as the own-process service NAME, accepts stop, pause and continue,
// and stays in SERVICE_START_PENDING for the start delay after its start
// and in SERVICE_STOP_PENDING for the stop delay after a stop.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

char serviceName[256];
DWORD startDelayMs;
DWORD stopDelayMs;
SERVICE_STATUS_HANDLE statusHandle;
SERVICE_STATUS status;
HANDLE stopEvent;

void report(DWORD state)
{
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted =
        (state == SERVICE_RUNNING || state == SERVICE_PAUSED) ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE : 0;
    status.dwWin32ExitCode = NO_ERROR;
    status.dwWaitHint = state == SERVICE_STOP_PENDING    ? stopDelayMs + 1000
                        : state == SERVICE_START_PENDING ? startDelayMs + 1000
                                                         : 0;
    ++status.dwCheckPoint;
    SetServiceStatus(statusHandle, &status);
}

DWORD WINAPI handler(DWORD control, DWORD, void*, void*)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
        report(SERVICE_STOP_PENDING);
        SetEvent(stopEvent);
        return NO_ERROR;
    case SERVICE_CONTROL_PAUSE:
        report(SERVICE_PAUSED);
        return NO_ERROR;
    case SERVICE_CONTROL_CONTINUE:
        report(SERVICE_RUNNING);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        report(status.dwCurrentState);
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI serviceMain(DWORD, char**)
{
    statusHandle = RegisterServiceCtrlHandlerExA(serviceName, handler, nullptr);
    if (!statusHandle)
        return;
    if (startDelayMs) {
        report(SERVICE_START_PENDING);
        Sleep(startDelayMs);
    }
    report(SERVICE_RUNNING);
    WaitForSingleObject(stopEvent, INFINITE);
    Sleep(stopDelayMs);
    report(SERVICE_STOPPED);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    snprintf(serviceName, sizeof serviceName, "%s", argv[1]);
    for (int i = 2; i + 1 < argc; ++i)
        if (!strcmp(argv[i], "--stop-delay"))
            stopDelayMs = strtoul(argv[i + 1], nullptr, 10);
        else if (!strcmp(argv[i], "--start-delay"))
            startDelayMs = strtoul(argv[i + 1], nullptr, 10);
    stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SERVICE_TABLE_ENTRYA table[] = {{serviceName, serviceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
