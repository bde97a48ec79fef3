// Figures of the stack on the stand-in kit, run by hand:
//   stack_bench [runs=5] [idle seconds=60]
// Each figure is printed next to its floor, the same system work done bare
// in the same run, and the ratio of the two. The floors come from
// idlefloor.exe, a bare program copied into the kit beside Tarvane.exe and
// driven and watched the same way: a further start of it with /start or
// /stop hands it the word, and it does the manager's system work (its one
// table of steps follows the manager's) and shows "Started" or "Stopped".
// For each run, from the launch of a further start with /start: both new
// server processes alive, and "Started" in both status texts; the first
// byte of the local web page asked for as soon as "Started" shows (a
// connection refused while Apache is not listening yet is tried again);
// and from the launch of a further start with /stop to "Stopped" with no
// server process left. Medians over the runs. Then, with the stack
// running, the manager's CPU time over the idle period, with the pointer
// away from the windows and then resting over the manager's window (on a
// status text, which has a tooltip), beside that of idlefloor.exe (a
// window with a slider, a tray icon blinking on a 500 ms timer, a look at
// both servers every 700 ms) over a period as long with the pointer away and
// then resting over its window; the private memory of both; the manager's
// handles, GDI and USER objects.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
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

// Launches a further start (a program with its command word) and polls
// every 2 ms: the ms from the launch until alive() holds (when asked) and
// until done() holds. False when that takes more than 30 s.
bool TimeUntil(const std::string& further, const std::function<bool()>& done, double* doneMs,
               const std::function<bool()>& alive = nullptr, double* aliveMs = nullptr)
{
    double t0 = e2e::NowMs(), tAlive = 0, tDone = 0;
    HANDLE process = testkit::StartProcess(further);
    while (process && e2e::NowMs() - t0 < 30000 && !(tDone && (tAlive || !alive))) {
        if (alive && !tAlive && alive())
            tAlive = e2e::NowMs();
        if (!tDone && done())
            tDone = e2e::NowMs();
        Sleep(2);
    }
    if (process)
        CloseHandle(process);
    *doneMs = tDone - t0;
    if (aliveMs)
        *aliveMs = tAlive - t0;
    return tDone && (tAlive || !alive);
}

