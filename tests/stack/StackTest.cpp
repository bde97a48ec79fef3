// The stack as a table over two drivers of the test's own: each row sets
// the servers' states and flags, does one thing to the stack, and compares
// what the drivers were asked (in order), what was logged and asked, and
// the states and flags after. No windows, no processes, no prompts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Stack.h"
#include "resource.h"

namespace {

// Every call lands in one journal, "A.start M.stop ...", in order.
class FakeServer : public Server {
public:
    FakeServer(const char* name, char letter, std::string* journal) : Server(name), letter(letter), journal(journal) {}
    DWORD startCode = 0;
    bool checkAnswer = true;
    bool switches = true;  // install and uninstall work
    DWORD overdueBy = 0;   // how long ago a stop counts as asked

    DWORD start() override
    {
        note("start");
        if (state_ != Stopped)
            return 0;
        put(StartPending);
        return startCode;
    }
    DWORD stop() override
    {
        note("stop");
        if (state_ == Running) {
            put(StopPending);
            stopRequestedAt_ = GetTickCount() - overdueBy;
            stopOverdueTold_ = false;
        }
        restartPending_ = false;
        return 0;
    }
    bool installService() override { return note("install"), switches; }
    bool uninstallService() override { return note("uninstall"), switches; }
    bool checkConfig() override { return note("check"), checkAnswer; }
    DWORD startProcess() override { return 0; }
    DWORD stopProcess() override { return 0; }
    DWORD shutdownUnchecked() override { return note("shutdown"), 0; }
    int endProcess() override { return note("end"), 1; }
    void put(ServerState state)
    {
        state_ = state;
        process_.dwProcessId = state == Stopped ? 0 : 1;  // no handle: nothing to close
    }

private:
    void note(const char* call) { *journal += std::string(journal->empty() ? "" : " ") + letter + "." + call; }
    char letter;
    std::string* journal;
};

class View : public StackView {
public:
    std::string lines;  // "line|line|..."
    std::vector<StackQuestion> questions;
    int answer = IDNO;
    int quitDue = 0;
    int servicesSaid = -1;
    void stackChanged() override {}
    void stackLog(const char* text, EventSource) override { lines += (lines.empty() ? "" : "|") + std::string(text); }
    int stackAsk(const StackQuestion& question) override
    {
        questions.push_back(question);
        return answer;
    }
    void stackServicesChanged(bool services) override { servicesSaid = services; }
    void stackQuitDue() override { ++quitDue; }
};

enum Action { Toggle, StopAll, Restart, Tick, ApacheEnds, MySqlEnds, ConfigError_, ApacheConfigChanged,
              MySqlConfigChanged, ApplyServices, Quit, SessionEnd };

const ServerState R = Running, S = Stopped, SP = StartPending, XP = StopPending;

}  // namespace

