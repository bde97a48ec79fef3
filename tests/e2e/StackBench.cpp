// Figures of the stack on the stand-in kit, run by hand:
//   stack_bench [runs=5] [idle seconds=60]
// Each figure is printed next to its floor, the same system work done bare
// in the same run, and the ratio of the two. For each run, from the launch
// of a further start with /start: both new server processes alive, and
// "Started" in both status texts (floor: a short program run, Apache's
// syntax test through cmd.exe waited for, both servers created); the first
// byte of the local web page asked for as soon as "Started" shows (a
// connection refused while Apache is not listening yet is tried again);
// and from /stop to "Stopped" with no server process left (floor: the
// shutdown event for MySQL, Apache's shutdown command, both processes
// ended). Medians over the runs. Then, with the stack running, the
// manager's CPU time over the idle period and its private memory beside
// those of idlefloor.exe (a window, a tray icon blinking on a 500 ms
// timer, a thread looking at both servers every 700 ms) over the same
// period; the manager's handles, GDI and USER objects.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchUsage.h"
#include "E2eKit.h"
#include "TestKit.h"
#include "../../testkit/record.h"

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

// Runs a program hidden; its process handle, or null.
HANDLE Launch(const std::string& cmdLine, const std::string& dir, bool newConsole)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION created = {};
    std::string line = cmdLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, newConsole ? CREATE_NEW_CONSOLE : 0, nullptr,
                        dir.empty() ? nullptr : dir.c_str(), &startup, &created))
        return nullptr;
    CloseHandle(created.hThread);
    return created.hProcess;
}

bool MySqlReady()
{
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, kitrecord::kMysqldPortEvent);
    if (event)
        CloseHandle(event);
    return event != nullptr;
}

// The bare start: a short program run to its end, Apache's syntax test
// through a batch file waited for, both servers created. Their handles
// come back in servers; the time in ms, or a negative one on failure.
double FloorStart(const testkit::KitLayout& kit, const std::string& shortProgram, HANDLE servers[2])
{
    const std::string batch = kit.apacheDir() + "floorchk.bat", output = kit.apacheDir() + "floorchk.txt";
    testkit::WriteFileBytes(batch, kit.apacheDir() + "Apache.exe -t 2> " + output + "\r\n");
    double t0 = e2e::NowMs();
    DWORD code = 0;
    if (!testkit::RunProcess("\"" + shortProgram + "\" -", &code))
        return -1;
    HANDLE check = Launch(batch, "", false);
    if (!check)
        return -1;
    WaitForSingleObject(check, 10000);
    CloseHandle(check);
    std::string answer;
    testkit::ReadFileBytes(output, &answer);
    servers[0] = Launch(kit.apacheExe() + " -k start", kit.apacheDir(), true);
    servers[1] = Launch(kit.mysqlBin() + "mysqld-nt.exe --basedir=" + kit.mysqlDir() +
                            "  --skip-name-resolve --language=english",
                        "", false);
    double t = e2e::NowMs() - t0;
    DeleteFileA(batch.c_str());
    DeleteFileA(output.c_str());
    return servers[0] && servers[1] && answer.find("Syntax OK") != std::string::npos ? t : -1;
}

