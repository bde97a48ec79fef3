#include "ServiceJob.h"

#include <stdio.h>
#include <string.h>

#include "Server.h"
#include "ServiceControl.h"

namespace {

// Runs a command hidden and waits (bounded) for its end; true when it ran
// and did not say it failed (an exit code other than 0; one still running
// at the end of the wait is not taken for a failure).
bool RunAndWait(const char* cmdLine)
{
    HANDLE process = Server::runHiddenProcess(cmdLine, nullptr);
    if (!process)
        return false;
    WaitForSingleObject(process, ServiceCommandWaitMs);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return code == 0 || code == STILL_ACTIVE;
}

// An installed service gets its image path quoted; rewriting it takes all
// rights, which only this asks for.
void QuoteInstalled(const char* name)
{
    SC_HANDLE service = ServiceControl::openService(name, ServiceControl::ServiceAll);
    if (!service)
        return;
    QuoteServiceImagePath(service);
    CloseServiceHandle(service);
}

// Runs a step's command (or, undoing, the opposite one) and looks at the
// service afterwards; true when the service is as the command wanted.
bool RunStep(ServiceStep* step, bool undo)
{
    bool install = step->install != undo;
    if (step->service) {
        // A service that is to go must have no handle left open.
        CloseServiceHandle(step->service);
        step->service = nullptr;
    }
    bool worked = RunAndWait(undo ? step->undo : step->command);
    // Whether it worked shows in the service manager, whatever the command
    // said; a service of that name left by another program does not count
    // when the command failed. (The driver looks again at whose service it
    // is when it takes the step up.)
    step->service = ServiceControl::openService(step->name, ServiceControl::ServiceStatus);
    if (!install)
        return step->service == nullptr;
    if (!step->service || !worked)
        return false;
    QuoteInstalled(step->name);
    return true;
}

}  // namespace

bool RunServiceSteps(ServiceStep* steps, int count)
{
    bool all = true;
    for (int i = 0; i < count; ++i) {
        ServiceStep* step = &steps[i];
        if (step->endingProcess) {
            WaitForSingleObject(step->endingProcess, ServiceProcessEndWaitMs);
            CloseHandle(step->endingProcess);
            step->endingProcess = nullptr;
        }
        // A step settled beforehand (a service already there) runs nothing.
        if (!step->skip)
            step->done = RunStep(step, false);
        else if (step->install && step->done)
            QuoteInstalled(step->name);
        all = all && step->done;
    }
    if (all)
        return true;
    // What one switch did is undone: both servers stay as they were.
    for (int i = 0; i < count; ++i)
        if (steps[i].done && steps[i].undo[0])
            RunStep(&steps[i], true);
    return false;
}

bool QuoteServiceImagePath(SC_HANDLE service)
{
    if (!service)
        return false;
    DWORD size = 0;
    QueryServiceConfigA(service, nullptr, 0, &size);
    if (!size)
        return false;
    QUERY_SERVICE_CONFIGA* config = static_cast<QUERY_SERVICE_CONFIGA*>(LocalAlloc(LMEM_FIXED, size));
    if (!config)
        return false;
    bool quoted = false;
    if (QueryServiceConfigA(service, config, size, &size) && config->lpBinaryPathName) {
        const char* image = config->lpBinaryPathName;
        // The program is the path up to ".exe" followed by a blank or the
        // end; an unquoted one with blanks in it would start
        // "C:\Program.exe" (for instance) with the service's rights.
        const char* end = nullptr;
        for (const char* at = image; *at && !end; ++at)
            if (_strnicmp(at, ".exe", 4) == 0 && (at[4] == '\0' || at[4] == ' '))
                end = at + 4;
        quoted = image[0] == '"';
        if (!quoted && end) {
            char line[2 * MAX_PATH];
            int length = snprintf(line, sizeof line, "\"%.*s\"%s", static_cast<int>(end - image), image, end);
            quoted = length > 0 && length < static_cast<int>(sizeof line) &&
                     ChangeServiceConfigA(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, line,
                                          nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
        }
    }
    LocalFree(config);
    return quoted;
}

// One job's state, shared by the thread and the object that started it:
// whichever lets go last frees it (closing the handles nobody took), so a
// thread that outlives its object writes into nothing freed.
struct ServiceJob::Job {
    volatile LONG references;
    HWND volatile window;
    UINT message;
    int count;
    ServiceStep steps[ServiceJobCapacity];
};

void ServiceJob::release(Job* job)
{
    if (!job || InterlockedDecrement(&job->references) != 0)
        return;
    for (int i = 0; i < job->count; ++i) {
        if (job->steps[i].endingProcess)
            CloseHandle(job->steps[i].endingProcess);
        if (job->steps[i].service)
            CloseServiceHandle(job->steps[i].service);
    }
    HeapFree(GetProcessHeap(), 0, job);
}

ServiceJob::ServiceJob() : job_(nullptr) {}

ServiceJob::~ServiceJob()
{
    cancel();
}

bool ServiceJob::start(HWND window, UINT message, const ServiceStep* steps, int count)
{
    if (job_ || count < 0 || count > ServiceJobCapacity)
        return false;
    Job* job = static_cast<Job*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Job)));
    if (!job)
        return false;
    job->references = 2;
    job->window = window;
    job->message = message;
    job->count = count;
    CopyMemory(job->steps, steps, count * sizeof *steps);
    HANDLE thread = CreateThread(nullptr, 0, run, job, 0, nullptr);
    if (!thread) {
        HeapFree(GetProcessHeap(), 0, job);
        return false;
    }
    CloseHandle(thread);
    job_ = job;
    return true;
}

bool ServiceJob::take(LPARAM posted, ServiceStep* steps, int count)
{
    if (!job_ || posted != reinterpret_cast<LPARAM>(job_))
        return false;
    // The thread posts only once it is done with the steps.
    int n = count < job_->count ? count : job_->count;
    CopyMemory(steps, job_->steps, n * sizeof *steps);
    for (int i = 0; i < n; ++i) {
        job_->steps[i].endingProcess = nullptr;
        job_->steps[i].service = nullptr;
    }
    release(job_);
    job_ = nullptr;
    return true;
}

void ServiceJob::cancel()
{
    if (!job_)
        return;
    InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&job_->window), nullptr);
    release(job_);
    job_ = nullptr;
}

DWORD WINAPI ServiceJob::run(void* context)
{
    Job* job = static_cast<Job*>(context);
    RunServiceSteps(job->steps, job->count);
    HWND window = static_cast<HWND>(
        InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&job->window), nullptr));
    if (window)
        PostMessageA(window, job->message, 0, reinterpret_cast<LPARAM>(job));
    release(job);
    return 0;
}
