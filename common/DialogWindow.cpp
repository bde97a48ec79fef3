#include "DialogWindow.h"

#include <commctrl.h>
#include <cstddef>

namespace {

// The tool record up to its lParam, as version 4.70 of the control knew
// it: 44 bytes on 32-bit
// Windows, which every version of the control accepts.
const UINT ToolInfoSize = offsetof(TTTOOLINFOA, lParam) + sizeof(LPARAM);
#if !defined(_WIN64)
static_assert(ToolInfoSize == 44, "first tool record layout");
#endif

// A tooltip looks whether the pointer has left its tool for as long as the
// pointer rests on the tool, even once the tip has gone (Wine's common
// controls every 100 ms, asking itself TTM_WINDOWFROMPOINT each time). The
// tooltip whose tip went while the pointer rested on its tool is told once
// that no window is under the pointer: it then ends its look and shows
// again when the pointer moves on the tool.
HWND restingTooltip = nullptr;

LRESULT CALLBACK TooltipProc(HWND tip, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR control)
{
    if (message == TTM_WINDOWFROMPOINT && tip == restingTooltip) {
        restingTooltip = nullptr;
        return 0;
    }
    if (message == WM_WINDOWPOSCHANGED && (reinterpret_cast<const WINDOWPOS*>(lParam)->flags & SWP_HIDEWINDOW)) {
        POINT pointer;
        RECT tool;
        if (GetCursorPos(&pointer) && GetWindowRect(reinterpret_cast<HWND>(control), &tool) &&
            PtInRect(&tool, pointer))
            restingTooltip = tip;
    }
    if (message == WM_NCDESTROY) {
        if (restingTooltip == tip)
            restingTooltip = nullptr;
        RemoveWindowSubclass(tip, TooltipProc, 0);
    }
    return DefSubclassProc(tip, message, wParam, lParam);
}

}  // namespace

DialogWindow::DialogWindow() : handle_(nullptr), modeless_(false), createError_(0) {}

DialogWindow::~DialogWindow()
{
    closeDialog();
}

INT_PTR DialogWindow::onMessage(UINT, WPARAM, LPARAM)
{
    return 0;
}

BOOL DialogWindow::onInitDialog()
{
    return 1;
}

void DialogWindow::showDialog(UINT templateId, HWND parent, bool modal)
{
    modeless_ = !modal;
    if (modal)
        DialogBoxParamA(AppInstance(), MAKEINTRESOURCEA(templateId), parent, dialogProc,
                        reinterpret_cast<LPARAM>(this));
    else if (!CreateDialogParamA(AppInstance(), MAKEINTRESOURCEA(templateId), parent, dialogProc,
                                 reinterpret_cast<LPARAM>(this))) {
        createError_ = GetLastError();
        // A dialog that failed after its initialisation leaves nothing.
        handle_ = nullptr;
    }
}

void DialogWindow::closeDialog()
{
    if (!handle_)
        return;
    HWND window = handle_;
    // Detach first, so that what EndDialog sends reaches no handler.
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    handle_ = nullptr;
    EndDialog(window, 0);
    // A modeless dialog outlives EndDialog (it is only hidden): nothing
    // refers to it any more, so it goes too.
    if (modeless_)
        DestroyWindow(window);
}

INT_PTR CALLBACK DialogWindow::dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        DialogWindow* self = reinterpret_cast<DialogWindow*>(lParam);
        self->handle_ = window;
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        return self->onInitDialog() ? TRUE : FALSE;
    }
    DialogWindow* self = reinterpret_cast<DialogWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    return self ? self->onMessage(message, wParam, lParam) : 0;
}

void DialogWindow::addTooltip(HWND control, const char* text)
{
    HWND tip = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                               WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, control, nullptr,
                               AppInstance(), nullptr);
    if (!tip)
        return;
    SetWindowPos(tip, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ShowWindow(tip, SW_SHOW);

    TOOLINFOA tool;
    ZeroMemory(&tool, sizeof(tool));
    tool.cbSize = ToolInfoSize;
    tool.uFlags = TTF_SUBCLASS;
    tool.hwnd = control;
    tool.uId = 0;
    GetClientRect(control, &tool.rect);
    tool.hinst = AppInstance();
    tool.lpszText = const_cast<char*>(text);
    SendMessageA(tip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    SetWindowSubclass(tip, TooltipProc, 0, reinterpret_cast<DWORD_PTR>(control));
}
