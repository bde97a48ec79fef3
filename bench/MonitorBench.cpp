// Cost of one monitor tick for two drivers, in process mode, in service
// mode and with the configuration watch on, next to its floor: the same
// system calls made bare (a wait of 0 ms on the process; the open, GetFileTime and
// close of the configuration watch; QueryServiceStatus), measured in the
// same run, and the ratio of the two. Also a check that a tick makes no
// heap allocation. Not a test: run it by hand.
//   monitor_bench.exe [ticks]
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>

#include "ImportHook.h"
#include "Server.h"
#include "ServerMonitor.h"
#include "ServiceControl.h"

namespace {

// --- counting the allocations this program's code asks for -------------
// Every allocation entry point the program imports is redirected through
// its import table to a counting wrapper; code of the program (the drivers
// included, and the C++ runtime linked into it) cannot allocate unseen.

LONG allocCalls;

typedef void*(__cdecl* MallocFn)(size_t);
typedef void*(__cdecl* CallocFn)(size_t, size_t);
typedef void*(__cdecl* ReallocFn)(void*, size_t);
typedef LPVOID(WINAPI* HeapAllocFn)(HANDLE, DWORD, SIZE_T);
typedef LPVOID(WINAPI* HeapReAllocFn)(HANDLE, DWORD, LPVOID, SIZE_T);
typedef HLOCAL(WINAPI* LocalAllocFn)(UINT, SIZE_T);
typedef HGLOBAL(WINAPI* GlobalAllocFn)(UINT, SIZE_T);

MallocFn realMalloc;
CallocFn realCalloc;
ReallocFn realRealloc;
HeapAllocFn realHeapAlloc;
HeapReAllocFn realHeapReAlloc;
LocalAllocFn realLocalAlloc;
GlobalAllocFn realGlobalAlloc;

void* __cdecl countMalloc(size_t n) { ++allocCalls; return realMalloc(n); }
void* __cdecl countCalloc(size_t a, size_t b) { ++allocCalls; return realCalloc(a, b); }
void* __cdecl countRealloc(void* p, size_t n) { ++allocCalls; return realRealloc(p, n); }
LPVOID WINAPI countHeapAlloc(HANDLE h, DWORD f, SIZE_T n) { ++allocCalls; return realHeapAlloc(h, f, n); }
LPVOID WINAPI countHeapReAlloc(HANDLE h, DWORD f, LPVOID p, SIZE_T n) { ++allocCalls; return realHeapReAlloc(h, f, p, n); }
HLOCAL WINAPI countLocalAlloc(UINT f, SIZE_T n) { ++allocCalls; return realLocalAlloc(f, n); }
HGLOBAL WINAPI countGlobalAlloc(UINT f, SIZE_T n) { ++allocCalls; return realGlobalAlloc(f, n); }

struct Hook {
    const char* name;
    void* wrapper;
    void** real;
};

Hook hooks[] = {
    {"malloc", (void*)countMalloc, (void**)&realMalloc},
    {"calloc", (void*)countCalloc, (void**)&realCalloc},
    {"realloc", (void*)countRealloc, (void**)&realRealloc},
    {"HeapAlloc", (void*)countHeapAlloc, (void**)&realHeapAlloc},
    {"HeapReAlloc", (void*)countHeapReAlloc, (void**)&realHeapReAlloc},
    {"LocalAlloc", (void*)countLocalAlloc, (void**)&realLocalAlloc},
    {"GlobalAlloc", (void*)countGlobalAlloc, (void**)&realGlobalAlloc},
};

int hookImports()
{
    int patched = 0;
    for (Hook& hook : hooks) {
        int n = testkit::HookImport(hook.name, hook.wrapper, hook.real);
        if (n)
            printf("  hooked %s\n", hook.name);
        patched += n;
    }
    return patched;
}

// Busy blocks and bytes over every heap of the process (Windows' own
// allocations included): what a run of ticks leaves behind.
void heapUse(long* blocks, long long* bytes)
{
    HANDLE heaps[64];
    DWORD count = GetProcessHeaps(64, heaps);
    *blocks = 0;
    *bytes = 0;
    for (DWORD i = 0; i < count && i < 64; ++i) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry;
        entry.lpData = nullptr;
        while (HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
                ++*blocks;
                *bytes += entry.cbData;
            }
        }
        HeapUnlock(heaps[i]);
    }
}

// --- the drivers --------------------------------------------------------

char binDir[MAX_PATH];

class BenchServer : public Server {
public:
    explicit BenchServer(const char* name) : Server(name) {}
    HANDLE stopEvent = nullptr;
    char eventName[64] = "";

    DWORD pid() const { return process_.dwProcessId; }
    SC_HANDLE serviceHandle() const { return service_; }

