// An idle program for the driver tests: it runs until the named event given
// on its command line is signalled (without one, until it is killed).
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR cmdLine, int)
{
    while (*cmdLine == ' ')
        ++cmdLine;
    if (!*cmdLine) {
        Sleep(INFINITE);
        return 0;
    }
    char name[MAX_PATH];
    lstrcpynA(name, cmdLine, sizeof name);
    for (char* end = name + lstrlenA(name); end > name && end[-1] == ' ';)
        *--end = '\0';
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, name);
    if (!event)
        return 2;
    WaitForSingleObject(event, INFINITE);
    CloseHandle(event);
    return 0;
}