TEST(StackTable, OneActionPerRow)
{
    const struct {
        const char* row;
        ServerState apache, mysql;
        bool services, apacheRestart, mysqlRestart;
        Action action;
        DWORD mysqlStartCode, apacheStartCode;
        bool check, switches;
        int answer;
        const char* calls;
        const char* lines;
        const char* question;  // the start of the one question asked ("": none)
        ServerState apacheAfter, mysqlAfter;
        bool restartsAfter;  // both restartPending afterwards
        bool modeAfter;      // both drivers' service mode afterwards
    } rows[] = {
        {"start", S, S, false, false, false, Toggle, 0, 0, true, true, IDNO, "M.start A.start",
         "Demarrage des serveurs", "", SP, SP, false, false},
        {"start as services: MySQL first too", S, S, true, false, false, Toggle, 0, 0, true, true, IDNO,
         "M.start A.start", "Demarrage des serveurs", "", SP, SP, false, true},
        {"MySQL missing, No", S, S, false, false, false, Toggle, 2, 0, true, true, IDNO, "M.start",
         "Demarrage des serveurs|File not found.", "Unable to launch MySql : \n", S, SP, false, false},
        {"MySQL missing, Yes", S, S, false, false, false, Toggle, 2, 0, true, true, IDYES, "M.start A.start",
         "Demarrage des serveurs|File not found.", "Unable to launch MySql : \n", SP, SP, false, false},
        {"any other MySQL failure is asked too", S, S, false, false, false, Toggle, 5, 0, true, true, IDNO,
         "M.start", "Demarrage des serveurs|Access denied.", "Unable to launch MySql : \n", S, SP, false, false},
        {"Apache's port taken", S, S, false, false, false, Toggle, 0, 1, true, true, IDNO, "M.start A.start",
         "Demarrage des serveurs", "Apache cannot be runned", SP, SP, false, false},
        {"stop", R, R, false, false, false, Toggle, 0, 0, true, true, IDNO, "A.stop M.stop", "Arret des serveurs",
         "", XP, XP, false, false},
        {"stop while not started", R, S, false, false, false, StopAll, 0, 0, true, true, IDNO, "A.stop M.stop",
         "Arret des serveurs", "", XP, S, false, false},
        {"restart", R, R, false, false, false, Restart, 0, 0, true, true, IDNO, "A.check A.stop M.stop",
         "Server are restarting...", "", XP, XP, true, false},
        {"restart, Apache's file broken", R, R, false, false, false, Restart, 0, 0, false, true, IDNO, "A.check",
         "Server are restarting...", "", R, R, false, false},
        {"restart while not started", R, SP, false, false, false, Restart, 0, 0, true, true, IDNO, "", "", "", R,
         SP, false, false},
        {"tick: Apache back first", S, S, false, true, true, Tick, 0, 0, true, true, IDNO, "A.start", "", "", SP, S,
         false, false},
        {"tick: then MySQL", R, S, false, false, true, Tick, 0, 0, true, true, IDNO, "M.start", "", "", R, SP, false,
         false},
        {"tick: Apache without MySQL", R, S, false, false, false, Tick, 0, 0, true, true, IDNO, "A.stop", "", "", XP,
         S, false, false},
        {"tick: MySQL without Apache", S, R, false, false, false, Tick, 0, 0, true, true, IDNO, "M.stop", "", "", S,
         XP, false, false},
        {"apply services while started", R, R, false, false, false, ApplyServices, 0, 0, true, true, IDNO,
         "A.stop M.stop", "", "", XP, XP, false, false},
        {"apply services, stopped: the switch", S, S, false, false, false, ApplyServices, 0, 0, true, true, IDNO,
         "A.install M.install", "Installing the services of Apache and MySql...", "", S, S, true, true},
        {"a switch that fails goes back", S, S, false, false, false, ApplyServices, 0, 0, true, false, IDOK,
         "A.install M.install M.uninstall",
         "Installing the services of Apache and MySql...|The service of Apache could not be installed: the servers keep running as programs.",
         "The service of Apache could not be installed", S, S, true, false},
        {"Apache ends", S, R, false, false, false, ApacheEnds, 0, 0, true, true, IDNO, "",
         "Unexpected end of Apache !", "", S, R, false, false},
        {"MySQL ends", R, S, false, false, false, MySqlEnds, 0, 0, true, true, IDNO, "", "Unexpected end of MySql !",
         "", R, S, false, false},
        {"Apache's configuration error", R, R, false, false, false, ConfigError_, 0, 0, true, true, IDYES, "",
         "Erreur dans le fichier de configuration d'Apache",
         "Error in Apache configuration file:\n\n\"Syntax error on line 3\"", R, R, false, false},
        {"Apache's configuration changed", R, R, false, false, false, ApacheConfigChanged, 0, 0, true, true, IDNO, "",
         "The configuration file has been modified", "", R, R, false, false},
        {"MySQL's: not logged", R, R, false, false, false, MySqlConfigChanged, 0, 0, true, true, IDNO, "", "", "", R,
         R, false, false},
        {"quit", R, R, false, false, false, Quit, 0, 0, true, true, IDNO, "A.stop M.stop", "Arret des serveurs", "",
         XP, XP, false, false},
        {"quit with services: they go on", R, R, true, false, false, Quit, 0, 0, true, true, IDNO, "", "", "", R, R,
         false, true},
        {"quit waits for a server starting", R, SP, false, false, false, Quit, 0, 0, true, true, IDNO, "", "", "", R,
         SP, false, false},
        {"session end: MySQL first, unchecked", R, SP, false, false, false, SessionEnd, 0, 0, true, true, IDNO,
         "M.shutdown A.shutdown", "Arret des serveurs", "", R, SP, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.row);
        std::string journal;
        FakeServer apache("Apache", 'A', &journal), mysql("MySql", 'M', &journal);
        View view;
        Stack stack(apache, mysql, view);
        stack.setServices(row.services);
        apache.put(row.apache);
        mysql.put(row.mysql);
        apache.setRestartPending(row.apacheRestart);
        mysql.setRestartPending(row.mysqlRestart);
        apache.startCode = row.apacheStartCode;
        mysql.startCode = row.mysqlStartCode;
        apache.checkAnswer = row.check;
        apache.switches = row.switches;
        view.answer = row.answer;
        bool done = true;
        switch (row.action) {
        case Toggle:
            stack.toggle();
            break;
        case StopAll:
            stack.stopAll();
            break;
        case Restart:
            stack.restartAll();
            break;
        case Tick:
            stack.tick();
            break;
        case ApacheEnds:
        case MySqlEnds:
            stack.onServerNotification(row.action == ApacheEnds ? &apache : &mysql, UnexpectedEnd, 0);
            break;
        case ConfigError_:
            stack.onServerNotification(&apache, ConfigError, reinterpret_cast<LPARAM>("Syntax error on line 3"));
            break;
        case ApacheConfigChanged:
        case MySqlConfigChanged:
            stack.onServerNotification(row.action == ApacheConfigChanged ? &apache : &mysql, ConfigChanged, 0);
            break;
        case ApplyServices:
            stack.applyServices(!row.services);
            EXPECT_TRUE(stack.switchPending());
            stack.tick();
            break;
        case Quit:
            done = stack.quit();
            break;
        case SessionEnd:
            stack.endSession();
            break;
        }
        EXPECT_EQ(row.calls, journal);
        EXPECT_EQ(row.lines, view.lines);
        if (row.question[0]) {
            ASSERT_EQ(1u, view.questions.size());
            EXPECT_EQ(0u, std::string(view.questions[0].text).find(row.question)) << view.questions[0].text;
            EXPECT_EQ(row.action == ConfigError_ ? ID_CMD_EDIT_APACHE_CONF : 0u, view.questions[0].commandOnYes);
        } else {
            EXPECT_EQ(0u, view.questions.size()) << view.questions[0].text;
        }
        EXPECT_EQ(row.apacheAfter, apache.state());
        EXPECT_EQ(row.mysqlAfter, mysql.state());
        EXPECT_EQ(row.restartsAfter, apache.restartPending() && mysql.restartPending());
        EXPECT_EQ(row.modeAfter, apache.serviceMode() && mysql.serviceMode());
        EXPECT_EQ(stack.started(), StackStarted(apache.state(), mysql.state()));
        if (row.action == ApplyServices)
            EXPECT_EQ(row.switches ? -1 : int(row.services), view.servicesSaid);
        EXPECT_EQ(row.action == Quit || row.action == SessionEnd, stack.quitting());
        EXPECT_EQ(row.mysqlAfter != SP || row.action != Quit, done);
    }
}

