// Reports the system probes of ServiceControl through its exit code, so
// that a test can run it under another Windows version (Wine's
// AppDefaults): 0x100 | isNtFamily | isWindowsXp << 1 | isAdministrator << 2.
#include <windows.h>

#include "ServiceControl.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    int code = 0x100;
    if (ServiceControl::isNtFamily())
        code |= 1;
    if (ServiceControl::isWindowsXp())
        code |= 2;
    if (ServiceControl::isAdministrator())
        code |= 4;
    return code;
}
