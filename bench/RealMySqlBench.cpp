// The manager's /start and /stop with the real MySQL server, each next to
// the same with the stand-in MySQL in the same run (both kits have the
// stand-in Apache):
//   - /start: from the further start with "/start" to "Started" in both
//     status texts (MySQL's process alive and Apache serving), and to the
//     first query that MySQL answers;
//   - /stop: from the further start with "/stop" to a clean shutdown: for
//     the real server "Shutdown complete" in its log and its port closed
//     (Wine then keeps the process alive, see tests/realmysql/RealMySql.h:
//     it is ended after the measurement), for the stand-ins "Stopped" with
//     no process left.
// Medians over the runs.
//   real_mysql_bench [runs=5]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "RealMySql.h"
#include "TestKit.h"

namespace {

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Figures {
    std::vector<double> started, answered, stopped;
};

bool Measure(e2e::ManagerRun& run, realmysql::RealKit* real, int runs, Figures* f)
{
    if (!run.launch() || !run.waitStatus("Stopped"))
        return false;
    int shutdowns = real ? real->logCount("Shutdown complete") : 0;
    for (int i = 0; i < runs; ++i) {
        double t0 = e2e::NowMs();
        if (!run.run("/start") || !run.waitStatus("Started", 90000))
            return false;
        f->started.push_back(e2e::NowMs() - t0);
        if (real) {
            std::string out;
            if (!testkit::PumpUntil([&] { return real->query("SELECT 1", &out); }, 90000))
                return false;
            f->answered.push_back(e2e::NowMs() - t0);
        }
        t0 = e2e::NowMs();
        if (!run.run("/stop"))
            return false;
        if (real) {
            if (!real->waitShutdown(++shutdowns, 90000))
                return false;
            f->stopped.push_back(e2e::NowMs() - t0);
            real->endServers();
            if (!run.waitStatus("Stopped", 30000))
                return false;
        } else {
            if (!run.waitStatus("Stopped", 30000) || !run.waitNoStandIns())
                return false;
            f->stopped.push_back(e2e::NowMs() - t0);
        }
    }
    run.run("/quit");
    run.ended(20000);
    return true;
}

void Line(const char* what, const std::vector<double>& real, const std::vector<double>& standIn)
{
    double r = Median(real), s = Median(standIn);
    std::printf("%-44s real %8.0f ms   stand-ins %8.0f ms   x%.2f\n", what, r, s, s > 0 ? r / s : 0.0);
}

}  // namespace

int main(int argc, char** argv)
{
    int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    if (runs < 1)
        runs = 1;
    Figures standIn, real;
    realmysql::RealKit kit("bench_real");
    if (!kit.problem().empty()) {
        std::printf("%s\n", kit.problem().c_str());
        return 1;
    }
    // The first launch decides which manager runs (ManagerRun::launch); the
    // stand-in kit gets the same.
    if (!kit.run.launch()) {
        std::printf("no manager window\n");
        return 1;
    }
    std::printf("manager: %s; %d runs each, medians\n", kit.run.manager(), runs);
    kit.run.run("/quit");
    kit.run.ended(20000);
    {
        e2e::ManagerRun run("bench_standin");
        if (!run.ok() || !CopyFileA(kit.run.exe.c_str(), run.exe.c_str(), FALSE) ||
            !Measure(run, nullptr, runs, &standIn)) {
            std::printf("the stand-in kit failed\n");
            return 1;
        }
    }
    if (!Measure(kit.run, &kit, runs, &real)) {
        std::printf("the real kit failed:\n%s\n", kit.errorLog().c_str());
        return 1;
    }
    Line("/start to \"Started\" in both status texts", real.started, standIn.started);
    std::printf("%-44s real %8.0f ms\n", "/start to MySQL's first answer", Median(real.answered));
    Line("/stop to a clean shutdown", real.stopped, standIn.stopped);
    return 0;
}
