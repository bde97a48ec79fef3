// The manager's resources over many start/stop cycles of the stack through
// command words, run by hand:
//   cycle_bench [cycles=200]
// Prints the manager's handles, GDI and USER objects and private memory
// after the first cycle and after the last, their difference, and whether
// any stand-in process is left after the quit.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "BenchUsage.h"
#include "E2eKit.h"
#include "TestKit.h"

namespace {

void Print(const char* when, const e2e::Usage& u)
{
    printf("  %-16s handles %5lu   GDI %4lu   USER %4lu   windows %3lu   private %7lu KB\n", when, u.handles,
           u.gdiObjects, u.userObjects, u.windows, static_cast<unsigned long>(u.privateBytes / 1024));
}

// Both servers up and the page served, then both down and gone.
bool Cycle(e2e::ManagerRun& run)
{
    int status = 0;
    std::string body;
    return run.run("/start") && run.waitStatus("Started", 30000) &&
           testkit::PumpUntil([&] { return e2e::HttpGet(run.kit.port(), "/", &status, &body) && status == 200; },
                              5000) &&
           run.run("/stop") && run.waitStatus("Stopped", 30000) && run.waitNoStandIns();
}

}  // namespace

int main(int argc, char** argv)
{
    const int cycles = argc > 1 ? atoi(argv[1]) : 200;
    e2e::ManagerRun run("cycles");
    if (cycles < 1 || !run.ok() || !run.launch() || !run.waitStatus("Stopped")) {
        fprintf(stderr, "cycle_bench: the manager did not come up\n");
        return 1;
    }
    printf("cycle_bench: %d start/stop cycles of the stack through /start and /stop\n", cycles);
    double t0 = e2e::NowMs();
    e2e::Usage first, last;
    for (int i = 1; i <= cycles; ++i) {
        if (!Cycle(run)) {
            fprintf(stderr, "cycle_bench: cycle %d failed: \"%s\" \"%s\"\n", i, run.text(1027).c_str(),
                    run.text(1026).c_str());
            return 1;
        }
        // A moment for the helpers' handles to close and the last ticks;
        // samples every 50 cycles show whether a difference grows.
        if (i == 1 || i == cycles || i % 50 == 0) {
            Sleep(1500);
            e2e::Usage now = e2e::ReadUsage(run.process, run.kit.root());
            if (i == 1)
                first = now;
            if (i == cycles)
                last = now;
            char label[32];
            snprintf(label, sizeof label, "after cycle %d", i);
            Print(label, now);
        }
    }
    double seconds = (e2e::NowMs() - t0) / 1000.0;
    printf("  %d cycles in %.0f s (%.1f s a cycle)\n", cycles, seconds, seconds / cycles);
    printf("  %-16s handles %+5ld   GDI %+4ld   USER %+4ld   windows %+3ld   private %+7ld KB\n", "difference",
           static_cast<long>(last.handles) - static_cast<long>(first.handles),
           static_cast<long>(last.gdiObjects) - static_cast<long>(first.gdiObjects),
           static_cast<long>(last.userObjects) - static_cast<long>(first.userObjects),
           static_cast<long>(last.windows) - static_cast<long>(first.windows),
           (static_cast<long>(last.privateBytes) - static_cast<long>(first.privateBytes)) / 1024);
    if (first.handlesFromTable)
        printf("  (handles from the system handle table: GetProcessHandleCount gives 0 here)\n");
    if (!first.gdiObjects && !first.userObjects)
        printf("  (GDI and USER: GetGuiResources gives 0 here, as on Wine; windows are counted instead)\n");
    run.run("/quit");
    bool ended = run.ended(10000);
    std::vector<std::string> left = run.liveStandIns();
    printf("after /quit: manager %s; stand-ins left: %s\n", ended ? "ended" : "STILL RUNNING",
           left.empty() ? "none" : "");
    for (const std::string& process : left)
        printf("    %s\n", process.c_str());
    return ended && left.empty() ? 0 : 1;
}
