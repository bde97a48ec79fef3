// mysqld stand-ins (four names, one program) and mysqladmin.exe: run until
// the shutdown event of their age, shutdown through mysqladmin (refused
// with a wrong password), wrong arguments.
#include <windows.h>
#include <gtest/gtest.h>

#include <vector>

#include "KitLayout.h"
#include "StandInHelpers.h"
#include "TestKit.h"
#include "record.h"

using kitrecord::Record;

namespace {

class MysqlStandIn : public ::testing::Test {
protected:
    testkit::KitLayout kit{"mysql"};
    HANDLE server = nullptr;
    DWORD serverPid = 0;

    void TearDown() override { endServer(); }

    void endServer()
    {
        if (!server)
            return;
        if (standin::Alive(server))
            TerminateProcess(server, 1);
        WaitForSingleObject(server, 5000);
        CloseHandle(server);
        server = nullptr;
    }

    static bool EventExists()
    {
        HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, kitrecord::kMysqldPortEvent);
        if (event)
            CloseHandle(event);
        return event != nullptr;
    }

    // As the manager starts MySQL: no title, hidden, new console.
    void startServer(const char* exe, const std::string& arguments)
    {
        std::string cmd = kit.mysqlBin() + exe + " --basedir=" + kit.mysqlDir() + "  " + arguments;
        PROCESS_INFORMATION pi = standin::Start(cmd, standin::Launch());
        ASSERT_NE(pi.hProcess, nullptr);
        CloseHandle(pi.hThread);
        server = pi.hProcess;
        serverPid = pi.dwProcessId;
        ASSERT_TRUE(testkit::PumpUntil([&] { return EventExists() || !standin::Alive(server); }, 20000));
        ASSERT_TRUE(standin::Alive(server));
    }

    standin::Result run(const std::string& cmdLine)
    {
        standin::Result result;
        EXPECT_TRUE(standin::RunCaptured(cmdLine, &result));
        return result;
    }
};

}  // namespace

// Each of the four names runs until the event of its age is signalled (the
// others do not exist), and records its whole command line.
TEST_F(MysqlStandIn, EveryNameRunsUntilTheEventOfItsAgeIsSignalled)
{
    ASSERT_TRUE(kit.ok());
    const struct {
        const char* exe;
        const char* event;  // %lu: the server's pid
        const char* endedBy;
    } cases[] = {{"mysqld-nt.exe", "MySQLShutdown%lu", kitrecord::kEventOldPidShutdown},
                 {"mysqld.exe", "mysqld%lu_shutdown", kitrecord::kEventPidShutdown},
                 {"mysqld-opt.exe", "MySqlShutdown", kitrecord::kEventNamedShutdown},
                 {"mysqld-shareware.exe", "MySqlShutdown", kitrecord::kEventNamedShutdown}};
    for (const auto& c : cases) {
        const char* exe = c.exe;
        SCOPED_TRACE(exe);
        ASSERT_NO_FATAL_FAILURE(startServer(exe, "--skip-name-resolve --language=english"));
        testkit::PumpFor(200);
        EXPECT_TRUE(standin::Alive(server));

        HANDLE event = nullptr;
        for (const auto& other : cases) {
            char name[40];
            snprintf(name, sizeof name, other.event, static_cast<unsigned long>(serverPid));
            HANDLE found = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
            EXPECT_EQ(found != nullptr, !strcmp(other.event, c.event)) << name;
            if (found && !strcmp(other.event, c.event) && !event)
                event = found;
            else if (found)
                CloseHandle(found);
        }
        ASSERT_NE(event, nullptr) << "error " << GetLastError();
        EXPECT_TRUE(SetEvent(event));
        CloseHandle(event);
        ASSERT_TRUE(testkit::WaitProcess(server, 10000));
        DWORD code = 99;
        GetExitCodeProcess(server, &code);
        EXPECT_EQ(code, 0u) << "got " << code;
        EXPECT_FALSE(EventExists());

        std::vector<Record> records = kit.mysqlRecords();
        ASSERT_GE(records.size(), 3u);
        const Record& run = records[records.size() - 3];
        const Record& end = records.back();
        EXPECT_EQ(records[records.size() - 2].event, c.endedBy);
        EXPECT_EQ(run.event, "run") << "got " << run.event;
        EXPECT_EQ(run.program, exe) << "got " << run.program;
        EXPECT_EQ(run.cmdLine, kit.mysqlBin() + exe + " --basedir=" + kit.mysqlDir() +
                                   "  --skip-name-resolve --language=english")
            << "got " << run.cmdLine;
        EXPECT_EQ(run.show, SW_HIDE) << "got " << run.show;
        EXPECT_EQ(end.event, "end") << "got " << end.event;
        EXPECT_EQ(end.pid, serverPid) << "got " << end.pid;
        endServer();
    }
}

TEST_F(MysqlStandIn, EmptyArgumentsAreAccepted)
{
    ASSERT_NO_FATAL_FAILURE(startServer("mysqld.exe", ""));
    std::vector<Record> records = kit.mysqlRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].cmdLine, kit.mysqlBin() + "mysqld.exe --basedir=" + kit.mysqlDir() + "  ")
        << "got " << records[0].cmdLine;
}

