// ServiceControl against the real system: the process search over a live
// snapshot and the service calls against Wine's service control manager.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include "DriverTestKit.h"
#include "TestKit.h"

using namespace drivertest;

namespace {

class ServiceControlTest : public DriverTest {};

// The first process of a fresh snapshot whose name holds text (exact case).
DWORD firstInSnapshot(const char* text)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    DWORD pid = 0;
    for (BOOL more = Process32First(snapshot, &entry); more && !pid; more = Process32Next(snapshot, &entry))
        if (strstr(entry.szExeFile, text))
            pid = entry.th32ProcessID;
    CloseHandle(snapshot);
    return pid;
}

}  // namespace

// A server is found by its whole file name (any case of a to z), never by
// a part of it: the mysql console is no "mysqld"; and where the system
// tells the path, only below the given folder.
TEST_F(ServiceControlTest, FindProcessMatchesTheWholeFileNameBelowTheFolder)
{
    std::string dir = testkit::MakeTempDir("find");
    std::string other = testkit::MakeTempDir("find2");
    tempDirs.push_back(dir);
    tempDirs.push_back(other);
    std::string name = UniqueName("TVFINDXYZ");  // capitals in the file name
    std::string exe = CopyProgram(IdleExe(), dir, name + ".EXE");
    ASSERT_FALSE(exe.empty()) << "copy failed, error " << GetLastError();
    DWORD pid = launch("\"" + exe + "\"");
    ASSERT_NE(pid, 0u);
    char path[MAX_PATH] = "";
    EXPECT_TRUE(ServiceControl::processPath(pid, path, sizeof path));
    EXPECT_TRUE(ServiceControl::pathBelow(path, dir.c_str())) << path;

    std::string lower = name + ".exe";
    for (char& c : lower)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    std::string part = lower.substr(2);
    const char* wanted[] = {"mysqld.exe", lower.c_str()};
    const char* parts[] = {part.c_str(), name.c_str()};
    std::string dirNoSlash = dir.substr(0, dir.size() - 1);
    std::string sibling = dirNoSlash + "x\\";
    const struct {
        const char* what;
        const char* const* names;
        const char* folder;
        bool found;
    } cases[] = {
        {"its file name in lower case", wanted, nullptr, true},
        {"a part of its name, or no extension", parts, nullptr, false},
        {"below its folder", wanted, dir.c_str(), true},
        {"its folder without the backslash", wanted, dirNoSlash.c_str(), true},
        {"another folder", wanted, other.c_str(), false},
        {"a folder whose name begins like its own", wanted, sibling.c_str(), false},
    };
    for (const auto& c : cases) {
        DWORD found = 4242;
        EXPECT_EQ(ServiceControl::findProcess(c.names, 2, c.folder, &found), c.found) << c.what;
        EXPECT_EQ(found, c.found ? pid : 4242u) << c.what;
    }
}

TEST_F(ServiceControlTest, FindProcessAnswersFalseAndKeepsPid)
{
    DWORD pid = 4242;
    EXPECT_FALSE(ServiceControl::findProcess("", &pid));
    EXPECT_EQ(pid, 4242u) << "got " << pid;
    EXPECT_FALSE(ServiceControl::findProcess(nullptr, 0, nullptr, &pid));
    EXPECT_EQ(pid, 4242u) << "got " << pid;
    EXPECT_FALSE(ServiceControl::findProcess(UniqueName("NoSuchProgram").c_str(), &pid));
    EXPECT_EQ(pid, 4242u) << "got " << pid;
    // Only a to z are folded: a text with other characters must match them exactly.
    EXPECT_FALSE(ServiceControl::findProcess("DRIVERS_TESTS.EXE\xE9", &pid));
    EXPECT_EQ(pid, 4242u) << "got " << pid;
    EXPECT_FALSE(ServiceControl::findProcess("Drivers_Tests", &pid));
    // The test program itself is found by its file name.
    EXPECT_TRUE(ServiceControl::findProcess("DRIVERS_TESTS.EXE", &pid));
    EXPECT_EQ(pid, GetCurrentProcessId()) << "got " << pid;
}

