// apache.exe stand-in: start, shutdown and restart through logs\httpd.pid
// and the ap<pid>_* events, the -t syntax check, wrong arguments.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "KitLayout.h"
#include "StandInHelpers.h"
#include "TestKit.h"
#include "record.h"

using kitrecord::Record;

namespace {

class ApacheStandIn : public ::testing::Test {
protected:
    testkit::KitLayout kit{"apache"};
    HANDLE server = nullptr;
    DWORD serverPid = 0;

    void TearDown() override
    {
        if (server) {
            if (standin::Alive(server))
                TerminateProcess(server, 1);
            WaitForSingleObject(server, 5000);
            CloseHandle(server);
        }
    }

    DWORD pidInFile() const
    {
        std::string text;
        if (!testkit::ReadFileBytes(kit.pidFile(), &text))
            return 0;
        return strtoul(text.c_str(), nullptr, 10);
    }

    // As the manager starts Apache.
    void startServer(const char* extra = "")
    {
        standin::Launch how;
        how.title = "Apache2";
        how.curDir = kit.apacheDir();
        PROCESS_INFORMATION pi = standin::Start(kit.apacheExe() + " -k start" + extra, how);
        ASSERT_NE(pi.hProcess, nullptr);
        CloseHandle(pi.hThread);
        server = pi.hProcess;
        serverPid = pi.dwProcessId;
        ASSERT_TRUE(testkit::PumpUntil([&] { return pidInFile() == serverPid; }, 20000))
            << "pid file holds " << pidInFile() << ", expected " << serverPid;
    }

    standin::Result run(const std::string& args)
    {
        standin::Result result;
        EXPECT_TRUE(standin::RunCaptured(kit.apacheExe() + args, &result, kit.apacheDir()));
        return result;
    }

    std::string slashedConf() const
    {
        std::string path = kit.httpdConf();
        for (char& c : path)
            if (c == '\\')
                c = '/';
        return path;
    }
};

std::string EventName(DWORD pid, const char* kind)
{
    char name[64];
    snprintf(name, sizeof name, "ap%lu_%s", pid, kind);
    return name;
}

}  // namespace

TEST_F(ApacheStandIn, StartRunsUntilShutdownThroughPidFileAndEvent)
{
    ASSERT_TRUE(kit.ok());
    ASSERT_NO_FATAL_FAILURE(startServer());
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, EventName(serverPid, "shutdown").c_str());
    EXPECT_NE(event, nullptr) << "error " << GetLastError();
    if (event)
        CloseHandle(event);
    testkit::PumpFor(300);
    EXPECT_TRUE(standin::Alive(server));

    // As the manager stops it: two blanks before -k, own console title.
    standin::Launch how;
    how.title = "Stopping Apache";
    how.curDir = kit.apacheDir();
    PROCESS_INFORMATION pi = standin::Start(kit.apacheExe() + "  -k shutdown", how);
    ASSERT_NE(pi.hProcess, nullptr);
    CloseHandle(pi.hThread);
    EXPECT_TRUE(testkit::WaitProcess(pi.hProcess, 20000));
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(code, 0u) << "got " << code;

    ASSERT_TRUE(testkit::WaitProcess(server, 10000));
    GetExitCodeProcess(server, &code);
    EXPECT_EQ(code, 0u) << "got " << code;
    EXPECT_FALSE(testkit::FileExists(kit.pidFile()));

    std::vector<Record> records = kit.apacheRecords();
    ASSERT_EQ(records.size(), 3u) << "got " << records.size();
    EXPECT_EQ(records[0].cmdLine, kit.apacheExe() + " -k start") << "got " << records[0].cmdLine;
    EXPECT_EQ(records[0].title, "Apache2") << "got " << records[0].title;
    EXPECT_EQ(records[1].cmdLine, kit.apacheExe() + "  -k shutdown") << "got " << records[1].cmdLine;
    EXPECT_EQ(records[1].title, "Stopping Apache") << "got " << records[1].title;
    EXPECT_EQ(records[2].event, "end") << "got " << records[2].event;
    EXPECT_EQ(records[2].pid, serverPid) << "got " << records[2].pid;
}

