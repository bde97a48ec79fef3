#include "Launch.h"

// The startup record the shipped (32-bit) program hands to CreateProcessA.
#ifndef _WIN64
static_assert(sizeof(STARTUPINFOA) == 68, "STARTUPINFOA is 68 bytes on 32-bit Windows");
#endif

DWORD LaunchHidden(const HiddenLaunch& launch, HANDLE* process, DWORD* pid)
{
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.lpTitle = const_cast<char*>(launch.title);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    if (launch.output) {
        startup.dwFlags |= STARTF_USESTDHANDLES;
        startup.hStdOutput = launch.output;
        startup.hStdError = launch.output;
    }
    PROCESS_INFORMATION created;
    ZeroMemory(&created, sizeof created);
    if (!CreateProcessA(launch.program, launch.commandLine, nullptr, nullptr, launch.inherit, launch.creation, nullptr,
                        launch.directory, &startup, &created))
        return GetLastError();
    CloseHandle(created.hThread);
    if (process)
        *process = created.hProcess;
    else
        CloseHandle(created.hProcess);
    if (pid)
        *pid = created.dwProcessId;
    return 0;
}
