// Stand-in for the programs the shortcuts start: the browser and mail
// program behind the test associations, notepad and the extension editor.
// It appends one line to the file named by TVRECORD_FILE: its own file
// name, a blank and its arguments as given.
// Started as Morvex.exe it also shows a window titled like the extension
// editor's and runs until that window is closed.
#include <windows.h>
#include <cstring>

namespace {

const char* Arguments(const char* line)
{
    if (*line == '"') {
        line = strchr(line + 1, '"');
        line = line ? line + 1 : "";
    } else {
        while (*line && *line != ' ' && *line != '\t')
            ++line;
    }
    while (*line == ' ' || *line == '\t')
        ++line;
    return line;
}

void Record(const char* name)
{
    char file[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("TVRECORD_FILE", file, sizeof file);
    if (length == 0 || length >= sizeof file)
        return;
    char line[2048];
    int size = wsprintfA(line, "%s ", name);
    lstrcpynA(line + size, Arguments(GetCommandLineA()), sizeof line - size - 2);
    lstrcatA(line, "\n");
    HANDLE out = CreateFileA(file, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(out, line, lstrlenA(line), &written, nullptr);
    CloseHandle(out);
}

LRESULT CALLBACK EditorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY)
        PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
}

void RunEditorWindow(HINSTANCE instance)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = EditorProc;
    wc.hInstance = instance;
    wc.lpszClassName = "TvEditorStandIn";
    RegisterClassA(&wc);
    CreateWindowA(wc.lpszClassName, "VAV Ozuvuzuded Avedo", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 300,
                  200, nullptr, nullptr, instance, nullptr);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    const char* name = strrchr(path, '\\');
    name = name ? name + 1 : path;
    Record(name);
    if (lstrcmpiA(name, "Morvex.exe") == 0)
        RunEditorWindow(instance);
    return 0;
}
