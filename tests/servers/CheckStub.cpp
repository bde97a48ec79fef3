// Stands in for apache.exe where a test needs to choose the syntax test's
// answer: records every invocation like the kit's programs, and for "-t"
// copies the bytes of checkstub.txt (beside it) unchanged to its error
// output. Bytes that begin with "WAIT:" are written without that mark, once the
// event TvCheckStubGo is signalled (30 s at most).
#include <windows.h>

#include <cstring>
#include <string>

#include "../../testkit/record.h"

int main()
{
    kitrecord::AppendRecord(kitrecord::kEventRun);
    if (!strstr(GetCommandLineA(), " -t"))
        return 0;

    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    char* slash = strrchr(path, '\\');
    if (!slash)
        return 1;
    strcpy(slash + 1, "checkstub.txt");
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    char buffer[4096];
    DWORD got = 0, written = 0;
    bool first = true;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        DWORD skip = 0;
        if (first && got >= 5 && memcmp(buffer, "WAIT:", 5) == 0) {
            HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, "TvCheckStubGo");
            if (go) {
                WaitForSingleObject(go, 30000);
                CloseHandle(go);
            }
            skip = 5;
        }
        first = false;
        WriteFile(err, buffer + skip, got - skip, &written, nullptr);
    }
    CloseHandle(file);
    return 0;
}