TEST_F(MysqlStandIn, SecondServerIsRefused)
{
    ASSERT_NO_FATAL_FAILURE(startServer("mysqld-nt.exe", ""));
    standin::Result r = run(kit.mysqlBin() + "mysqld-opt.exe --basedir=" + kit.mysqlDir());
    EXPECT_EQ(r.exitCode, 1u) << "got " << r.exitCode;
    EXPECT_NE(r.err.find("already running"), std::string::npos) << "got " << r.err;
    EXPECT_TRUE(standin::Alive(server));
    EXPECT_TRUE(EventExists());
}

TEST_F(MysqlStandIn, WrongArgumentsAreRefused)
{
    for (const char* args : {" foo", " --basedir=", " --basedir", " --install --console", " --remove x", " -"}) {
        standin::Result r = run(kit.mysqlBin() + "mysqld-nt.exe" + args);
        EXPECT_EQ(r.exitCode, 1u) << "'" << args << "': got " << r.exitCode;
        EXPECT_NE(r.err.find("Usage: mysqld-nt.exe"), std::string::npos) << "'" << args << "': got " << r.err;
    }
    EXPECT_FALSE(EventExists());
}

TEST_F(MysqlStandIn, MysqladminShutdownEndsTheServer)
{
    ASSERT_NO_FATAL_FAILURE(startServer("mysqld-nt.exe", "--skip-name-resolve"));
    standin::Result r = run(kit.mysqlBin() + "mysqladmin.exe -u root ping");
    EXPECT_EQ(r.exitCode, 0u) << "got " << r.exitCode << ": " << r.err;
    EXPECT_EQ(r.out, "mysqld is alive\r\n") << "got " << r.out;

    // As the manager runs it.
    std::string cmd = kit.mysqlBin() + "mysqladmin.exe -u root shutdown";
    r = run(cmd);
    EXPECT_EQ(r.exitCode, 0u) << "got " << r.exitCode << ": " << r.err;
    // mysqladmin returns once the server closed the event.
    EXPECT_FALSE(EventExists());
    ASSERT_TRUE(testkit::WaitProcess(server, 10000));
    std::vector<Record> admins = kitrecord::Select(kit.mysqlRecords(), kitrecord::kEventRun, "mysqladmin.exe");
    ASSERT_EQ(admins.size(), 2u) << "got " << admins.size();
    EXPECT_EQ(admins[1].cmdLine, cmd) << "got " << admins[1].cmdLine;
}

// Once root has a password, the server refuses a shutdown without it or
// with a wrong one; ping still says it is alive (mysqladmin's own rule).
TEST_F(MysqlStandIn, MysqladminNeedsRootsPassword)
{
    ASSERT_TRUE(testkit::WriteFileBytes(kit.mysqlBin() + "mysqld.password", "tv-Secret-1"));
    ASSERT_NO_FATAL_FAILURE(startServer("mysqld-nt.exe", ""));
    const struct {
        const char* args;
        DWORD code;
        const char* err;
    } cases[] = {{" -u root shutdown", 1, "(using password: NO)"},
                 {" -u root -pwrong shutdown", 1, "(using password: YES)"},
                 {" -u root ping", 0, ""},
                 {" -u root --password=tv-Secret-1 shutdown", 0, ""}};
    for (const auto& c : cases) {
        standin::Result r = run(kit.mysqlBin() + "mysqladmin.exe" + c.args);
        EXPECT_EQ(r.exitCode, c.code) << c.args << ": " << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << c.args << ": " << r.err;
        EXPECT_TRUE(c.code == 0 || standin::Alive(server)) << c.args;
    }
    EXPECT_TRUE(testkit::WaitProcess(server, 10000)) << "the right password ends it";
    DeleteFileA((kit.mysqlBin() + "mysqld.password").c_str());
}

TEST_F(MysqlStandIn, MysqladminWithoutServerFails)
{
    for (const char* command : {" -u root shutdown", " ping"}) {
        standin::Result r = run(kit.mysqlBin() + "mysqladmin.exe" + command);
        EXPECT_EQ(r.exitCode, 1u) << command << ": got " << r.exitCode;
        EXPECT_NE(r.err.find("Can't connect to MySQL server"), std::string::npos) << command << ": got " << r.err;
    }
}

TEST_F(MysqlStandIn, MysqladminWrongArgumentsAreRefused)
{
    ASSERT_NO_FATAL_FAILURE(startServer("mysqld.exe", ""));
    for (const char* args : {"", " -u", " -u root", " -u root frobnicate", " -x shutdown", " --user= shutdown",
                             " -h db.example.com shutdown", " shutdown extra"}) {
        standin::Result r = run(kit.mysqlBin() + "mysqladmin.exe" + args);
        EXPECT_EQ(r.exitCode, 1u) << "'" << args << "': got " << r.exitCode;
        EXPECT_NE(r.err.find("Usage: mysqladmin.exe"), std::string::npos) << "'" << args << "': got " << r.err;
    }
    // None of them reached the server.
    EXPECT_TRUE(standin::Alive(server));
    EXPECT_TRUE(EventExists());
}
