// Figures of the stack on the stand-in kit, run by hand:
//   stack_bench [runs=5] [idle seconds=60]
// For each run, from the launch of a further start with /start: both new
// server processes alive (the monitor marks them Running at its next tick,
// at most 700 ms later), and "Started" in both status texts; the first byte
// of the local web page asked for as soon as "Started" shows (a connection
// refused while Apache is not listening yet is tried again); and from /stop
// to "Stopped" with no server process left. Medians over the runs. Then,
// with the stack running, the manager's CPU time over the idle period, its
// private memory, handles, GDI and USER objects.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchUsage.h"
#include "E2eKit.h"
#include "TestKit.h"

namespace {

// How many server processes the kit's records show started, and the
// newest Apache and MySQL server among them.
size_t Servers(const testkit::KitLayout& kit, DWORD* apache, DWORD* mysql)
{
    size_t n = 0;
    for (const auto& r : kit.apacheRecords())
        if (r.event == "run" && r.cmdLine.find("-k start") != std::string::npos)
            *apache = r.pid, ++n;
    for (const auto& r : kit.mysqlRecords())
        if (r.event == "run" && r.program == "mysqld-nt.exe")
            *mysql = r.pid, ++n;
    return n;
}

bool Alive(DWORD pid)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    bool alive = process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    if (process)
        CloseHandle(process);
    return alive;
}

void Print(const char* what, std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    printf("  %-58s %7.0f   (%.0f - %.0f)\n", what, values[values.size() / 2], values.front(), values.back());
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? atoi(argv[1]) : 5;
    const int idleSeconds = argc > 2 ? atoi(argv[2]) : 60;
    e2e::ManagerRun run("bench");
    if (runs < 1 || !run.ok() || !run.launch() || !run.waitStatus("Stopped")) {
        fprintf(stderr, "stack_bench: the manager did not come up\n");
        return 1;
    }
    const int port = run.kit.port();
    std::vector<double> alive, started, firstByte, stopped;
    for (int i = 0; i < runs; ++i) {
        DWORD apache = 0, mysql = 0;
        const size_t before = Servers(run.kit, &apache, &mysql);
        double t0 = e2e::NowMs(), tAlive = 0, tStarted = 0;
        HANDLE word = testkit::StartProcess("\"" + run.exe + "\" /start");
        while (e2e::NowMs() - t0 < 30000 && !(tAlive && tStarted)) {
            if (!tAlive && Servers(run.kit, &apache, &mysql) == before + 2 && Alive(apache) && Alive(mysql))
                tAlive = e2e::NowMs();
            if (!tStarted && run.text(1027).find("Started") != std::string::npos &&
                run.text(1026).find("Started") != std::string::npos)
                tStarted = e2e::NowMs();
            Sleep(2);
        }
        if (word)
            CloseHandle(word);
        int status = 0;
        std::string body;
        double tFirstByte = 0;
        while (tStarted && e2e::NowMs() - tStarted < 10000 &&
               !(e2e::HttpGet(port, "/", &status, &body, &tFirstByte) && status == 200))
            Sleep(2);
        if (!tAlive || !tStarted || status != 200) {
            fprintf(stderr, "stack_bench: run %d: not started (%s / %s)\n", i + 1, run.text(1027).c_str(),
                    run.text(1026).c_str());
            return 1;
        }
        alive.push_back(tAlive - t0);
        started.push_back(tStarted - t0);
        firstByte.push_back(tFirstByte - tStarted);

        t0 = e2e::NowMs();
        run.run("/stop");
        if (!run.waitStatus("Stopped", 30000) || !run.waitNoStandIns()) {
            fprintf(stderr, "stack_bench: run %d: not stopped\n", i + 1);
            return 1;
        }
        stopped.push_back(e2e::NowMs() - t0);
    }
    printf("stack_bench: %d runs on the stand-in kit, ms: median (min - max)\n", runs);
    Print("/start -> both server processes alive", alive);
    Print("/start -> \"Started\" in both status texts", started);
    Print("\"Started\" -> first byte of http://127.0.0.1:<port>/", firstByte);
    Print("/stop -> \"Stopped\" in both texts, no server process", stopped);

    run.run("/start");
    if (!run.waitStatus("Started", 30000)) {
        fprintf(stderr, "stack_bench: not started for the idle period\n");
        return 1;
    }
    Sleep(2000);
    e2e::Usage before = e2e::ReadUsage(run.process, run.kit.root());
    Sleep(idleSeconds * 1000);
    e2e::Usage after = e2e::ReadUsage(run.process, run.kit.root());
    if (before.cpuMs < 0 || after.cpuMs < 0) {
        fprintf(stderr, "stack_bench: the manager's CPU time cannot be read\n");
        return 1;
    }
    double cpu = after.cpuMs - before.cpuMs;
    printf("idle manager over %d s with the stack running: CPU %.0f ms (%.2f %% of one core)%s\n", idleSeconds, cpu,
           idleSeconds ? 100.0 * cpu / (idleSeconds * 1000.0) : 0.0,
           after.cpuFromUnix ? ", Wine's Unix process, 10 ms ticks" : "");
    printf("manager: private memory %lu KB, handles %lu%s, ", static_cast<unsigned long>(after.privateBytes / 1024),
           after.handles, after.handlesFromTable ? " (system handle table)" : "");
    if (after.gdiObjects || after.userObjects)
        printf("GDI objects %lu, USER objects %lu", after.gdiObjects, after.userObjects);
    else
        printf("GDI and USER objects not reported by the system (GetGuiResources gives 0)");
    printf(", windows %lu\n", after.windows);
    run.run("/quit");
    bool clean = run.ended(10000) && run.waitNoStandIns();
    printf("after /quit: %s\n", clean ? "manager ended, no stand-in left" : "SOMETHING LEFT RUNNING");
    return clean ? 0 : 1;
}