TEST_F(ApacheStandIn, StartWithSslDefinitionRuns)
{
    ASSERT_NO_FATAL_FAILURE(startServer(" -D SSL"));
    standin::Result r = run(" -k shutdown");
    EXPECT_EQ(r.exitCode, 0u) << "got " << r.exitCode << ": " << r.err;
    EXPECT_TRUE(testkit::WaitProcess(server, 10000));
    std::vector<Record> records = kit.apacheRecords();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0].cmdLine, kit.apacheExe() + " -k start -D SSL") << "got " << records[0].cmdLine;
}

TEST_F(ApacheStandIn, RestartKeepsRunningAndIsRecorded)
{
    ASSERT_NO_FATAL_FAILURE(startServer());
    standin::Result r = run(" -k restart");
    EXPECT_EQ(r.exitCode, 0u) << "got " << r.exitCode << ": " << r.err;
    EXPECT_TRUE(testkit::PumpUntil(
        [&] { return kitrecord::Select(kit.apacheRecords(), kitrecord::kEventRestart).size() == 1; }, 10000));
    EXPECT_TRUE(standin::Alive(server));
    EXPECT_EQ(pidInFile(), serverPid) << "got " << pidInFile();

    // A restart onto a broken configuration keeps the old one and runs on.
    ASSERT_TRUE(kit.writeHttpdConf(testkit::DefaultHttpdConf(kit.port()) + "Bogus on\r\n"));
    r = run(" -k restart");
    EXPECT_EQ(r.exitCode, 0u) << "got " << r.exitCode << ": " << r.err;
    EXPECT_TRUE(testkit::PumpUntil(
        [&] { return kitrecord::Select(kit.apacheRecords(), kitrecord::kEventRestartFailed).size() == 1; }, 10000));
    EXPECT_TRUE(standin::Alive(server));
    std::vector<Record> restarts = kitrecord::Select(kit.apacheRecords(), kitrecord::kEventRestart);
    ASSERT_EQ(restarts.size(), 1u);
    EXPECT_EQ(restarts[0].pid, serverPid) << "got " << restarts[0].pid;

    r = run(" -k shutdown");
    EXPECT_EQ(r.exitCode, 0u) << "got " << r.exitCode << ": " << r.err;
    EXPECT_TRUE(testkit::WaitProcess(server, 10000));
}

TEST_F(ApacheStandIn, SecondStartIsRefusedWhileOneRuns)
{
    ASSERT_NO_FATAL_FAILURE(startServer());
    standin::Result r = run(" -k start");
    EXPECT_EQ(r.exitCode, 1u) << "got " << r.exitCode;
    char expected[64];
    snprintf(expected, sizeof expected, "httpd (pid %lu) already running\r\n", serverPid);
    EXPECT_EQ(r.err, expected) << "got " << r.err;
    EXPECT_EQ(pidInFile(), serverPid) << "got " << pidInFile();
    EXPECT_TRUE(standin::Alive(server));
}

// A pid file left by a crash names no live instance: start works, and
// shutdown/restart say Apache is not running.
TEST_F(ApacheStandIn, StalePidFileDoesNotCount)
{
    char text[32];
    snprintf(text, sizeof text, "%lu\r\n", GetCurrentProcessId());  // alive, but not Apache
    ASSERT_TRUE(testkit::WriteFileBytes(kit.pidFile(), text));
    standin::Result r = run(" -k shutdown");
    EXPECT_EQ(r.exitCode, 1u) << "got " << r.exitCode;
    EXPECT_NE(r.err.find("is not running"), std::string::npos) << "got " << r.err;
    r = run(" -k restart");
    EXPECT_EQ(r.exitCode, 1u) << "got " << r.exitCode;

    ASSERT_NO_FATAL_FAILURE(startServer());
    r = run(" -k shutdown");
    EXPECT_EQ(r.exitCode, 0u) << "got " << r.exitCode << ": " << r.err;
    EXPECT_TRUE(testkit::WaitProcess(server, 10000));
}

