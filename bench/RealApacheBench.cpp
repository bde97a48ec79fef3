// The manager's /start and /stop with the real Apache 2.4, next to the same
// with the stand-in httpd.exe (a kit laid out for 2.x) and to the floor:
// the real server run bare, started with CreateProcess and stopped through
// its parent's event ap<pid>_shutdown, with no manager.
//   - start: from the further start with "/start" (the floor: from
//     CreateProcess) to the kit's page served;
//   - stop: from the further start with "/stop" (the floor: from SetEvent)
//     to no httpd.exe of the kit left.
// Both kits have the stand-in MySQL, which the manager starts and stops
// too. Medians over the runs; a stop not over within 30 s counts as failed.
//   real_apache_bench [runs=5]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "RealApache.h"
#include "TestKit.h"

namespace {

double Median(std::vector<double> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Figures {
    std::vector<double> started, stopped;
    int failedStops = 0;
};

bool Serves(int port)
{
    int status = 0;
    std::string body;
    return testkit::PumpUntil(
        [&] { return e2e::HttpGet(port, "/", &status, &body) && status == 200 && body == e2e::PageText; }, 60000);
}

bool Measure(e2e::ManagerRun& run, realapache::RealKit* real, int runs, Figures* f)
{
    if (!run.launch() || !run.waitStatus("Stopped"))
        return false;
    for (int i = 0; i < runs; ++i) {
        double t0 = e2e::NowMs();
        if (!run.run("/start") || !Serves(run.kit.port()))
            return false;
        f->started.push_back(e2e::NowMs() - t0);
        if (!run.waitStatus("Started", 60000))
            return false;
        t0 = e2e::NowMs();
        if (!run.run("/stop"))
            return false;
        bool gone = real ? real->waitGone(run.kit.port(), 30000) : run.waitNoStandIns(30000);
        if (gone)
            f->stopped.push_back(e2e::NowMs() - t0);
        else
            ++f->failedStops;
        if (real)
            real->endServers();
        if (!run.waitStatus("Stopped", 30000))
            return false;
    }
    run.run("/quit");
    run.ended(20000);
    return true;
}

// The floor: the kit's httpd.exe without the manager.
bool MeasureBare(realapache::RealKit& kit, int runs, Figures* f)
{
    std::string line = "\"" + kit.run.kit.apacheExe() + "\"";
    for (int i = 0; i < runs; ++i) {
        double t0 = e2e::NowMs();
        HANDLE parent = testkit::StartProcess(line, kit.run.kit.apacheDir().c_str());
        if (!parent || !Serves(kit.run.kit.port()))
            return false;
        f->started.push_back(e2e::NowMs() - t0);
        char name[64];
        snprintf(name, sizeof name, "ap%lu_shutdown", GetProcessId(parent));
        CloseHandle(parent);
        HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
        if (!event)
            return false;
        t0 = e2e::NowMs();
        SetEvent(event);
        CloseHandle(event);
        if (!kit.waitGone(kit.run.kit.port(), 30000))
            return false;
        f->stopped.push_back(e2e::NowMs() - t0);
    }
    return true;
}

void Line(const char* what, double real, double floor, double standIn)
{
    if (real < 0)
        std::printf("%-30s real  (none)      floor %7.0f ms   stand-in %7.0f ms\n", what, floor, standIn);
    else
        std::printf("%-30s real %7.0f ms   floor %7.0f ms   x%.2f   stand-in %7.0f ms   real/stand-in x%.2f\n",
                    what, real, floor, floor > 0 ? real / floor : 0.0, standIn, standIn > 0 ? real / standIn : 0.0);
}

}  // namespace

int main(int argc, char** argv)
{
    int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    if (runs < 1)
        runs = 1;
    realapache::RealKit kit("bench_realap");
    if (!kit.problem().empty()) {
        std::printf("%s\n", kit.problem().c_str());
        return 1;
    }
    // The first launch decides which manager runs; the stand-in kit gets
    // the same.
    if (!kit.run.launch()) {
        std::printf("no manager window\n");
        return 1;
    }
    std::printf("manager: %s; %d runs each, medians\n", kit.run.manager(), runs);
    kit.run.run("/quit");
    kit.run.ended(20000);
    Figures standIn, real, bare;
    {
        e2e::ManagerRun run("bench_standin24", {}, testkit::KitApache24);
        if (!run.ok() || !CopyFileA(kit.run.exe.c_str(), run.exe.c_str(), FALSE) ||
            !Measure(run, nullptr, runs, &standIn)) {
            std::printf("the stand-in kit failed\n");
            return 1;
        }
    }
    if (!MeasureBare(kit, runs, &bare)) {
        std::printf("the bare server failed:\n%s\n", kit.errorLog().c_str());
        return 1;
    }
    if (!Measure(kit.run, &kit, runs, &real)) {
        std::printf("the real kit failed:\n%s\n", kit.errorLog().c_str());
        return 1;
    }
    Line("/start to the page served", Median(real.started), Median(bare.started), Median(standIn.started));
    Line("/stop to no httpd.exe left", Median(real.stopped), Median(bare.stopped), Median(standIn.stopped));
    if (real.failedStops)
        std::printf("real: %d of %d stops left httpd.exe running after 30 s\n", real.failedStops, runs);
    return 0;
}