// The steps that take more than one call: a quit that waits for a starting
// server, and a stop that does not end.
TEST(StackTable, DeferredQuitAndOverdueStop)
{
    std::string journal;
    FakeServer apache("Apache", 'A', &journal), mysql("MySql", 'M', &journal);
    View view;
    Stack stack(apache, mysql, view);
    apache.put(Running);
    mysql.put(StartPending);
    EXPECT_FALSE(stack.quit());
    stack.tick();
    EXPECT_EQ(0, view.quitDue) << "MySQL still starting";
    EXPECT_EQ("", journal) << "no step while quitting";
    mysql.put(Running);
    stack.tick();
    EXPECT_EQ(1, view.quitDue);
    EXPECT_TRUE(stack.quit());
    EXPECT_EQ("A.stop M.stop", journal);

    // A stop that has not ended in time: told and asked once; Yes ends it.
    Stack second(apache, mysql, view);
    apache.put(Running);
    mysql.put(Running);
    journal.clear();
    view.answer = IDYES;
    second.stopLimitMs = 1000;
    mysql.overdueBy = 60000;
    second.stopAll();
    second.tick();
    second.tick();
    EXPECT_EQ("A.stop M.stop M.end", journal) << "only MySQL is watched";
    ASSERT_EQ(1u, view.questions.size());
    EXPECT_EQ(0u, std::string(view.questions[0].text).find("MySql has not ended 1 s after it was asked to stop."));
}