TEST_F(ApacheStandIn, ShutdownAndRestartWithoutPidFileFail)
{
    for (const char* args : {" -k shutdown", " -k stop", " -k restart"}) {
        standin::Result r = run(args);
        EXPECT_EQ(r.exitCode, 1u) << args << ": got " << r.exitCode;
        EXPECT_NE(r.err.find("Apache is not running"), std::string::npos) << args << ": got " << r.err;
    }
}

TEST_F(ApacheStandIn, SyntaxTestWritesSyntaxOkToErrorOutput)
{
    standin::Result r = run(" -t");
    EXPECT_EQ(r.exitCode, 0u) << "got " << r.exitCode;
    EXPECT_EQ(r.err, "Syntax OK\r\n") << "got " << r.err;
    EXPECT_EQ(r.out, "") << "got " << r.out;
}

TEST_F(ApacheStandIn, SyntaxErrorNamesFileAndLine)
{
    std::string conf;
    for (int i = 1; i <= 11; ++i)
        conf += (i % 3 == 0) ? "# comment\r\n" : (i % 3 == 1) ? "Port 80\r\n" : "\r\n";
    conf += "Foo bar\r\nServerName localhost\r\n";
    ASSERT_TRUE(kit.writeHttpdConf(conf));
    standin::Result r = run(" -t");
    EXPECT_EQ(r.exitCode, 1u) << "got " << r.exitCode;
    std::string expected = "Syntax error on line 12 of " + slashedConf() +
                           ":\r\nInvalid command 'Foo', perhaps misspelled or defined by a module not included in "
                           "the server configuration\r\n";
    EXPECT_EQ(r.err, expected) << "got " << r.err;
    EXPECT_EQ(r.err.find("Syntax OK"), std::string::npos);
}

// Exactly as the manager's check runs: a batch file with
// "<dir>Apache.exe -t 2> <dir>chkap.txt", started by WinExec, hidden.
TEST_F(ApacheStandIn, SyntaxTestThroughBatchWithRedirectedErrorOutput)
{
    std::string out = kit.apacheDir() + "chkap.txt";
    std::string bat = kit.apacheDir() + "chkap.bat";
    ASSERT_TRUE(testkit::WriteFileBytes(bat, kit.apacheDir() + "Apache.exe -t 2> " + out + "\n"));
    auto check = [&](std::string* text) {
        DeleteFileA(out.c_str());
        UINT launched = WinExec(bat.c_str(), SW_HIDE);
        EXPECT_GT(launched, 31u) << "got " << launched;
        // The file exists as soon as cmd opens it; wait for the whole text.
        EXPECT_TRUE(testkit::PumpUntil(
            [&] { return testkit::ReadFileBytes(out, text) && text->find('\n') != std::string::npos; }, 20000))
            << "got " << *text;
    };
    std::string text;
    check(&text);
    EXPECT_EQ(text, "Syntax OK\r\n") << "got " << text;

    ASSERT_TRUE(kit.writeHttpdConf("<Directory />\r\nOptions None\r\n"));
    check(&text);
    testkit::PumpUntil([&] { return testkit::ReadFileBytes(out, &text) && text.size() > 60; }, 5000);
    std::string expected = "Syntax error on line 1 of " + slashedConf() + ":\r\n<Directory> was not closed.\r\n";
    EXPECT_EQ(text, expected) << "got " << text;
    // cmd runs apache.exe with the batch's command line.
    std::vector<Record> runs = kitrecord::Select(kit.apacheRecords(), kitrecord::kEventRun);
    ASSERT_EQ(runs.size(), 2u) << "got " << runs.size();
    EXPECT_NE(runs[1].cmdLine.find("-t"), std::string::npos) << "got " << runs[1].cmdLine;
}

