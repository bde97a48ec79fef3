// Reports the system probes through its exit code, so that a test can run
// it under another Windows version (Wine's AppDefaults):
// 0x100 | IsNtFamily | IsWindowsXp << 1 | IsAdministrator << 2, and in bits
// 4 to 7 the number of access tokens opened by three calls of
// IsAdministrator (the token is examined only at the first).
#include <windows.h>

#include "ImportHook.h"
#include "System.h"

namespace {

typedef BOOL(WINAPI* OpenThreadTokenFn)(HANDLE, DWORD, BOOL, HANDLE*);
typedef BOOL(WINAPI* OpenProcessTokenFn)(HANDLE, DWORD, HANDLE*);

OpenThreadTokenFn realOpenThreadToken;
OpenProcessTokenFn realOpenProcessToken;
int tokenOpens;

BOOL WINAPI CountOpenThreadToken(HANDLE thread, DWORD access, BOOL self, HANDLE* token)
{
    ++tokenOpens;
    return realOpenThreadToken(thread, access, self, token);
}

BOOL WINAPI CountOpenProcessToken(HANDLE process, DWORD access, HANDLE* token)
{
    ++tokenOpens;
    return realOpenProcessToken(process, access, token);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    testkit::HookImport("OpenThreadToken", (void*)CountOpenThreadToken, (void**)&realOpenThreadToken);
    testkit::HookImport("OpenProcessToken", (void*)CountOpenProcessToken, (void**)&realOpenProcessToken);

    int code = 0x100;
    if (IsNtFamily())
        code |= 1;
    if (IsWindowsXp())
        code |= 2;
    bool admin = IsAdministrator();
    if (admin)
        code |= 4;
    // Later answers come from the first examination.
    if (IsAdministrator() != admin || IsAdministrator() != admin)
        code |= 8;
    code |= (tokenOpens < 15 ? tokenOpens : 15) << 4;
    return code;
}
