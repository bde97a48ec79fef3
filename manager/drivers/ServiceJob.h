// The service commands of a switch between child processes and services,
// run on a thread of their own so that the window goes on while the
// servers' own install and removal commands run (each may take seconds).
// The thread runs programs and asks the service manager; it touches no
// driver: what it found comes back in its steps, which the drivers take up
// on the user-interface thread when the posted message arrives.
#pragma once

#include <windows.h>

// One server's part of a switch.
struct ServiceStep {
    char name[32];                // the service
    char command[2 * MAX_PATH];   // its install or removal command
    char undo[2 * MAX_PATH];      // the opposite command (empty: none)
    bool install;
    // Settled before it runs (a service of that name was there already):
    // no command is run, and done is already what the step found.
    bool skip;
    // A removal: the service's process as last seen running, which must
    // end before the service goes (owned by the step; null: none).
    HANDLE endingProcess;
    // What the step found, filled by RunServiceSteps: whether the command
    // did what it was for, and the service as it stands at the end (null:
    // there is none), for the driver to keep.
    bool done;
    SC_HANDLE service;
};

// How long a service command may take, and a stopped service's process.
const DWORD ServiceCommandWaitMs = 15000;
const DWORD ServiceProcessEndWaitMs = 5000;

// Runs the steps in order on the calling thread: each waits for its
// service's process (bounded), runs its command hidden and waits for it
// (bounded), then looks at the service (an installed one gets its image
// path quoted). When one step did not do its work, the steps that did are
// undone, so that every service is left as it was. True when all worked.
bool RunServiceSteps(ServiceStep* steps, int count);

// Writes a service's image path again with its program in quotes when it
// is registered bare; true when it is quoted (or was already).
bool QuoteServiceImagePath(SC_HANDLE service);

const int ServiceJobCapacity = 4;

// RunServiceSteps on a thread of its own. When the steps are done the
// thread posts `message` to `window` with lParam naming the job for take().
class ServiceJob {
public:
    ServiceJob();
    ~ServiceJob();
    // Starts the thread over a copy of the steps (at most
    // ServiceJobCapacity); the job owns their handles from here on. False,
    // with the handles left to the caller, when a job runs or the thread
    // cannot start.
    bool start(HWND window, UINT message, const ServiceStep* steps, int count);
    // From start until its result is taken (or the job cancelled).
    bool running() const { return job_ != nullptr; }
    // The steps as the thread left them, copied into steps (as many as
    // were started), for the message whose lParam is `posted`; the job is
    // over then and the service handles are the caller's. False for a
    // message of a cancelled job.
    bool take(LPARAM posted, ServiceStep* steps, int count);
    // Nothing more is posted; a thread still at work ends on its own and
    // closes what it holds. Waits for nothing.
    void cancel();

private:
    struct Job;
    static DWORD WINAPI run(void* job);
    static void release(Job* job);
    Job* job_;
    ServiceJob(const ServiceJob&) = delete;
    ServiceJob& operator=(const ServiceJob&) = delete;
};
