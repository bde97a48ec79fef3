#include "KitCommon.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "record.h"

namespace kit {

std::string ProgramPath()
{
    char path[MAX_PATH] = "";
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return "";
    return path;
}

std::string ProgramDir()
{
    std::string path = ProgramPath();
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ProgramName()
{
    std::string path = ProgramPath();
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

static void PrintTo(DWORD which, const char* format, va_list args)
{
    char text[4096];
    vsnprintf(text, sizeof text, format, args);
    char out[8192];
    size_t n = 0;
    for (const char* p = text; *p && n + 2 < sizeof out; ++p) {
        if (*p == '\n' && (p == text || p[-1] != '\r'))
            out[n++] = '\r';
        out[n++] = *p;
    }
    HANDLE h = GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(h, out, (DWORD)n, &written, nullptr);
}

void PrintErr(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    PrintTo(STD_ERROR_HANDLE, format, args);
    va_end(args);
}

void PrintOut(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    PrintTo(STD_OUTPUT_HANDLE, format, args);
    va_end(args);
}

std::string SystemMessage(DWORD code)
{
    char text[512] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                             sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' ' || text[n - 1] == '.'))
        text[--n] = '\0';
    if (n == 0)
        snprintf(text, sizeof text, "error %lu", code);
    return text;
}

void Record(const char* event)
{
    kitrecord::AppendRecord(event);
}

bool ReadWholeFile(const std::string& path, std::string* text, DWORD limit)
{
    text->clear();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char buffer[8192];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr) != 0) && got > 0) {
        if (text->size() + got > limit) {
            ok = false;
            SetLastError(ERROR_FILE_TOO_LARGE);
            break;
        }
        text->append(buffer, got);
    }
    CloseHandle(file);
    return ok;
}

static HANDLE volatile consoleEndEvent = nullptr;

static BOOL WINAPI ConsoleHandler(DWORD)
{
    HANDLE event = consoleEndEvent;
    if (event)
        SetEvent(event);
    return TRUE;
}

void EndOnConsoleClose(HANDLE event)
{
    static bool installed = false;
    consoleEndEvent = event;
    if (event && !installed)
        installed = SetConsoleCtrlHandler(ConsoleHandler, TRUE) != 0;
}

}  // namespace kit
