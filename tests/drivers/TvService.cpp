// A minimal service program for the driver tests:
//   TvService.exe NAME [--start-delay MS] [--stop-delay MS] [--pause-delay MS]
// Runs as the own-process service NAME and accepts stop, pause and
// continue. Each delay keeps the matching pending state (start, stop,
// pause and continue) for that long before the final one is reported.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

char serviceName[256];
DWORD startDelayMs;
DWORD stopDelayMs;
DWORD pauseDelayMs;
SERVICE_STATUS_HANDLE statusHandle;
SERVICE_STATUS status;
HANDLE changeEvent;        // the handler asks the service thread for a change
volatile LONG targetState;  // SERVICE_STOPPED, SERVICE_PAUSED or SERVICE_RUNNING

void report(DWORD state)
{
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted =
        (state == SERVICE_RUNNING || state == SERVICE_PAUSED) ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE : 0;
    status.dwWin32ExitCode = NO_ERROR;
    status.dwWaitHint = (state == SERVICE_RUNNING || state == SERVICE_PAUSED || state == SERVICE_STOPPED) ? 0 : 10000;
    ++status.dwCheckPoint;
    SetServiceStatus(statusHandle, &status);
}

void requestChange(DWORD pending, DWORD target)
{
    report(pending);
    InterlockedExchange(&targetState, static_cast<LONG>(target));
    SetEvent(changeEvent);
}

DWORD WINAPI handler(DWORD control, DWORD, void*, void*)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
        requestChange(SERVICE_STOP_PENDING, SERVICE_STOPPED);
        return NO_ERROR;
    case SERVICE_CONTROL_PAUSE:
        requestChange(SERVICE_PAUSE_PENDING, SERVICE_PAUSED);
        return NO_ERROR;
    case SERVICE_CONTROL_CONTINUE:
        requestChange(SERVICE_CONTINUE_PENDING, SERVICE_RUNNING);
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
    for (;;) {
        WaitForSingleObject(changeEvent, INFINITE);
        DWORD target = static_cast<DWORD>(targetState);
        Sleep(target == SERVICE_STOPPED ? stopDelayMs : pauseDelayMs);
        report(target);
        if (target == SERVICE_STOPPED)
            return;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    snprintf(serviceName, sizeof serviceName, "%s", argv[1]);
    for (int i = 2; i + 1 < argc; ++i) {
        DWORD value = strtoul(argv[i + 1], nullptr, 10);
        if (!strcmp(argv[i], "--stop-delay"))
            stopDelayMs = value;
        else if (!strcmp(argv[i], "--start-delay"))
            startDelayMs = value;
        else if (!strcmp(argv[i], "--pause-delay"))
            pauseDelayMs = value;
    }
    changeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    SERVICE_TABLE_ENTRYA table[] = {{serviceName, serviceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
