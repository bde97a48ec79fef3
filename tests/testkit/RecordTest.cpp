// The record lines the stand-ins write: format, parsing, and what a real
// launch records (command line, console title, current directory, show
// state).
#include <windows.h>
#include <gtest/gtest.h>

#include <vector>

#include "KitLayout.h"
#include "StandInHelpers.h"
#include "TestKit.h"
#include "record.h"

using kitrecord::Record;

TEST(Record, FormatAndParseRoundTripWithSeparatorsInValues)
{
    Record r;
    r.event = "run";
    r.program = "mysqld-nt.exe";
    r.pid = 4242;
    r.cmdLine = "a\tb\r\nc 100% \"x\"";
    r.title = "";
    r.curDir = "C:\\kit\\";
    r.show = 0;
    std::string line = kitrecord::FormatRecord(r);
    EXPECT_EQ(line,
              "event=run\tprogram=mysqld-nt.exe\tpid=4242\tcmd=a%09b%0D%0Ac 100%25 \"x\"\ttitle=\tdir=C:\\kit\\"
              "\tshow=0\r\n")
        << "got " << line;
    Record back;
    ASSERT_TRUE(kitrecord::ParseRecord(line, &back));
    EXPECT_EQ(back.cmdLine, r.cmdLine) << "got " << back.cmdLine;
    EXPECT_EQ(back.pid, 4242u) << "got " << back.pid;
    EXPECT_EQ(back.show, 0) << "got " << back.show;
    EXPECT_EQ(back.curDir, r.curDir) << "got " << back.curDir;

    r.show = -1;
    line = kitrecord::FormatRecord(r);
    EXPECT_NE(line.find("\tshow=none\r\n"), std::string::npos) << "got " << line;
    ASSERT_TRUE(kitrecord::ParseRecord(line, &back));
    EXPECT_EQ(back.show, -1) << "got " << back.show;
}

TEST(Record, MalformedLinesAreRejected)
{
    Record r;
    const char* const bad[] = {
        "",
        "program=a.exe\tevent=run\tpid=1\tcmd=\ttitle=\tdir=\tshow=0",     // order
        "event=run\tprogram=a.exe\tpid=x\tcmd=\ttitle=\tdir=\tshow=0",     // pid
        "event=run\tprogram=a.exe\tpid=1\tcmd=%4\ttitle=\tdir=\tshow=0",   // cut escape
        "event=run\tprogram=a.exe\tpid=1\tcmd=%zz\ttitle=\tdir=\tshow=0",  // bad escape
        "event=run\tprogram=a.exe\tpid=1\tcmd=\ttitle=\tdir=\tshow=maybe", // show
        "event=run\tprogram=a.exe\tpid=1\tcmd=\ttitle=\tdir=",             // missing field
        "event=run\tprogram=a.exe\tpid=1\tcmd=\ttitle=\tdir=\tshow=0\textra=1",
    };
    for (const char* line : bad)
        EXPECT_FALSE(kitrecord::ParseRecord(line, &r)) << "accepted: " << line;
    int malformed = 0;
    std::vector<Record> records = kitrecord::ParseRecords(
        std::string("event=run\tprogram=a.exe\tpid=1\tcmd=x\ttitle=\tdir=\tshow=none\r\n") + bad[2] + "\r\n",
        &malformed);
    EXPECT_EQ(records.size(), 1u) << "got " << records.size();
    EXPECT_EQ(malformed, 1) << "got " << malformed;
}