// The bare stop of the servers FloorStart made, once both serve: MySQL's
// shutdown event, Apache's shutdown command, both processes ended.
double FloorStop(const testkit::KitLayout& kit, HANDLE servers[2])
{
    int status = 0;
    std::string body;
    double start = e2e::NowMs();
    while (e2e::NowMs() - start < 10000 && !(e2e::HttpGet(kit.port(), "/", &status, &body) && status == 200 &&
                                             MySqlReady()))
        Sleep(2);
    double t0 = e2e::NowMs();
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, kitrecord::kMysqldPortEvent);
    if (event) {
        SetEvent(event);
        CloseHandle(event);
    }
    HANDLE shutdown = Launch(kit.apacheExe() + "  -k shutdown", kit.apacheDir(), true);
    bool ended = WaitForMultipleObjects(2, servers, TRUE, 30000) == WAIT_OBJECT_0;
    double t = e2e::NowMs() - t0;
    if (shutdown)
        CloseHandle(shutdown);
    for (int i = 0; i < 2; ++i) {
        if (!ended)
            TerminateProcess(servers[i], 1);
        CloseHandle(servers[i]);
    }
    return ended ? t : -1;
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
    std::vector<double> alive, started, firstByte, stopped, floorStarted, floorStopped;
    for (int i = 0; i < runs; ++i) {
        DWORD apache = 0, mysql = 0;
        const size_t before = Servers(run.kit, &apache, &mysql);
        double t0 = e2e::NowMs(), tAlive = 0, tStarted = 0;
        HANDLE word = testkit::StartProcess("\"" + run.exe + "\" /start");
        while (e2e::NowMs() - t0 < 30000 && !(tAlive && tStarted)) {
            if (!tAlive && Servers(run.kit, &apache, &mysql) == before + 2 && testkit::ProcessAlive(apache) && testkit::ProcessAlive(mysql))
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

        HANDLE servers[2] = {nullptr, nullptr};
        double floorStart = FloorStart(run.kit, floorExe, servers);
        double floorStop = floorStart >= 0 ? FloorStop(run.kit, servers) : -1;
        if (floorStart < 0 || floorStop < 0 || !run.waitNoStandIns()) {
            fprintf(stderr, "stack_bench: run %d: the bare start or stop failed\n", i + 1);
            return 1;
        }
        floorStarted.push_back(floorStart);
        floorStopped.push_back(floorStop);
    }
    printf("stack_bench: %d runs on the stand-in kit, ms: median (min - max), floor (the same system work done "
           "bare in this run) and ratio\n",
           runs);
    Print("/start -> both server processes alive", alive, floorStarted);
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
    HANDLE floor = testkit::StartProcess("\"" + floorExe + "\"" + words, run.kit.root().c_str());
    if (!floor) {
        fprintf(stderr, "stack_bench: idlefloor.exe did not start\n");
        return 1;
    }
    // The pointer rests away from both windows, as when nobody uses them: a
    // tooltip shown under a resting pointer watches it (Wine's every 100 ms),
    // which is the tooltip's work, not the idle manager's.
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 1, GetSystemMetrics(SM_CYSCREEN) - 1);
    Sleep(2000);
    e2e::Usage before = e2e::ReadUsage(run.process, run.kit.root());
    e2e::Usage floorBefore = e2e::ReadUsage(floor, run.kit.root(), "idlefloor.exe");
    Sleep(idleSeconds * 1000);
    e2e::Usage after = e2e::ReadUsage(run.process, run.kit.root());
    e2e::Usage floorAfter = e2e::ReadUsage(floor, run.kit.root(), "idlefloor.exe");
    TerminateProcess(floor, 0);
    WaitForSingleObject(floor, 5000);
    CloseHandle(floor);
    if (before.cpuMs < 0 || after.cpuMs < 0 || floorBefore.cpuMs < 0 || floorAfter.cpuMs < 0) {
        fprintf(stderr, "stack_bench: the CPU time cannot be read\n");
        return 1;
    }
    double cpu = after.cpuMs - before.cpuMs, floorCpu = floorAfter.cpuMs - floorBefore.cpuMs;
    printf("idle over %d s with the stack running: manager CPU %.0f ms (%.2f %% of one core), floor %.0f ms, x%.2f%s\n",
           idleSeconds, cpu, idleSeconds ? 100.0 * cpu / (idleSeconds * 1000.0) : 0.0, floorCpu,
           floorCpu > 0 ? cpu / floorCpu : 0.0, after.cpuFromUnix ? " (Wine's Unix processes, 10 ms ticks)" : "");
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
