#include "ServerKit.h"

#include <tlhelp32.h>

#include "KitLayout.h"
#include "ServiceControl.h"
#include "TestKit.h"

const char* const allMySqlBuilds[4] = {"mysqld-nt.exe", "mysqld.exe", "mysqld-opt.exe", "mysqld-shareware.exe"};

namespace {

const char* const kitPrograms[] = {
    "apache.exe", "httpd.exe", "mysqld-nt.exe", "mysqld.exe", "mysqld-opt.exe", "mysqld-shareware.exe", "mysqladmin.exe",
};

void CopyProgram(const std::string& from, const std::string& to)
{
    ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << from << " -> " << to << " error " << GetLastError();
}

}  // namespace

void ServerKitTest::SetUp()
{
    temp = testkit::MakeTempDir("servers");
    ServiceControl::acquire();
}

void ServerKitTest::TearDown()
{
    ServiceControl::release();
    testkit::RemoveServiceIfPresent("Apache");
    testkit::RemoveServiceIfPresent("MySql");
    KillKitProcesses();
    layout.reset();
    // Consoles and command interpreters of the launches may hold the
    // folder a moment longer.
    testkit::PumpUntil(
        [this] {
            testkit::RemoveTree(temp);
            return !testkit::FileExists(temp);
        },
        5000);
}

void ServerKitTest::LayOut(const char* sub)
{
    layout.reset(new testkit::KitLayout(temp + sub, 0, true, true));
    ASSERT_TRUE(layout->ok()) << "error " << GetLastError();
    kit = layout->root();
    kitShort = layout->shortRoot();
    webPort = layout->port();
    WriteHttpdConf("ServerRoot \"" + kit + "Apache\"\nPort " + std::to_string(webPort) + "\n");
}

void ServerKitTest::AddMySqlBuilds(const std::vector<const char*>& names)
{
    for (const char* name : names)
        CopyProgram(testkit::BinDir() + name, kit + "MySql\\bin\\" + name);
}

void ServerKitTest::UseCheckStub(const std::string& bytes)
{
    CopyProgram(testkit::BinDir() + "servers_checkstub.exe", kit + "Apache\\apache.exe");
    ASSERT_TRUE(testkit::WriteFileBytes(kit + "Apache\\checkstub.txt", bytes));
}

void ServerKitTest::UseHttpdLayout()
{
    ASSERT_TRUE(layout->useApache24()) << "error " << GetLastError();
    WriteHttpdConf("ServerRoot \"" + kit + "Apache\"\nListen " + std::to_string(webPort) + "\n");
}

void ServerKitTest::WriteHttpdConf(const std::string& text)
{
    SetFileAttributesA(layout->httpdConf().c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(layout->writeHttpdConf(text));
}

std::string ServerKitTest::RunProbe(const char* version, const char* action)
{
    // A copy under a name of its own, so that the version applies to it
    // alone.
    char name[64];
    snprintf(name, sizeof name, "srvprobe_%lu.exe", GetCurrentProcessId());
    std::string report = temp + "probe.txt";
    DeleteFileA(report.c_str());
    DWORD exitCode = 99;
    // The kit's folder ends with a backslash: doubled before the closing
    // quote, it stays one.
    bool ran = testkit::RunAsWindowsVersion(testkit::BinDir() + "servers_familyprobe.exe", name, version,
                                            report + " " + action + " \"" + kitShort + "\\\"", &exitCode);
    EXPECT_TRUE(ran);
    EXPECT_EQ(exitCode, 0u) << "probe exit code";
    std::string text;
    testkit::ReadFileBytes(report, &text);
    return text;
}

std::vector<kitrecord::Record> ServerKitTest::apacheRuns() const
{
    // apache.exe records beside itself, httpd.exe in Apache\bin.
    std::vector<kitrecord::Record> runs = kitrecord::ReadRecords(layout->apacheDir());
    std::vector<kitrecord::Record> httpd = kitrecord::ReadRecords(layout->apacheDir() + "bin\\");
    runs.insert(runs.end(), httpd.begin(), httpd.end());
    return kitrecord::Select(runs, kitrecord::kEventRun);
}

std::vector<kitrecord::Record> ServerKitTest::runsWith(const char* part) const
{
    std::vector<kitrecord::Record> out;
    for (const auto& r : apacheRuns())
        if (r.cmdLine.find(part) != std::string::npos)
            out.push_back(r);
    return out;
}

std::vector<kitrecord::Record> ServerKitTest::mySqlRuns() const
{
    return kitrecord::Select(layout->mysqlRecords(), kitrecord::kEventRun);
}

void KillKitProcesses()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        const char* file = strrchr(entry.szExeFile, '\\');
        file = file ? file + 1 : entry.szExeFile;
        bool ours = false;
        for (const char* name : kitPrograms)
            ours = ours || !_stricmp(file, name);
        // Copies of the family probe carry a prefix of their own.
        ours = ours || !_strnicmp(file, "srvprobe_", 9);
        if (!ours || entry.th32ProcessID == GetCurrentProcessId())
            continue;
        testkit::KillProcess(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
}

