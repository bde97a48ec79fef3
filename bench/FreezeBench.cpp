// How long the manager's window goes without answering, run by hand:
//   freeze_bench [runs=3] [manager]
// (manager: another Tarvane.exe to measure, e.g. the 32-bit one as it ships
// or an earlier build, as a Windows path; by default the build's own.)
// A thread of this program sends WM_NULL to the manager's window again and
// again (testkit::AnswerProbe) and keeps the longest time an answer took: a
// window whose thread is busy elsewhere answers only when its thread reads
// its messages again. Measured over a switch from child
// processes to services (the settings page's Apply until "Started" in
// both status texts), the switch back, and a /stop (until "Stopped" with
// no server process left), each next to the operation's total time; the
// floor is the longest answer over as long a time with the manager idle,
// in the same run. Medians over the runs. Beside them, the time of Apache's
// syntax test done bare, which the window still waits for.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "E2eKit.h"
#include "TestKit.h"

namespace {

const int servicesBox = 1019;  // the settings page's service option
const int applyButton = 1029;

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Row {
    const char* what;
    std::vector<double> total, longest, floor;
};

// The longest answer while the manager is idle for ms.
double IdleFloor(testkit::AnswerProbe& probe, double ms)
{
    probe.reset();
    Sleep(static_cast<DWORD>(ms));
    return probe.longestMs();
}

// Applies the service option; the time until both status texts show
// "Started", or a negative one.
double Switch(e2e::ManagerRun& run, bool services)
{
    SendDlgItemMessageA(run.window, servicesBox, BM_SETCHECK, services ? BST_CHECKED : BST_UNCHECKED, 0);
    double t0 = e2e::NowMs();
    run.click(applyButton);
    // The texts show "Stopped" (or a pending state) before they show
    // "Started" again in the new mode.
    if (!testkit::PumpUntil([&] { return !run.waitStatus("Started", 0); }, 20000) ||
        !run.waitStatus("Started", 60000))
        return -1;
    return e2e::NowMs() - t0;
}

// Apache's syntax test as the manager once ran it (a batch file through
// cmd.exe, waited for on the window's thread), bare: what the window used
// to wait for at an Apache start and stop. Its time in ms, or a negative
// one.
double SyntaxTest(const testkit::KitLayout& kit)
{
    const std::string batch = kit.apacheDir() + "floorchk.bat", output = kit.apacheDir() + "floorchk.txt";
    testkit::WriteFileBytes(batch, kit.apacheDir() + "Apache.exe -t 2> " + output + "\r\n");
    double t0 = e2e::NowMs();
    DWORD code = 0;
    bool ran = testkit::RunProcess("cmd.exe /c " + batch, &code);
    double t = e2e::NowMs() - t0;
    DeleteFileA(batch.c_str());
    DeleteFileA(output.c_str());
    return ran ? t : -1;
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? atoi(argv[1]) : 3;
    e2e::ManagerRun run("freeze");
    if (argc > 2 && !CopyFileA(argv[2], run.exe.c_str(), FALSE)) {
        fprintf(stderr, "freeze_bench: %s cannot be copied\n", argv[2]);
        return 1;
    }
    if (runs < 1 || !run.ok() || !run.launch() || !run.waitStatus("Stopped")) {
        fprintf(stderr, "freeze_bench: the manager did not come up\n");
        return 1;
    }
    testkit::AnswerProbe probe(run.window);
    std::vector<double> syntaxTests;
    Row rows[3] = {{"switch to services: Apply -> \"Started\"", {}, {}, {}},
                   {"switch back to programs: Apply -> \"Started\"", {}, {}, {}},
                   {"/stop -> \"Stopped\", no server process", {}, {}, {}}};
    for (int i = 0; i < runs; ++i) {
        run.run("/start");
        if (!run.waitStatus("Started", 30000)) {
            fprintf(stderr, "freeze_bench: run %d: not started\n", i + 1);
            return 1;
        }
        for (int direction = 0; direction < 2; ++direction) {
            Sleep(1000);  // past the first status ticks in the new state
            probe.reset();
            double total = Switch(run, direction == 0);
            double longest = probe.longestMs();
            if (total < 0) {
                fprintf(stderr, "freeze_bench: run %d: the switch did not end with both started\n", i + 1);
                return 1;
            }
            rows[direction].total.push_back(total);
            rows[direction].longest.push_back(longest);
            rows[direction].floor.push_back(IdleFloor(probe, total));
        }
        Sleep(1000);
        probe.reset();
        double t0 = e2e::NowMs();
        run.run("/stop");
        if (!run.waitStatus("Stopped", 30000) || !run.waitNoStandIns()) {
            fprintf(stderr, "freeze_bench: run %d: not stopped\n", i + 1);
            return 1;
        }
        double total = e2e::NowMs() - t0;
        rows[2].total.push_back(total);
        rows[2].longest.push_back(probe.longestMs());
        rows[2].floor.push_back(IdleFloor(probe, total));
        syntaxTests.push_back(SyntaxTest(run.kit));
    }
    printf("freeze_bench: %d runs on the stand-in kit, ms (medians): the operation's total time; the window's "
           "longest answer to WM_NULL during it; the floor, the longest answer over as long a time with the "
           "manager idle in this run; and the ratio\n",
           runs);
    for (const Row& row : rows)
        printf("  %-46s total %6.0f   longest answer %6.1f   floor %5.1f   x%.1f\n", row.what, Median(row.total),
               Median(row.longest), Median(row.floor), Median(row.longest) / std::max(Median(row.floor), 0.1));
    printf("  for comparison, Apache's syntax test through cmd.exe, bare: %.0f ms (what the window once waited for "
           "at each Apache start and stop)\n",
           Median(syntaxTests));
    run.run("/quit");
    bool clean = run.ended(10000) && run.waitNoStandIns();
    printf("after /quit: %s\n", clean ? "manager ended, no stand-in left" : "SOMETHING LEFT RUNNING");
    return clean ? 0 : 1;
}
