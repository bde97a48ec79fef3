// The monitor's tick: every 700 ms, on the user-interface thread, settle
// the state of each registered driver and react to a written
// configuration file.
#include "ServerMonitor.h"

#include "ServiceControl.h"

namespace {

UINT_PTR monitorTimer;

}  // namespace

void CALLBACK monitorTick(HWND, UINT, UINT_PTR, DWORD)
{
    for (int slot = 0; slot < serverTableSize; ++slot) {
        Server* server = serverTable[slot];
        if (!server)
            continue;

        // Step 1: settle the state from the service status or the process.
        if (server->serviceMode_ && server->service_) {
            SERVICE_STATUS status;
            if (QueryServiceStatus(server->service_, &status)) {
                switch (status.dwCurrentState) {
                case SERVICE_STOPPED:
                    server->state_ = Stopped;
                    break;
                case SERVICE_START_PENDING:
                case SERVICE_CONTINUE_PENDING:
                case SERVICE_PAUSE_PENDING:
                case SERVICE_PAUSED:
                    server->state_ = StartPending;
                    break;
                case SERVICE_STOP_PENDING:
                    server->state_ = StopPending;
                    break;
                case SERVICE_RUNNING:
                    server->state_ = Running;
                    break;
                default:
                    break;
                }
            }
        } else {
            DWORD pid = server->process_.dwProcessId;
            if (pid == 0 || GetProcessVersion(pid) == 0) {
                if (server->state_ == Running && !server->restartPending_ && server->notifyWindow_)
                    PostMessageA(server->notifyWindow_, server->messageId_, UnexpectedEnd, 0);
                if (server->process_.hThread)
                    CloseHandle(server->process_.hThread);
                if (server->process_.hProcess)
                    CloseHandle(server->process_.hProcess);
                ZeroMemory(&server->process_, sizeof server->process_);
                server->state_ = Stopped;
            } else if (server->state_ != StopPending) {
                server->state_ = Running;
            }
        }

        // Step 2: watch the configuration file of a running server.
        if (server->state_ != Running || !server->watchConfig_)
            continue;
        FILETIME written;
        ServiceControl::fileWriteTime(server->configPath_, &written);
        // Missing, unreadable or held open for writing by another program.
        if (written.dwLowDateTime == 0 || written.dwHighDateTime == 0)
            continue;
        if (written.dwLowDateTime == server->configTime_.dwLowDateTime &&
            written.dwHighDateTime == server->configTime_.dwHighDateTime)
            continue;
        if (server->notifyWindow_)
            PostMessageA(server->notifyWindow_, server->messageId_, ConfigChanged, 0);
        // The check may show a message box, and so may stop (Apache checks
        // again before its shutdown): their loops dispatch further ticks and
        // window messages, which may have destroyed the driver. It is looked
        // up again after each such call before it is touched.
        bool valid = server->checkConfig();
        if (serverTable[slot] != server)
            continue;
        if (valid) {
            server->stop();
            if (serverTable[slot] != server)
                continue;
            server->restartPending_ = true;  // after stop, which clears it
            server->reloadConfig();
        }
        server->configTime_ = written;
    }
}

UINT_PTR startServerMonitor()
{
    if (!monitorTimer)
        monitorTimer = SetTimer(nullptr, 0, monitorPeriodMs, monitorTick);
    return monitorTimer;
}
