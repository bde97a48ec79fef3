// Stand-in for what the shortcuts start (browser, mail program, notepad,
// extension editor): appends "<its file name> <its arguments>" to the file
// TVRECORD_FILE names. As Morvex.exe it also shows a window titled like the
// extension editor's until that window is closed.
#include <windows.h>
#include <cstring>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR args, int)
{
    char path[MAX_PATH] = "", file[MAX_PATH] = "", line[2048];
    GetModuleFileNameA(nullptr, path, sizeof path);
    const char* name = strrchr(path, '\\') + 1;
    wsprintfA(line, "%s ", name);
    lstrcpynA(line + lstrlenA(line), args, 2000);
    lstrcatA(line, "\n");
    if (GetEnvironmentVariableA("TVRECORD_FILE", file, sizeof file)) {
        HANDLE out = CreateFileA(file, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0,
                                 nullptr);
        DWORD written;
        WriteFile(out, line, lstrlenA(line), &written, nullptr);
        CloseHandle(out);
    }
    if (lstrcmpiA(name, "Morvex.exe") != 0)
        return 0;
    CreateWindowA("STATIC", "VAV Ozuvuzuded Avedo", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 300, 200, nullptr,
                  nullptr, instance, nullptr);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_CLOSE || (msg.message == WM_SYSCOMMAND && msg.wParam == SC_CLOSE))
            break;
        DispatchMessageA(&msg);
    }
    return 0;
}
