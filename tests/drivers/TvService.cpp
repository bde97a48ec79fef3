// A minimal service program for the driver tests:
//   TvService.exe NAME [--start-delay MS] [--stop-delay MS] [--pause-delay MS]
//                [--listen PORT]
// Runs as the own-process service NAME and accepts stop, pause and
// continue; with --listen it holds TCP PORT on 127.0.0.1 while it runs. Each delay keeps the matching pending state (start, stop,
// pause and continue) for that long before the final one is reported.
#include <winsock2.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

char serviceName[256];
DWORD startDelayMs;
DWORD stopDelayMs;
DWORD pauseDelayMs;
int listenPort;
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
    SOCKET listener = INVALID_SOCKET;
    if (listenPort) {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
        listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(listenPort));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 4) != 0)
            return;  // never reported running: the test sees the start fail
    }
    report(SERVICE_RUNNING);
    for (;;) {
        WaitForSingleObject(changeEvent, INFINITE);
        DWORD target = static_cast<DWORD>(targetState);
        Sleep(target == SERVICE_STOPPED ? stopDelayMs : pauseDelayMs);
        if (target == SERVICE_STOPPED && listener != INVALID_SOCKET)
            closesocket(listener);
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
        else if (!strcmp(argv[i], "--listen"))
            listenPort = static_cast<int>(value);
    }
    changeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    SERVICE_TABLE_ENTRYA table[] = {{serviceName, serviceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
