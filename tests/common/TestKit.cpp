#include "TestKit.h"

#include <cstdio>
#include <cstring>

namespace testkit {

bool PumpUntil(const std::function<bool()>& cond, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (cond())
            return true;
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs)
            return cond();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - elapsed < 20 ? timeoutMs - elapsed : 20,
                                  QS_ALLINPUT);
    }
}

AnswerProbe::AnswerProbe(HWND window) : window_(window)
{
    thread_ = CreateThread(nullptr, 0, run, this, 0, nullptr);
}

AnswerProbe::~AnswerProbe()
{
    InterlockedExchange(&stop_, 1);
    // Its last message may wait for this very thread's window.
    PumpUntil([&] { return WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0; }, 60000);
    CloseHandle(thread_);
}

void AnswerProbe::reset()
{
    InterlockedExchange(&longestUs_, 0);
}

double AnswerProbe::longestMs() const
{
    return longestUs_ / 1000.0;
}

DWORD WINAPI AnswerProbe::run(void* self)
{
    AnswerProbe* probe = static_cast<AnswerProbe*>(self);
    LARGE_INTEGER frequency, t0, t1;
    QueryPerformanceFrequency(&frequency);
    while (!probe->stop_) {
        QueryPerformanceCounter(&t0);
        DWORD_PTR result = 0;
        SendMessageTimeoutA(probe->window_, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &result);
        QueryPerformanceCounter(&t1);
        LONG us = static_cast<LONG>((t1.QuadPart - t0.QuadPart) * 1000000 / frequency.QuadPart);
        LONG seen = probe->longestUs_;
        while (us > seen && InterlockedCompareExchange(&probe->longestUs_, us, seen) != seen)
            seen = probe->longestUs_;
        Sleep(1);
    }
    return 0;
}

void PumpFor(DWORD ms)
{
    PumpUntil([] { return false; }, ms);
}

std::string BinDir()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    char* slash = strrchr(path, '\\');
    if (slash)
        slash[1] = '\0';
    return path;
}

std::string WindowsDir()
{
    char dir[MAX_PATH] = "";
    GetWindowsDirectoryA(dir, sizeof dir);
    return dir;
}

std::string MakeTempDir(const char* tag)
{
    char temp[MAX_PATH] = "";
    GetTempPathA(sizeof temp, temp);
    static unsigned counter;
    char dir[MAX_PATH];
    snprintf(dir, sizeof dir, "%stv_%s_%lu_%u\\", temp, tag, GetCurrentProcessId(), ++counter);
    RemoveTree(dir);
    CreateDirectoryA(dir, nullptr);
    return dir;
}

void RemoveTree(const std::string& dir)
{
    std::string base = dir;
    if (!base.empty() && base.back() == '\\')
        base.pop_back();
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA((base + "\\*").c_str(), &fd);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!strcmp(fd.cFileName, ".") || !strcmp(fd.cFileName, ".."))
                continue;
            std::string child = base + "\\" + fd.cFileName;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(find, &fd));
        FindClose(find);
    }
    RemoveDirectoryA(base.c_str());
}

bool ReadFileBytes(const std::string& path, std::string* bytes)
{
    bytes->clear();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char buffer[65536];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr) != 0) && got > 0)
        bytes->append(buffer, got);
    CloseHandle(file);
    return ok;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr) && written == bytes.size();
    return CloseHandle(file) && ok;
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

HANDLE StartProcess(const std::string& cmdLine, const char* curDir, DWORD flags)
{
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    std::string line = cmdLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, flags, nullptr, curDir, &si, &pi))
        return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

bool WaitProcess(HANDLE process, DWORD timeoutMs)
{
    return PumpUntil([process] { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }, timeoutMs);
}

bool RunProcess(const std::string& cmdLine, DWORD* exitCode, DWORD timeoutMs)
{
    HANDLE process = StartProcess(cmdLine);
    if (!process)
        return false;
    bool ended = WaitProcess(process, timeoutMs);
    if (!ended)
        TerminateProcess(process, 1);
    if (exitCode)
        GetExitCodeProcess(process, exitCode);
    CloseHandle(process);
    return ended;
}

bool RunAsWindowsVersion(const std::string& program, const std::string& copyName, const char* version,
                         const std::string& arguments, DWORD* exitCode, DWORD timeoutMs)
{
    const std::string copy = BinDir() + copyName;
    const std::string keyPath = "Software\\Wine\\AppDefaults\\" + copyName;
    HKEY key;
    bool ran = false;
    if (CopyFileA(program.c_str(), copy.c_str(), FALSE) &&
        RegCreateKeyA(HKEY_CURRENT_USER, keyPath.c_str(), &key) == ERROR_SUCCESS) {
        RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version), lstrlenA(version) + 1);
        RegCloseKey(key);
        ran = RunProcess("\"" + copy + "\" " + arguments, exitCode, timeoutMs);
    }
    RegDeleteKeyA(HKEY_CURRENT_USER, keyPath.c_str());
    DeleteFileA(copy.c_str());
    return ran;
}