// The validity rule, case by case.
TEST_F(ApacheStandIn, SyntaxRules)
{
    struct Case {
        const char* conf;
        bool valid;
        const char* message;  // expected part of the error text
    } cases[] = {
        {"", true, ""},
        {"# only a comment\r\n\r\n   \t\r\n", true, ""},
        {"port 80\nSERVERNAME x\n  DocumentRoot \"C:/www\"\n", true, ""},  // any case, LF only, indent
        {"<IfModule mod_php4.c>\n  <Directory \"/x\">\n  Order allow,deny\n  </Directory>\n</IfModule>\n", true, ""},
        {"Alias /a \\\n  \"C:/b\"\n", true, ""},  // continuation line
        {"<directory />\n</Directory>\n", true, ""},
        {"ServerName x\n\n<Directory />\n</Files>\n", false, "line 4 of"},
        {"ServerName x\n\n<Directory />\n</Files>\n", false, "Expected </Directory> but saw </Files>"},
        {"</Directory>\n", false, "</Directory> without matching <Directory> section"},
        {"<Directory /\n</Directory>\n", false, "<Directory> directive missing closing '>'"},
        {"<Foo>\n</Foo>\n", false, "Invalid command '<Foo'"},
        {"Alias /a \\\n  \"C:/b\"\nNope\n", false, "line 3 of"},
        {"<VirtualHost *>\nServerName a\n", false, "line 1 of"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(kit.writeHttpdConf(c.conf));
        standin::Result r = run(" -t");
        EXPECT_EQ(r.exitCode, c.valid ? 0u : 1u) << c.conf << "got " << r.exitCode << ": " << r.err;
        if (c.valid)
            EXPECT_EQ(r.err, "Syntax OK\r\n") << c.conf << "got " << r.err;
        else
            EXPECT_NE(r.err.find(c.message), std::string::npos) << c.conf << "got " << r.err;
    }
}

TEST_F(ApacheStandIn, MissingConfigurationIsAnError)
{
    ASSERT_TRUE(DeleteFileA(kit.httpdConf().c_str()));
    standin::Result r = run(" -t");
    EXPECT_EQ(r.exitCode, 1u) << "got " << r.exitCode;
    EXPECT_NE(r.err.find("could not open document config file " + slashedConf()), std::string::npos)
        << "got " << r.err;
    EXPECT_EQ(r.err.find("Syntax OK"), std::string::npos) << "got " << r.err;
    EXPECT_GE(r.err.size(), 10u);
}

TEST_F(ApacheStandIn, StartIsRefusedOnInvalidConfiguration)
{
    ASSERT_TRUE(kit.writeHttpdConf("Listen 80\r\nFoo\r\n"));
    standin::Result r = run(" -k start");
    EXPECT_EQ(r.exitCode, 1u) << "got " << r.exitCode;
    EXPECT_NE(r.err.find("Syntax error on line 2 of"), std::string::npos) << "got " << r.err;
    EXPECT_FALSE(testkit::FileExists(kit.pidFile()));
}

TEST_F(ApacheStandIn, WrongArgumentsAreRefused)
{
    for (const char* args : {"", " -x", " -k", " -k bogus", " -k start -t", " -t -k start", " -D", " start"}) {
        standin::Result r = run(args);
        EXPECT_EQ(r.exitCode, 1u) << "'" << args << "': got " << r.exitCode;
        EXPECT_NE(r.err.find("Usage: apache.exe"), std::string::npos) << "'" << args << "': got " << r.err;
    }
    EXPECT_FALSE(testkit::FileExists(kit.pidFile()));
}

// Run as Apache\bin\httpd.exe the stand-in is Apache 2.x: the server root
// above bin\, 2.x's refusal of the Port line, a console server without -k
// that listens on the Listen port, "-k start" for the installed service,
// and the service named "Apache2.4" unless -n names it.
TEST_F(ApacheStandIn, RunAsHttpdItIsApache24)
{
    ASSERT_TRUE(kit.useApache24());
    standin::Result r = run(" -t");
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.err, "Syntax OK\r\n");

    const std::string conf = testkit::DefaultHttpdConf(kit.port(), testkit::KitApache24);
    ASSERT_TRUE(kit.writeHttpdConf(conf + "Port 80\r\n"));
    r = run(" -t");
    EXPECT_EQ(r.exitCode, 1u);
    const int portLine = (int)std::count(conf.begin(), conf.end(), '\n') + 1;
    EXPECT_EQ(r.err, "AH00526: Syntax error on line " + std::to_string(portLine) + " of " + slashedConf() +
                         ":\r\nInvalid command 'Port', perhaps misspelled or defined by a module not included in "
                         "the server configuration\r\n");
    std::string listen = conf;
    const std::string plain = "Listen " + std::to_string(kit.port()) + "\r\n";
    listen.replace(listen.find(plain), plain.size(), "Listen 127.0.0.1:" + std::to_string(kit.port()) + " http\r\n");
    ASSERT_TRUE(kit.writeHttpdConf(listen));
    // Every -k but install and runservice is about the service "Apache2.4"
    // (or the one -n names): without it, exit 2.
    for (const char* command : {" -k start", " -k shutdown", " -k stop", " -k restart", " -k uninstall"}) {
        r = run(command);
        EXPECT_EQ(r.exitCode, 2u) << command;
        EXPECT_NE(r.err.find("No installed service named \"Apache2.4\"."), std::string::npos) << r.err;
    }

    // The console server, on the port of "Listen 127.0.0.1:<port> http":
    // the parent writes its pid and makes its events, a child serves.
    standin::Launch how;
    how.title = "Apache2";
    how.curDir = kit.apacheDir();
    PROCESS_INFORMATION pi = standin::Start(standin::Quoted(kit.apacheExe()), how);
    ASSERT_NE(pi.hProcess, nullptr);
    CloseHandle(pi.hThread);
    server = pi.hProcess;
    serverPid = pi.dwProcessId;
    ASSERT_TRUE(testkit::PumpUntil([&] { return pidInFile() == serverPid; }, 20000));
    std::string response;
    EXPECT_TRUE(testkit::PumpUntil(
        [&] { return standin::HttpExchange(kit.port(), "GET / HTTP/1.0\r\n\r\n", &response); }, 10000));
    EXPECT_EQ(response.compare(0, 5, "HTTP/"), 0) << response;
    r = run(" -k shutdown");
    EXPECT_EQ(r.exitCode, 2u) << "not to a server in its console";
    EXPECT_FALSE(testkit::WaitProcess(server, 0));
    // Its events are auto-reset: restart, then shutdown.
    for (const char* kind : {"restart", "shutdown"}) {
        HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, ("ap" + std::to_string(serverPid) + "_" + kind).c_str());
        ASSERT_NE(event, nullptr) << kind;
        EXPECT_TRUE(SetEvent(event));
        CloseHandle(event);
        if (!strcmp(kind, "restart"))
            EXPECT_TRUE(testkit::PumpUntil(
                [&] { return standin::HttpExchange(kit.port(), "GET / HTTP/1.0\r\n\r\n", &response); }, 10000));
    }
    EXPECT_TRUE(testkit::WaitProcess(server, 10000));

    // The services.
    const std::string image = standin::Quoted(kit.apacheExe()) + " -k runservice";
    r = run(" -k install");
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(testkit::ServiceImagePath("Apache2.4"), image);
    r = run(" -k uninstall");
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(testkit::ServiceImagePath("Apache2.4"), "");
    r = run(" -k install -n Apache");
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(testkit::ServiceImagePath("Apache"), image + " -n \"Apache\"");
    r = run(" -k start -n Apache");
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_TRUE(testkit::PumpUntil([] { return testkit::ServiceState("Apache") == SERVICE_RUNNING; }, 15000));
    EXPECT_TRUE(testkit::PumpUntil([&] { return standin::HttpExchange(kit.port(), "GET / HTTP/1.0\r\n\r\n",
                                                                      &response); }, 10000));
    r = run(" -k restart -n Apache");
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    r = run(" -k shutdown -n Apache");
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(testkit::ServiceState("Apache"), (DWORD)SERVICE_STOPPED);
    r = run(" -k uninstall -n Apache");
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(testkit::ServiceImagePath("Apache"), "");
}