// The text of another process's window, asked of its thread as the
// manager's status texts are.
std::string WindowText(HWND window)
{
    char text[64] = "";
    DWORD_PTR length = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 5000, &length);
    return text;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void Print(const char* what, const std::vector<double>& values, const std::vector<double>& floor = {})
{
    printf("  %-50s %6.0f (%.0f - %.0f)", what, Median(values), *std::min_element(values.begin(), values.end()),
           *std::max_element(values.begin(), values.end()));
    if (!floor.empty())
        printf("   floor %5.0f (%.0f - %.0f)   x%.2f", Median(floor), *std::min_element(floor.begin(), floor.end()),
               *std::max_element(floor.begin(), floor.end()), Median(values) / Median(floor));
    printf("\n");
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
    const std::string floorExe = run.kit.root() + "idlefloor.exe";
    if (!CopyFileA((testkit::BinDir() + "idlefloor.exe").c_str(), floorExe.c_str(), FALSE)) {
        fprintf(stderr, "stack_bench: idlefloor.exe is missing\n");
        return 1;
    }
    HANDLE floor = testkit::StartProcess("\"" + floorExe + "\"", run.kit.root().c_str());
    HWND floorWindow = nullptr;
    testkit::PumpUntil([&] { return (floorWindow = FindWindowA("TvIdleFloor", nullptr)) != nullptr; }, 15000);
    if (!floor || !floorWindow) {
        fprintf(stderr, "stack_bench: idlefloor.exe did not come up\n");
        return 1;
    }
    std::vector<double> alive, started, firstByte, stopped, floorAlive, floorStarted, floorStopped;
    for (int i = 0; i < runs; ++i) {
        // The manager, then the floor program, each started and stopped by
        // a further start of its own, watched the same way.
        double tAlive = 0, tStarted = 0, tStopped = 0, tFloorAlive = 0, tFloorStarted = 0, tFloorStopped = 0;
        DWORD apache = 0, mysql = 0;
        size_t before = Servers(run.kit, &apache, &mysql);
        auto serversAlive = [&] {
            return Servers(run.kit, &apache, &mysql) == before + 2 && testkit::ProcessAlive(apache) &&
                   testkit::ProcessAlive(mysql);
        };
        bool ok = TimeUntil("\"" + run.exe + "\" /start", [&] {
            return run.text(1027).find("Started") != std::string::npos &&
                   run.text(1026).find("Started") != std::string::npos;
        }, &tStarted, serversAlive, &tAlive);
        const double startedAt = e2e::NowMs();
        int status = 0;
        std::string body;
        double tFirstByte = 0;
        while (ok && e2e::NowMs() - startedAt < 10000 &&
               !(e2e::HttpGet(port, "/", &status, &body, &tFirstByte) && status == 200))
            Sleep(2);
        if (!ok || status != 200) {
            fprintf(stderr, "stack_bench: run %d: not started (%s / %s)\n", i + 1, run.text(1027).c_str(),
                    run.text(1026).c_str());
            return 1;
        }
        if (!TimeUntil("\"" + run.exe + "\" /stop", [&] {
                return run.text(1027).find("Stopped") != std::string::npos &&
                       run.text(1026).find("Stopped") != std::string::npos && run.liveStandIns().empty();
            }, &tStopped)) {
            fprintf(stderr, "stack_bench: run %d: not stopped\n", i + 1);
            return 1;
        }
        before = Servers(run.kit, &apache, &mysql);
        if (!TimeUntil("\"" + floorExe + "\" /start", [&] { return WindowText(floorWindow) == "Started"; },
                       &tFloorStarted, serversAlive, &tFloorAlive) ||
            !TimeUntil("\"" + floorExe + "\" /stop", [&] {
                return WindowText(floorWindow) == "Stopped" && run.liveStandIns().empty();
            }, &tFloorStopped)) {
            fprintf(stderr, "stack_bench: run %d: the bare start or stop failed (%s)\n", i + 1,
                    WindowText(floorWindow).c_str());
            return 1;
        }
        alive.push_back(tAlive);
        started.push_back(tStarted);
        firstByte.push_back(tFirstByte - startedAt);
        stopped.push_back(tStopped);
        floorAlive.push_back(tFloorAlive);
        floorStarted.push_back(tFloorStarted);
        floorStopped.push_back(tFloorStopped);
    }
    PostMessageA(floorWindow, WM_CLOSE, 0, 0);
    testkit::WaitProcess(floor, 10000);
    CloseHandle(floor);
    printf("stack_bench: %d runs on the stand-in kit, ms: median (min - max), floor (the same system work done "
           "bare in this run) and ratio\n",
           runs);
    Print("/start -> both server processes alive", alive, floorAlive);
    Print("/start -> \"Started\" in both status texts", started, floorStarted);
    Print("\"Started\" -> first byte of http://127.0.0.1:<port>/", firstByte);
    Print("/stop -> \"Stopped\" in both texts, no server process", stopped, floorStopped);

    run.run("/start");
    if (!run.waitStatus("Started", 30000)) {
        fprintf(stderr, "stack_bench: not started for the idle period\n");
        return 1;
    }
    DWORD apache = 0, mysql = 0;
    Servers(run.kit, &apache, &mysql);
    char words[32];
    snprintf(words, sizeof words, " %lu %lu", static_cast<unsigned long>(apache), static_cast<unsigned long>(mysql));
    floor = testkit::StartProcess("\"" + floorExe + "\"" + words, run.kit.root().c_str());
    floorWindow = nullptr;
    testkit::PumpUntil([&] { return (floorWindow = FindWindowA("TvIdleFloor", nullptr)) != nullptr; }, 15000);
    if (!floor || !floorWindow) {
        fprintf(stderr, "stack_bench: idlefloor.exe did not start\n");
        return 1;
    }
    // The floor's window beside the manager's, where the pointer can rest
    // over it alone.
    RECT managerRect, floorRect;
    GetWindowRect(run.window, &managerRect);
    GetWindowRect(floorWindow, &floorRect);
    int x = managerRect.right + 20 + (floorRect.right - floorRect.left) <= GetSystemMetrics(SM_CXSCREEN)
                ? managerRect.right + 20
                : 0;
    SetWindowPos(floorWindow, HWND_TOPMOST, x, managerRect.top, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    GetWindowRect(floorWindow, &floorRect);
    RECT status;
    GetWindowRect(GetDlgItem(run.window, 1027), &status);
    // Three periods: the pointer rests away from both windows, as when
    // nobody uses them; then over the manager's Apache status text, which
    // has a tooltip; then over the floor's window.
    const struct {
        const char* where;
        POINT at;
        bool manager, floor;
    } periods[] = {
        {"pointer away", {GetSystemMetrics(SM_CXSCREEN) - 1, GetSystemMetrics(SM_CYSCREEN) - 1}, true, true},
        {"pointer over the window", {(status.left + status.right) / 2, (status.top + status.bottom) / 2}, true, false},
        {"pointer over the window", {(floorRect.left + floorRect.right) / 2, (floorRect.top + floorRect.bottom) / 2},
         false, true},
    };
    double cpu[2] = {0, 0}, floorCpu[2] = {0, 0};
    e2e::Usage after, floorAfter;
    for (size_t p = 0; p < sizeof periods / sizeof periods[0]; ++p) {
        SetCursorPos(periods[p].at.x, periods[p].at.y);
        Sleep(2000);
        DWORD pid = 0;
        GetWindowThreadProcessId(WindowFromPoint(periods[p].at), &pid);
        if (p && pid != (periods[p].manager ? run.pid : GetProcessId(floor)))
            fprintf(stderr, "stack_bench: the pointer is not over the window it should be over\n");
        e2e::Usage before = e2e::ReadUsage(run.process, run.kit.root());
        e2e::Usage floorBefore = e2e::ReadUsage(floor, run.kit.root(), "idlefloor.exe");
        Sleep(idleSeconds * 1000);
        after = e2e::ReadUsage(run.process, run.kit.root());
        floorAfter = e2e::ReadUsage(floor, run.kit.root(), "idlefloor.exe");
        if (before.cpuMs < 0 || after.cpuMs < 0 || floorBefore.cpuMs < 0 || floorAfter.cpuMs < 0) {
            fprintf(stderr, "stack_bench: the CPU time cannot be read\n");
            return 1;
        }
        if (periods[p].manager)
            cpu[p ? 1 : 0] = after.cpuMs - before.cpuMs;
        if (periods[p].floor)
            floorCpu[p ? 1 : 0] = floorAfter.cpuMs - floorBefore.cpuMs;
    }
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 1, GetSystemMetrics(SM_CYSCREEN) - 1);
    TerminateProcess(floor, 0);
    WaitForSingleObject(floor, 5000);
    CloseHandle(floor);
    for (int i = 0; i < 2; ++i)
        printf("idle over %d s with the stack running, %s: manager CPU %.0f ms (%.2f %% of one core), floor %.0f ms, "
               "x%.2f%s\n",
               idleSeconds, periods[i].where, cpu[i], idleSeconds ? 100.0 * cpu[i] / (idleSeconds * 1000.0) : 0.0,
               floorCpu[i], floorCpu[i] > 0 ? cpu[i] / floorCpu[i] : 0.0,
               after.cpuFromUnix ? " (Wine's Unix processes, 10 ms ticks)" : "");
    printf("private memory: manager %lu KB, floor %lu KB, x%.2f\n", static_cast<unsigned long>(after.privateBytes / 1024),
           static_cast<unsigned long>(floorAfter.privateBytes / 1024),
           floorAfter.privateBytes ? static_cast<double>(after.privateBytes) / floorAfter.privateBytes : 0.0);
    printf("manager: handles %lu%s, ", after.handles, after.handlesFromTable ? " (system handle table)" : "");
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
