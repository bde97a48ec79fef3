// The system probes of the floor (System.h) against the real system.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "System.h"
#include "TestKit.h"

namespace {

// Runs a copy of the probe program (TvProbe.cpp) as a given Windows
// version; returns its exit code (0 when it could not be run).
DWORD ProbeAs(const char* version)
{
    DWORD code = 0;
    std::string name = "TvProbe" + std::to_string(GetCurrentProcessId()) + version + ".exe";
    if (!testkit::RunAsWindowsVersion(testkit::BinDir() + "TvProbe.exe", name, version, "", &code))
        code = 0;
    return code;
}

}  // namespace

TEST(SystemProbes, VersionProbesFollowWindowsVersion)
{
    // Wine's token holds the Administrators group whatever the version; the
    // probe counts the tokens opened by three calls of IsAdministrator: the
    // thread's (there is none, ERROR_NO_TOKEN), then the process's, once.
    const struct {
        const char* version;
        DWORD expected;
    } cases[] = {{"winxp", 0x127}, {"win2k", 0x125}, {"win98", 0x124}};
    for (const auto& c : cases) {
        DWORD code = ProbeAs(c.version);
        EXPECT_EQ(code, c.expected) << c.version << " gave " << std::hex << code;
    }
}

// The text is cut to the buffer and never written past it; "error N" where
// the system has no text.
TEST(SystemProbes, ErrorTextIsCutToItsBuffer)
{
    char full[512] = "";
    ASSERT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             ERROR_FILE_NOT_FOUND, 0, full, sizeof full, nullptr), 2u);
    std::string bare(full);
    while (!bare.empty() && (bare.back() == '\n' || bare.back() == '\r'))
        bare.pop_back();
    const DWORD unknown = 0x2000FFFF;
    const struct {
        DWORD code;
        size_t size;
        bool keepLineEnd;
        std::string expected;
        bool known;
    } cases[] = {
        {ERROR_FILE_NOT_FOUND, 512, false, bare, true},
        {ERROR_FILE_NOT_FOUND, 512, true, full, true},
        {ERROR_FILE_NOT_FOUND, 6, false, bare.substr(0, 5), true},
        {ERROR_FILE_NOT_FOUND, 1, false, "", true},
        {unknown, 64, false, "error 536936447", false},
        {unknown, 8, false, "error 5", false},
    };
    for (const auto& c : cases) {
        char buffer[600];
        memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(SystemErrorText(c.code, buffer, c.size, c.keepLineEnd), c.known) << c.code << " in " << c.size;
        EXPECT_EQ(std::string(buffer), c.expected) << c.code << " in " << c.size;
        EXPECT_EQ(buffer[c.size], '#') << "written past " << c.size;
    }
}

// The time is read whoever holds the file: the probe opens it for no
// access (the NT family, and Wine with it, make no sharing check for such
// an open; the 95 family refuses it while a writer holds the file).
TEST(SystemProbes, FileWriteTimeWhoeverHoldsTheFile)
{
    std::string dir = testkit::MakeTempDir("ftime");
    std::string path = dir + "conf.ini";
    FILETIME time = {1, 1};
    EXPECT_FALSE(FileWriteTime(path.c_str(), &time)) << "no file";
    EXPECT_EQ(time.dwLowDateTime | time.dwHighDateTime, 0u);
    EXPECT_FALSE(FileWriteTime(path.c_str(), nullptr));
    ASSERT_TRUE(testkit::WriteFileBytes(path, "a=1\n"));

    const struct {
        const char* holder;
        DWORD access;
        DWORD share;
        bool lock;
    } cases[] = {
        {"nobody", 0, 0, false},
        {"a reader sharing reading", GENERIC_READ, FILE_SHARE_READ, false},
        {"a writer sharing everything", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
        {"a writer sharing nothing", GENERIC_WRITE, 0, false},
        {"a writer locking the bytes", GENERIC_READ | GENERIC_WRITE, 0, true},
    };
    DWORD low = 0x12345678;
    for (const auto& c : cases) {
        // Each case sets a time of its own through the file's attributes.
        FILETIME set = {low++, 0x01D00000};
        HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                  nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &set));
        CloseHandle(file);
        HANDLE holder = c.access ? CreateFileA(path.c_str(), c.access, c.share, nullptr, OPEN_EXISTING, 0, nullptr)
                                 : INVALID_HANDLE_VALUE;
        ASSERT_TRUE(!c.access || holder != INVALID_HANDLE_VALUE) << c.holder;
        if (c.lock)
            ASSERT_TRUE(LockFile(holder, 0, 0, 16, 0)) << c.holder;
        time = {1, 1};
        EXPECT_TRUE(FileWriteTime(path.c_str(), &time)) << c.holder;
        EXPECT_EQ(CompareFileTime(&time, &set), 0) << c.holder << ": got " << std::hex << time.dwHighDateTime << ":"
                                                   << time.dwLowDateTime;
        if (c.lock)
            UnlockFile(holder, 0, 0, 16, 0);
        if (holder != INVALID_HANDLE_VALUE)
            CloseHandle(holder);
    }
    testkit::RemoveTree(dir);
}