    bool installService() override { return false; }
    bool uninstallService() override { return false; }
    DWORD startProcess() override
    {
        snprintf(eventName, sizeof eventName, "TvBenchStop_%lu_%p", GetCurrentProcessId(), (void*)this);
        stopEvent = CreateEventA(nullptr, TRUE, FALSE, eventName);
        char line[600];
        snprintf(line, sizeof line, "\"%sTvIdle.exe\" %s", binDir, eventName);
        STARTUPINFOA startup;
        ZeroMemory(&startup, sizeof startup);
        startup.cb = sizeof startup;
        return CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process_)
                   ? 0
                   : GetLastError();
    }
    DWORD stopProcess() override
    {
        if (stopEvent)
            SetEvent(stopEvent);
        return 0;
    }
    ~BenchServer() override
    {
        if (stopEvent) {
            SetEvent(stopEvent);
            CloseHandle(stopEvent);
        }
    }
};

bool pumpUntilRunning(Server** servers, int count, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        bool all = true;
        for (int i = 0; i < count; ++i)
            all = all && servers[i]->isRunning();
        if (all)
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

// The system calls a tick makes for one driver in each mode, bare: the
// floor under the tick's cost.
enum Floor { NoCalls, ProcessVersion, ProcessVersionAndWatch, ServiceStatus };

void floorCalls(Floor floor, BenchServer** servers, int count)
{
    for (int i = 0; i < count; ++i) {
        BenchServer* s = servers[i];
        if (floor == ServiceStatus) {
            SERVICE_STATUS status;
            QueryServiceStatus(s->serviceHandle(), &status);
            continue;
        }
        WaitForSingleObject(s->processHandle(), 0);
        if (floor == ProcessVersionAndWatch) {
            HANDLE file = CreateFileA(s->configPath(), 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            FILETIME written;
            GetFileTime(file, nullptr, nullptr, &written);
            CloseHandle(file);
        }
    }
}

struct Figures {
    double usPerTick;
    double usFloor;
    LONG allocs;
    long blockDelta;
    long long byteDelta;
};

double elapsedUs(const LARGE_INTEGER& t0, const LARGE_INTEGER& t1)
{
    static LARGE_INTEGER freq;
    if (!freq.QuadPart)
        QueryPerformanceFrequency(&freq);
    return double(t1.QuadPart - t0.QuadPart) * 1e6 / double(freq.QuadPart);
}

double median(double* values, int count)
{
    for (int i = 1; i < count; ++i)
        for (int j = i; j > 0 && values[j - 1] > values[j]; --j) {
            double t = values[j];
            values[j] = values[j - 1];
            values[j - 1] = t;
        }
    return count % 2 ? values[count / 2] : (values[count / 2 - 1] + values[count / 2]) / 2;
}

// The heap check over a run of ticks, then the tick's cost and its floor's
// in alternating rounds (the machine's load touches both alike); each is
// the median of the rounds.
Figures measure(int ticks, Floor floor, BenchServer** servers, int count)
{
    for (int i = 0; i < 50; ++i) {  // warm-up: caches, first-call set-ups
        MonitorTick(nullptr, 0, 0, 0);
        floorCalls(floor, servers, count);
    }
    long blocksBefore, blocksAfter;
    long long bytesBefore, bytesAfter;
    heapUse(&blocksBefore, &bytesBefore);
    LONG allocsBefore = allocCalls;
    for (int i = 0; i < ticks; ++i)
        MonitorTick(nullptr, 0, 0, 0);
    LONG allocs = allocCalls - allocsBefore;
    heapUse(&blocksAfter, &bytesAfter);

    const int rounds = 11;
    int perRound = ticks / rounds > 0 ? ticks / rounds : 1;
    double tick[rounds], bare[rounds];
    for (int r = 0; r < rounds; ++r) {
        LARGE_INTEGER t0, t1, t2;
        QueryPerformanceCounter(&t0);
        for (int i = 0; i < perRound; ++i)
            MonitorTick(nullptr, 0, 0, 0);
        QueryPerformanceCounter(&t1);
        for (int i = 0; i < perRound; ++i)
            floorCalls(floor, servers, count);
        QueryPerformanceCounter(&t2);
        tick[r] = elapsedUs(t0, t1) / perRound;
        bare[r] = elapsedUs(t1, t2) / perRound;
    }
    Figures f;
    f.usPerTick = median(tick, rounds);
    f.usFloor = median(bare, rounds);
    f.allocs = allocs;
    f.blockDelta = blocksAfter - blocksBefore;
    f.byteDelta = bytesAfter - bytesBefore;
    return f;
}

void print(const char* label, const Figures& f, int ticks, bool settled)
{
    char ratio[32] = "";
    if (f.usFloor >= 0.05)
        snprintf(ratio, sizeof ratio, "x%.2f", f.usPerTick / f.usFloor);
    printf("%-30s %8.1f us/tick  floor %8.1f us %6s  %ld allocation calls in %d ticks  heap net %+ld blocks %+lld "
           "bytes%s\n",
           label, f.usPerTick, f.usFloor, ratio, (long)f.allocs, ticks, f.blockDelta, f.byteDelta,
           settled ? "" : "  (NOT SETTLED)");
}

}  // namespace

int main(int argc, char** argv)
{
    int ticks = argc > 1 ? atoi(argv[1]) : 2000;
    if (ticks <= 0)
        ticks = 2000;
    GetModuleFileNameA(nullptr, binDir, sizeof binDir);
    if (char* slash = strrchr(binDir, '\\'))
        slash[1] = '\0';

    ServiceControl::acquire();
    StartServerMonitor();
    int patched = hookImports();
    printf("allocation entry points hooked in the program's imports: %d\n", patched);

    // Calibration: the counters see an allocation made by this program.
    {
        long blocksBefore, blocksAfter;
        long long bytesBefore, bytesAfter;
        heapUse(&blocksBefore, &bytesBefore);
        LONG before = allocCalls;
        void* kept[10];
        for (void*& p : kept)
            p = malloc(100);
        char* object = new char[100];
        LONG counted = allocCalls - before;
        heapUse(&blocksAfter, &bytesAfter);
        printf("calibration: 10 x malloc(100) + new char[100] kept: %ld allocation calls, heap net %+ld blocks %+lld "
               "bytes\n",
               (long)counted, blocksAfter - blocksBefore, bytesAfter - bytesBefore);
        delete[] object;
        for (void* p : kept)
            free(p);
    }

    // An empty table: the floor.
    print("empty serverTable", measure(ticks, NoCalls, nullptr, 0), ticks, true);

    // Process mode: two running programs, one wait of 0 ms on each.
    {
        BenchServer a("TvBenchA"), b("TvBenchB");
        a.start();
        b.start();
        Server* both[] = {&a, &b};
        BenchServer* bench[] = {&a, &b};
        bool settled = pumpUntilRunning(both, 2, 10000);
        print("process mode, 2 drivers", measure(ticks, ProcessVersion, bench, 2), ticks,
              settled && a.isRunning() && b.isRunning());

        // The same with the configuration watch on (files unchanged).
        char path[MAX_PATH];
        GetTempPathA(sizeof path, path);
        char confA[MAX_PATH], confB[MAX_PATH];
        snprintf(confA, sizeof confA, "%stv_bench_a_%lu.conf", path, GetCurrentProcessId());
        snprintf(confB, sizeof confB, "%stv_bench_b_%lu.conf", path, GetCurrentProcessId());
        for (const char* conf : {confA, confB}) {
            HANDLE file = CreateFileA(conf, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            DWORD written;
            WriteFile(file, "Port 80\n", 8, &written, nullptr);
            CloseHandle(file);
        }
        a.setConfigPath(confA);
        b.setConfigPath(confB);
        a.setWatchConfig(true);
        b.setWatchConfig(true);
        Figures f = measure(ticks, ProcessVersionAndWatch, bench, 2);
        print("process mode + config watch", f, ticks, a.isRunning() && b.isRunning() && !a.restartPending());
        a.setWatchConfig(false);
        b.setWatchConfig(false);
        a.stop();
        b.stop();
        pumpUntilRunning(both, 0, 0);
        DeleteFileA(confA);
        DeleteFileA(confB);
    }

    // Service mode: two running services, one QueryServiceStatus each.
    {
        SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        char names[2][64];
        bool created[2] = {false, false};
        for (int i = 0; i < 2; ++i) {
            snprintf(names[i], sizeof names[i], "TvBenchSvc%d_%lu", i, GetCurrentProcessId());
            char binary[600];
            snprintf(binary, sizeof binary, "\"%sTvService.exe\" %s", binDir, names[i]);
            SC_HANDLE s = scm ? CreateServiceA(scm, names[i], names[i], SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                               SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, binary, nullptr, nullptr,
                                               nullptr, nullptr, nullptr)
                              : nullptr;
            if (s) {
                created[i] = true;
                CloseServiceHandle(s);
            }
        }
        {
            BenchServer a(names[0]), b(names[1]);
            a.setServiceMode(true);
            b.setServiceMode(true);
            a.start();
            b.start();
            Server* both[] = {&a, &b};
            BenchServer* bench[] = {&a, &b};
            bool settled = pumpUntilRunning(both, 2, 15000);
            print("service mode, 2 drivers", measure(ticks, ServiceStatus, bench, 2), ticks,
                  settled && a.isRunning() && b.isRunning());
            a.stop();
            b.stop();
        }
        for (int i = 0; i < 2; ++i) {
            if (!created[i])
                continue;
            SC_HANDLE s = OpenServiceA(scm, names[i], SERVICE_ALL_ACCESS);
            SERVICE_STATUS st;
            for (int n = 0; n < 200 && QueryServiceStatus(s, &st) && st.dwCurrentState != SERVICE_STOPPED; ++n)
                Sleep(50);
            DeleteService(s);
            CloseServiceHandle(s);
        }
        if (scm)
            CloseServiceHandle(scm);
    }

    ServiceControl::release();
    return 0;
}
