#include "System.h"

bool FileWriteTime(const char* path, FILETIME* time)
{
    if (!time)
        return false;
    // No data access: the NT family makes no sharing check for such an
    // open, so a writer holding the file does not hide its time there.
    HANDLE file = path ? CreateFileA(path, 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)
                       : INVALID_HANDLE_VALUE;
    time->dwLowDateTime = 0;
    time->dwHighDateTime = 0;
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = GetFileTime(file, nullptr, nullptr, time) != 0;
    if (!ok) {
        time->dwLowDateTime = 0;
        time->dwHighDateTime = 0;
    }
    CloseHandle(file);
    return ok;
}
