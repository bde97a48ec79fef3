#include "TfrmMain.h"

#include <stdio.h>
#include <string.h>

#include "resource.h"

namespace {

const char FormClass[] = "TfrmMain";

void LoadTextA(UINT id, char* buffer, int size)
{
    if (LoadStringA(GetModuleHandleA(nullptr), id, buffer, size) <= 0)
        buffer[0] = '\0';
}

}  // namespace

TfrmMain::TfrmMain(HINSTANCE instance)
    : instance(instance), hwnd(nullptr), font(nullptr), dpi(96), bigIcon(nullptr), smallIcon(nullptr), focused(nullptr),
      bQuitter(nullptr), bValider(nullptr), lGExtensions(nullptr), lExplications(nullptr), Label1(nullptr),
      block(*this)
{
}

TfrmMain::~TfrmMain()
{
    if (hwnd)
        DestroyWindow(hwnd);
    if (font)
        DeleteObject(font);
    if (bigIcon)
        DestroyIcon(bigIcon);
    if (smallIcon)
        DestroyIcon(smallIcon);
}

bool TfrmMain::create()
{
    bigIcon = (HICON)LoadImageA(instance, MAKEINTRESOURCEA(IDI_MORVEX), IMAGE_ICON, 32, 32, 0);
    smallIcon = (HICON)LoadImageA(instance, MAKEINTRESOURCEA(IDI_MORVEX), IMAGE_ICON, 16, 16, 0);

    WNDCLASSEXA wc;
    memset(&wc, 0, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.hIcon = bigIcon;
    wc.hIconSm = smallIcon;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    wc.lpszClassName = FormClass;
    if (!RegisterClassExA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return false;

    // The form is laid out for 96 dpi; every size follows the screen's.
    HDC screen = GetDC(nullptr);
    dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen)
        ReleaseDC(nullptr, screen);
    if (dpi <= 0)
        dpi = 96;

    // Verdana 8 points: 11 pixels at 96 pixels per inch.
    font = CreateFontA(-px(11), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Verdana");

    // A tool window with a thin frame and only a close box; the taskbar
    // button still carries the title.
    DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS;
    DWORD exStyle = WS_EX_TOOLWINDOW | WS_EX_WINDOWEDGE | WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;
    RECT frame = {0, 0, px(ClientWidth), px(ClientHeight)};
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    char title[64];
    LoadTextA(IDS_APP_TITLE, title, sizeof title);
    hwnd = CreateWindowExA(exStyle, FormClass, title, style, CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                           frame.bottom - frame.top, nullptr, nullptr, instance, this);
    if (!hwnd)
        return false;
    SendMessageA(hwnd, WM_SETICON, ICON_BIG, (LPARAM)bigIcon);
    SendMessageA(hwnd, WM_SETICON, ICON_SMALL, (LPARAM)smallIcon);

    // Creation order is the tab order: the list, then the two buttons.
    if (!clbExtensions.create(hwnd, IDC_EXTENSIONS, px(8), px(64), px(209), px(225), font, dpi))
        return false;
    bQuitter = createControl("BUTTON", IDC_QUITTER, WS_TABSTOP | BS_PUSHBUTTON, 8, 296, 75, 25, IDS_QUITTER);
    bValider = createControl("BUTTON", IDC_VALIDER, WS_TABSTOP | BS_PUSHBUTTON, 144, 296, 75, 25, IDS_VALIDER);
    lGExtensions = createControl("STATIC", IDC_GEXTENSIONS, SS_LEFT | SS_NOPREFIX, 8, 8, 202, 13, IDS_GEXTENSIONS);
    lExplications =
        createControl("STATIC", IDC_EXPLICATIONS, SS_LEFT | SS_NOPREFIX, 16, 24, 193, 17, IDS_EXPLICATIONS);
    Label1 = createControl("STATIC", IDC_LABEL1, SS_LEFT | SS_NOPREFIX, 16, 40, 193, 17, IDS_LABEL1);
    if (!bQuitter || !bValider || !lGExtensions || !lExplications || !Label1)
        return false;
    focused = clbExtensions.handle();

    if (!FormCreate())
        ShowException(hwnd, block.escapedError());
    return true;
}

HWND TfrmMain::createControl(const char* className, int id, DWORD style, int left, int top, int width, int height,
                             UINT textId)
{
    char text[128];
    LoadTextA(textId, text, sizeof text);
    HWND control = CreateWindowExA(0, className, text, WS_CHILD | WS_VISIBLE | style, px(left), px(top), px(width),
                                   px(height), hwnd,
                                   (HMENU)(INT_PTR)id, instance, nullptr);
    if (control)
        SendMessageA(control, WM_SETFONT, (WPARAM)font, FALSE);
    return control;
}

void TfrmMain::show()
{
    RECT window;
    GetWindowRect(hwnd, &window);
    int width = window.right - window.left, height = window.bottom - window.top;
    int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    SetWindowPos(hwnd, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
    SetForegroundWindow(hwnd);
    SetFocus(focused);
}

void TfrmMain::ShowException(HWND owner, const char* text)
{
    char message[160], title[64];
    size_t length = strlen(text);
    snprintf(message, sizeof message, "%s%s", text, length > 0 && text[length - 1] == '.' ? "" : ".");
    LoadTextA(IDS_APP_TITLE, title, sizeof title);
    MessageBoxA(owner, message, title, MB_OK | MB_ICONERROR);
}

bool TfrmMain::FormCreate()
{
    clbExtensions.beginUpdate();
    block.load();
    clbExtensions.endUpdate();
    return true;
}

bool TfrmMain::bValiderClick()
{
    clbExtensions.beginUpdate();
    bool ok = block.apply();
    clbExtensions.endUpdate();
    return ok;
}

void TfrmMain::bQuitterClick()
{
    SendMessageA(hwnd, WM_CLOSE, 0, 0);
    block.removeWorkFile();
}

void TfrmMain::clear()
{
    clbExtensions.clear();
}

int TfrmMain::add(const char* text)
{
    return clbExtensions.add(text);
}

void TfrmMain::setChecked(int index, bool checked)
{
    clbExtensions.setChecked(index, checked);
}

bool TfrmMain::checked(int index)
{
    return clbExtensions.checked(index);
}

bool TfrmMain::text(int index, char* buffer, int size)
{
    return clbExtensions.text(index, buffer, size);
}

int TfrmMain::count()
{
    return clbExtensions.count();
}

void TfrmMain::showMessage(const char* text, const char* caption)
{
    // The list shows what the load has made of it while the box is up.
    clbExtensions.settle();
    MessageBoxA(hwnd, text, caption, MB_OK);
}

LRESULT CALLBACK TfrmMain::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    TfrmMain* self;
    if (message == WM_NCCREATE) {
        self = (TfrmMain*)((CREATESTRUCTA*)lParam)->lpCreateParams;
        self->hwnd = hwnd;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, (LONG_PTR)self);
    } else {
        self = (TfrmMain*)GetWindowLongPtrA(hwnd, GWLP_USERDATA);
    }
    if (!self)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    return self->handleMessage(message, wParam, lParam);
}

LRESULT TfrmMain::handleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        // Neither button is the default or the cancel button: Enter and
        // Escape (IDOK, IDCANCEL) do nothing.
        if (HIWORD(wParam) == BN_CLICKED) {
            if (LOWORD(wParam) == IDC_VALIDER) {
                if (!bValiderClick())
                    ShowException(hwnd, block.escapedError());
                return 0;
            }
            if (LOWORD(wParam) == IDC_QUITTER) {
                bQuitterClick();
                return 0;
            }
        }
        return 0;
    case WM_MEASUREITEM:
        if (wParam == IDC_EXTENSIONS) {
            clbExtensions.measureItem((MEASUREITEMSTRUCT*)lParam);
            return TRUE;
        }
        break;
    case WM_DRAWITEM:
        if (wParam == IDC_EXTENSIONS) {
            clbExtensions.drawItem((const DRAWITEMSTRUCT*)lParam);
            return TRUE;
        }
        break;
    case WM_ACTIVATE:
        // The control that had the focus gets it back.
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = GetFocus();
            if (focus && IsChild(hwnd, focus))
                focused = focus;
        } else if (focused) {
            SetFocus(focused);
            return 0;
        }
        break;
    case WM_SETFOCUS:
        // The form itself takes no keys: when it is given the focus (as
        // Wine does on some activations), the control that had it gets it
        // back, as in a dialog.
        if (focused && IsWindow(focused) && IsWindowEnabled(focused) && IsWindowVisible(focused)) {
            SetFocus(focused);
            return 0;
        }
        break;
    case WM_CLOSE:
        // The close box ends the editor as "&Quitter" does: nothing of it
        // stays in the Windows directory.
        DestroyWindow(hwnd);
        block.removeWorkFile();
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY: {
        // The window is gone for good: the object lets go of it.
        HWND window = hwnd;
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        hwnd = nullptr;
        return DefWindowProcA(window, message, wParam, lParam);
    }
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}
