// The probes behind "why did the server not start": the tail of a log
// file, and the program that listens on a port.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Diagnostics.h"
#include "TestKit.h"

namespace {

bool RunningOnWine()
{
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

class LogTailTest : public ::testing::Test {
protected:
    void SetUp() override { dir = testkit::MakeTempDir("tail"); }
    void TearDown() override { testkit::RemoveTree(dir); }

    std::vector<std::string> tail(const std::string& path)
    {
        char lines[3][logTailLineSize];
        memset(lines, 0x7F, sizeof lines);
        int count = ReadLogTail(path.c_str(), lines, 3);
        EXPECT_TRUE(count >= 0 && count <= 3) << "got " << count;
        return std::vector<std::string>(lines, lines + (count > 0 ? count : 0));
    }

    std::string dir;
};

struct TailCase {
    const char* name;
    const char* content;  // null: no file at all
    std::vector<std::string> expected;
};

}  // namespace

TEST_F(LogTailTest, Cases)
{
    const std::string cut(255, 'L');
    const std::string longLine = std::string(300, 'L') + "\n";
    // Only the last 8 KB are read: a line that began before them is left
    // out rather than shown from its middle.
    const std::string beforeTail = std::string(10000, 'x') + "\nend\n";
    const TailCase cases[] = {
        {"missing", nullptr, {}},
        {"empty", "", {}},
        {"one line", "[error] port 80 in use\n", {"[error] port 80 in use"}},
        {"five lines give the last three", "a\nb\nc\nd\ne\n", {"c", "d", "e"}},
        {"no final line feed", "first\nlast", {"first", "last"}},
        {"CR LF and blank lines", "one\r\n\r\n  \r\ntwo\r\nthree\r\n\r\n", {"one", "two", "three"}},
        {"a 300-character line is cut", longLine.c_str(), {cut}},
        {"blank only", "\r\n \n\t\n", {}},
        {"a line begun before the last 8 KB", beforeTail.c_str(), {"end"}},
    };
    for (const TailCase& c : cases) {
        std::string path = dir + "error.log";
        DeleteFileA(path.c_str());
        if (c.content)
            ASSERT_TRUE(testkit::WriteFileBytes(path, c.content));
        EXPECT_EQ(tail(path), c.expected) << c.name;
    }
    char lines[1][logTailLineSize];
    EXPECT_EQ(ReadLogTail((dir + "error.log").c_str(), lines, 0), 0) << "no room: nothing read";
}

// A 5 MB log its writer holds open, sharing reading only (as loggers do):
// the open must let the writer's write access stand.
TEST_F(LogTailTest, HugeLogHeldByItsWriter)
{
    std::string path = dir + "access.log";
    HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    std::string block;
    for (int i = 0; block.size() < 5 * 1024 * 1024; ++i) {
        char line[64];
        snprintf(line, sizeof line, "127.0.0.1 - - GET /page%07d.html 200\r\n", i);
        block += line;
    }
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(writer, block.data(), (DWORD)block.size(), &written, nullptr));

    size_t last = block.rfind("127.", block.size() - 3);
    size_t middle = block.rfind("127.", last - 1);
    size_t first = block.rfind("127.", middle - 1);
    std::vector<std::string> expected = {block.substr(first, middle - first - 2),
                                         block.substr(middle, last - middle - 2),
                                         block.substr(last, block.size() - last - 2)};
    EXPECT_EQ(tail(path), expected);

    // The writer goes on while the tail is read; a line without its end yet
    // counts as the last line.
    ASSERT_TRUE(WriteFile(writer, "partial", 7, &written, nullptr));
    EXPECT_EQ(tail(path).back(), "partial");
    CloseHandle(writer);
}

// The test opens a listener of its own on a free port of 127.0.0.1: the
// holder found is this very program.
TEST(PortHolderTest, FindsOwnListenerThenNobody)
{
    WSADATA wsa;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(listener, INVALID_SOCKET);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, (sockaddr*)&address, sizeof address), 0) << WSAGetLastError();
    ASSERT_EQ(listen(listener, 1), 0) << WSAGetLastError();
    int length = sizeof address;
    ASSERT_EQ(getsockname(listener, (sockaddr*)&address, &length), 0);
    int port = ntohs(address.sin_port);

    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, sizeof self);
    const char* selfName = strrchr(self, '\\') ? strrchr(self, '\\') + 1 : self;

    char program[MAX_PATH] = "?";
    DWORD pid = 12345;
    bool found = FindPortHolder(port, program, sizeof program, &pid);
    EXPECT_TRUE(found) << "port " << port;
    // Wine (8.0) lists the listener with owning process id 0, so the owner
    // cannot be checked there; Windows gives the owner.
    if (found && pid == 0 && RunningOnWine()) {
        printf("Wine gives no owning process for port %d: owner checks skipped\n", port);
        EXPECT_STREQ(program, "") << "no name without an owner";
    } else {
        EXPECT_EQ(pid, GetCurrentProcessId()) << "port " << port;
        EXPECT_STREQ(program, selfName);
        // A short buffer gets the name cut, never overrun.
        char shortName[5];
        EXPECT_TRUE(FindPortHolder(port, shortName, sizeof shortName, &pid));
        EXPECT_EQ(std::string(shortName), std::string(selfName).substr(0, 4));
    }

    closesocket(listener);
    pid = 12345;
    strcpy(program, "?");
    EXPECT_FALSE(FindPortHolder(port, program, sizeof program, &pid)) << "port " << port << " is free again";
    EXPECT_EQ(pid, 0u);
    EXPECT_STREQ(program, "");
    EXPECT_FALSE(FindPortHolder(0, program, sizeof program, &pid));
    WSACleanup();
}
