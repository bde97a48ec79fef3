// Event lines, their stamp and cut, and the state names.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "ManagerWindow.h"

TEST(EventLog, LineFormatStampAndCut)
{
    SYSTEMTIME t = {};
    t.wYear = 2026, t.wMonth = 12, t.wDay = 31, t.wHour = 23, t.wMinute = 59, t.wSecond = 59;
    char line[256];
    const struct {
        EventSource source;
        const char* expected;
    } cases[] = {
        {SourceManager, "31/12 23:59:59 Tarvane: go"},
        {SourceMySql, "31/12 23:59:59 MySql  : go"},
        {SourceApache, "31/12 23:59:59 Apache : go"},
    };
    for (const auto& c : cases) {
        FormatEventLine(line, sizeof line, t, c.source, "go");
        EXPECT_STREQ(c.expected, line);
    }
    t.wMonth = 1, t.wDay = 2, t.wHour = 3, t.wMinute = 4, t.wSecond = 5;
    std::string message(300, 'm');
    FormatEventLine(line, sizeof line, t, SourceManager, message.c_str());
    EXPECT_EQ(255u, strlen(line));
    EXPECT_EQ(0, strncmp(line, "02/01 03:04:05 Tarvane: mmm", 27)) << line;
}

TEST(EventLog, StateNames)
{
    EXPECT_STREQ("Started", StateName(Running));
    EXPECT_STREQ("Stopped", StateName(Stopped));
    EXPECT_STREQ("Pending...", StateName(StartPending));
    EXPECT_STREQ("Pending...", StateName(StopPending));
    EXPECT_STREQ("undefined", StateName(7));
    EXPECT_STREQ("undefined", StateName(-1));
}
