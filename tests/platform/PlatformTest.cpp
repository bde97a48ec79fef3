// The bench itself: the prefix, the display and Wine's shell are up, so
// that a failure further on is the product's and not the bench's.
#include <windows.h>
#include <gtest/gtest.h>

#include "TestKit.h"

TEST(Platform, DesktopAndShellWindowsExist)
{
    HWND desktop = GetDesktopWindow();
    RECT rc = {};
    ASSERT_TRUE(GetWindowRect(desktop, &rc)) << "error " << GetLastError();
    EXPECT_GT(rc.right - rc.left, 0) << "desktop width " << rc.right - rc.left;
    // The notification area lives in the shell's tray window.
    EXPECT_TRUE(testkit::PumpUntil([] { return FindWindowA("Shell_TrayWnd", nullptr) != nullptr; }, 5000));
}

namespace {

int ticks;

// A timer procedure is called with the Windows calling convention (stdcall
// on 32-bit Windows): a named CALLBACK function, not a lambda.
void CALLBACK CountTick(HWND, UINT, UINT_PTR, DWORD)
{
    ++ticks;
}

}  // namespace

TEST(Platform, PumpUntilRunsThreadTimers)
{
    ticks = 0;
    UINT_PTR id = SetTimer(nullptr, 0, 10, CountTick);
    ASSERT_NE(id, 0u);
    EXPECT_TRUE(testkit::PumpUntil([] { return ticks >= 3; }, 2000)) << "ticks " << ticks;
    KillTimer(nullptr, id);
}
