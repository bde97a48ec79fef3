// Morvex, the PHP extension editor: one window listing the extensions of
// the block at the end of php.ini, one instance at a time.
#include <windows.h>

#include "System.h"
#include "TfrmMain.h"

namespace {

int RunForm(HINSTANCE instance)
{
    TfrmMain frmMain(instance);
    if (!frmMain.create()) {
        char text[256];
        if (!SystemErrorText(GetLastError(), text, sizeof text))
            text[0] = '\0';
        // The error box adds its full stop.
        for (int i = lstrlenA(text) - 1; i >= 0 && text[i] == '.'; --i)
            text[i] = '\0';
        TfrmMain::showException(frmMain.handle(), text);
        return 0;
    }
    frmMain.show();

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        HWND form = frmMain.handle();
        if (form && IsDialogMessageA(form, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    // The command line is not read: the editor always works on php.ini in
    // the Windows directory.
    SetLastError(ERROR_SUCCESS);
    HANDLE mutex = CreateMutexA(nullptr, TRUE, "Morvex");
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        if (mutex)
            CloseHandle(mutex);
        return 0;
    }

    RunForm(instance);

    if (mutex) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    return 0;
}