std::string ArtefactsDir()
{
    std::string dir = BinDir() + "..\\artefacts\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

bool SaveScreenshot(HWND window, const std::string& path)
{
    RECT r;
    GetWindowRect(window, &r);
    BITMAPINFOHEADER info = {sizeof info, r.right - r.left, r.bottom - r.top, 1, 24, BI_RGB};
    const DWORD bytes = ((info.biWidth * 3 + 3) & ~3) * info.biHeight;
    const DWORD head = sizeof(BITMAPFILEHEADER) + sizeof info;
    BITMAPFILEHEADER file = {0x4D42, head + bytes, 0, 0, head};
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS,
                                      &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, info.biWidth, info.biHeight, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    std::string out(reinterpret_cast<char*>(&file), sizeof file);
    out.append(reinterpret_cast<char*>(&info), sizeof info).append(static_cast<char*>(bits), bytes);
    bool written = bits && WriteFileBytes(path, out);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return written;
}

bool ProcessAlive(DWORD pid)
{
    HANDLE process = pid ? OpenProcess(SYNCHRONIZE, FALSE, pid) : nullptr;
    if (!process)
        return false;
    bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return alive;
}

bool WaitProcessGone(DWORD pid, DWORD timeoutMs)
{
    return PumpUntil([pid] { return !ProcessAlive(pid); }, timeoutMs);
}

bool EndProcess(HANDLE process, DWORD timeoutMs)
{
    TerminateProcess(process, 9);
    return WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0;
}

bool KillProcess(DWORD pid)
{
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (!process)
        return false;
    bool ended = EndProcess(process);
    CloseHandle(process);
    return ended;
}

namespace {

struct BoxSearch {
    DWORD pid;
    const char* title;
    std::vector<HWND> found;
};

BOOL CALLBACK BoxPart(HWND child, LPARAM lParam)
{
    char name[16] = "";
    GetClassNameA(child, name, sizeof name);
    bool part = !lstrcmpiA(name, "Static") || !lstrcmpiA(name, "Button");
    *reinterpret_cast<bool*>(lParam) &= part;
    return part;
}

BOOL CALLBACK CollectBox(HWND window, LPARAM lParam)
{
    BoxSearch* s = reinterpret_cast<BoxSearch*>(lParam);
    DWORD pid = 0, thread = GetWindowThreadProcessId(window, &pid);
    char name[16] = "", title[256] = "", textClass[16] = "";
    GetClassNameA(window, name, sizeof name);
    GetWindowTextA(window, title, sizeof title);
    GetClassNameA(GetDlgItem(window, 0xFFFF), textClass, sizeof textClass);
    bool box = (!s->pid || pid == s->pid) && !strcmp(name, "#32770") && !lstrcmpiA(textClass, "Static") &&
               (IsWindowVisible(window) || thread == GetCurrentThreadId()) && (!s->title || !strcmp(title, s->title));
    if (box)
        EnumChildWindows(window, BoxPart, reinterpret_cast<LPARAM>(&box));
    if (box)
        s->found.push_back(window);
    return TRUE;
}

}  // namespace

std::vector<HWND> MessageBoxes(DWORD pid, const char* title)
{
    BoxSearch s = {pid, title, {}};
    EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

std::string MessageBoxText(HWND box)
{
    char buffer[4096] = "";
    GetWindowTextA(GetDlgItem(box, 0xFFFF), buffer, sizeof buffer);
    return buffer;
}

HWND AnswerMessageBox(int button, DWORD pid, const char* title, DWORD waitMs, std::string* text)
{
    std::vector<HWND> found;
    auto look = [&] { return !(found = MessageBoxes(pid, title)).empty(); };
    // No wait, no pumping: a caller inside a box's own loop (a timer) is not
    // re-entered.
    HWND box = look() || (waitMs && PumpUntil(look, waitMs)) ? found[0] : nullptr;
    if (text)
        *text = box ? MessageBoxText(box) : "";
    if (box)
        PostMessageA(box, WM_COMMAND, button, 0);
    return box;
}

std::string Env(const char* name)
{
    char value[MAX_PATH] = "";
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? value : "";
}

bool LinkTree(const std::string& from, const std::string& to, const char* pattern, bool deep)
{
    CreateDirectoryA(to.c_str(), nullptr);
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((from + pattern).c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (deep)
                ok = LinkTree(from + name + "\\", to + name + "\\", "*", true) && ok;
            continue;
        }
        std::string source = from + name, target = to + name;
        DeleteFileA(target.c_str());
        ok = (CreateHardLinkA(target.c_str(), source.c_str(), nullptr) ||
              CopyFileA(source.c_str(), target.c_str(), FALSE)) &&
             ok;
    } while (FindNextFileA(find, &found));
    FindClose(find);
    return ok;
}

std::string LongLowerPath(const std::string& path)
{
    char out[MAX_PATH] = "";
    DWORD n = GetLongPathNameA(path.c_str(), out, sizeof out);
    std::string result = n > 0 && n < sizeof out ? out : path;
    for (char& c : result)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return result;
}

}  // namespace testkit