// A launch as the manager makes it: title, hidden, new console, current
// directory; every detail lands in the record.
TEST(Record, LaunchDetailsAreRecorded)
{
    testkit::KitLayout kit("record");
    ASSERT_TRUE(kit.ok());
    std::string cmd = kit.mysqlBin() + "mysqladmin.exe -u root ping";
    standin::Launch how;
    how.title = "Pinging MySQL";
    how.curDir = kit.apacheDir();
    PROCESS_INFORMATION pi = standin::Start(cmd, how);
    ASSERT_NE(pi.hProcess, nullptr);
    CloseHandle(pi.hThread);
    EXPECT_TRUE(testkit::WaitProcess(pi.hProcess, 20000));
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(code, 1u) << "ping without a server, got " << code;

    std::vector<Record> records = kit.mysqlRecords();
    ASSERT_EQ(records.size(), 1u) << "got " << records.size();
    const Record& r = records[0];
    EXPECT_EQ(r.event, "run") << "got " << r.event;
    EXPECT_EQ(r.program, "mysqladmin.exe") << "got " << r.program;
    EXPECT_EQ(r.pid, pi.dwProcessId) << "got " << r.pid;
    EXPECT_EQ(r.cmdLine, cmd) << "got " << r.cmdLine;
    EXPECT_EQ(r.title, "Pinging MySQL") << "got " << r.title;
    std::string dir = kit.apacheDir();
    dir.pop_back();  // GetCurrentDirectory has no trailing backslash
    EXPECT_EQ(_stricmp(r.curDir.c_str(), dir.c_str()), 0) << "got " << r.curDir;
    EXPECT_EQ(r.show, SW_HIDE) << "got " << r.show;
}

TEST(Record, ShowStateIsNoneWithoutTheFlagAndHiddenThroughWinExec)
{
    testkit::KitLayout kit("recshow");
    ASSERT_TRUE(kit.ok());
    standin::Launch how;
    how.useShowWindow = false;
    PROCESS_INFORMATION pi = standin::Start(kit.mysqlBin() + "mysqladmin.exe ping", how);
    ASSERT_NE(pi.hProcess, nullptr);
    CloseHandle(pi.hThread);
    EXPECT_TRUE(testkit::WaitProcess(pi.hProcess, 20000));
    CloseHandle(pi.hProcess);

    // As the manager runs mysqladmin and the service commands.
    std::string cmd = kit.mysqlBin() + "mysqladmin.exe -u root shutdown";
    UINT launched = WinExec(cmd.c_str(), SW_HIDE);
    EXPECT_GT(launched, 31u) << "got " << launched;
    ASSERT_TRUE(testkit::PumpUntil([&] { return kit.mysqlRecords().size() == 2; }, 20000))
        << "got " << kit.mysqlRecords().size();
    std::vector<Record> records = kit.mysqlRecords();
    EXPECT_EQ(records[0].show, -1) << "got " << records[0].show;
    EXPECT_EQ(records[1].cmdLine, cmd) << "got " << records[1].cmdLine;
    EXPECT_EQ(records[1].show, SW_HIDE) << "got " << records[1].show;
}

// Several programs appending at once: every line whole, none lost.
TEST(Record, ConcurrentAppendsStayWhole)
{
    testkit::KitLayout kit("recmany");
    ASSERT_TRUE(kit.ok());
    const int count = 8;
    HANDLE processes[count];
    for (int i = 0; i < count; ++i) {
        standin::Launch how;
        how.title = std::string(200 + i, 'a' + i);  // long lines
        PROCESS_INFORMATION pi = standin::Start(kit.mysqlBin() + "mysqladmin.exe ping", how);
        ASSERT_NE(pi.hProcess, nullptr);
        CloseHandle(pi.hThread);
        processes[i] = pi.hProcess;
    }
    for (HANDLE p : processes) {
        EXPECT_TRUE(testkit::WaitProcess(p, 20000));
        CloseHandle(p);
    }
    std::string text;
    ASSERT_TRUE(testkit::ReadFileBytes(kitrecord::RecordPath(kit.mysqlBin()), &text));
    int malformed = -1;
    std::vector<Record> records = kitrecord::ParseRecords(text, &malformed);
    EXPECT_EQ(records.size(), (size_t)count) << "got " << records.size() << " in\n" << text;
    EXPECT_EQ(malformed, 0) << "got " << malformed;
}