TEST_F(ServiceControlTest, FindProcessTakesFirstMatchInSnapshotOrder)
{
    std::string dirA = testkit::MakeTempDir("firstA");
    std::string dirB = testkit::MakeTempDir("firstB");
    tempDirs.push_back(dirA);
    tempDirs.push_back(dirB);
    std::string name = UniqueName("TvFirst") + ".exe";
    DWORD a = launch("\"" + CopyProgram(IdleExe(), dirA, name) + "\"");
    DWORD b = launch("\"" + CopyProgram(IdleExe(), dirB, name) + "\"");
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    DWORD expected = firstInSnapshot(name.c_str());
    ASSERT_TRUE(expected == a || expected == b) << "snapshot gave " << expected;
    DWORD found = 0;
    EXPECT_TRUE(ServiceControl::findProcess(name.c_str(), &found));
    EXPECT_EQ(found, expected) << "got " << found << " (a " << a << ", b " << b << ")";
    // The same name in another folder is passed over.
    const char* names[] = {name.c_str()};
    EXPECT_TRUE(ServiceControl::findProcess(names, 1, dirB.c_str(), &found));
    EXPECT_EQ(found, b);
    EXPECT_TRUE(ServiceControl::findProcess(names, 1, dirA.c_str(), &found));
    EXPECT_EQ(found, a);
}

// A driver's own helpers are passed over: by file name (any case), by
// their own id, or as children of a listed id.
TEST_F(ServiceControlTest, FindProcessPassesOverExcludedPrograms)
{
    std::string dir = testkit::MakeTempDir("skip");
    tempDirs.push_back(dir);
    std::string stem = UniqueName("TvSkip");
    DWORD child = launch("\"" + CopyProgram(IdleExe(), dir, stem + ".exe") + "\"");
    ASSERT_NE(child, 0u);

    std::string upper = stem + ".EXE";
    for (char& c : upper)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    std::string part = stem.substr(2) + ".exe";  // the end of its name: not its name
    const char* names[] = {part.c_str(), upper.c_str()};
    const DWORD unused[] = {0, 0};
    const DWORD self[] = {0, child};
    const DWORD parent[] = {GetCurrentProcessId()};
    struct {
        const char* what;
        ProcessExclusion exclusion;
        bool found;
    } cases[] = {
        {"no exclusion", {nullptr, 0, nullptr, 0}, true},
        {"unused places", {nullptr, 0, unused, 2}, true},
        {"a part of its name", {names, 1, nullptr, 0}, true},
        {"its file name", {names, 2, nullptr, 0}, false},
        {"its own id", {nullptr, 0, self, 2}, false},
        {"its parent's id", {nullptr, 0, parent, 1}, false},
    };
    for (const auto& c : cases) {
        DWORD pid = 4242;
        const char* own[] = {upper.c_str()};
        EXPECT_EQ(ServiceControl::findProcess(own, 1, nullptr, &pid, &c.exclusion), c.found) << c.what;
        EXPECT_EQ(pid, c.found ? child : 4242u) << c.what;
    }

    char name[MAX_PATH] = "?";
    EXPECT_TRUE(ServiceControl::processName(child, name, sizeof name));
    EXPECT_STREQ(name, (stem + ".exe").c_str());
    EXPECT_FALSE(ServiceControl::processName(0xFFFFFFF0u, name, sizeof name));
    EXPECT_STREQ(name, "");
}

TEST_F(ServiceControlTest, LastReleaseClosesServiceManagerAndProcessFunctions)
{
    DWORD pid = 0;
    ASSERT_TRUE(ServiceControl::findProcess("drivers_tests.exe", &pid));
    // A second reference changes nothing; dropping it neither.
    ServiceControl::acquire();
    ServiceControl::release();
    SC_HANDLE service = ServiceControl::openService("EventLog");
    EXPECT_TRUE(service != nullptr) << "error " << GetLastError();
    if (service)
        CloseServiceHandle(service);
    EXPECT_TRUE(ServiceControl::findProcess("drivers_tests.exe", &pid));

    // One release too many closes everything.
    ServiceControl::release();
    EXPECT_TRUE(ServiceControl::openService("EventLog") == nullptr);
    pid = 7;
    EXPECT_FALSE(ServiceControl::findProcess("drivers_tests.exe", &pid));
    EXPECT_EQ(pid, 7u) << "got " << pid;
    // A release at count 0 does nothing, and a further acquire opens them
    // again.
    ServiceControl::release();
    ServiceControl::acquire();
    SC_HANDLE again = ServiceControl::openService("EventLog");
    EXPECT_TRUE(again != nullptr) << "error " << GetLastError();
    if (again)
        CloseServiceHandle(again);
    EXPECT_TRUE(ServiceControl::findProcess("drivers_tests.exe", &pid));
    ServiceControl::release();
    ServiceControl::acquire();  // balances the fixture's release
}

TEST_F(ServiceControlTest, OpenServiceOfUnknownNameIsNull)
{
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(ServiceControl::openService(UniqueName("TvNoService").c_str()) == nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_DOES_NOT_EXIST) << "got " << GetLastError();
    EXPECT_TRUE(ServiceControl::openService(nullptr) == nullptr);
    EXPECT_FALSE(ServiceControl::startService(nullptr));
    EXPECT_FALSE(ServiceControl::stopService(nullptr));
}
