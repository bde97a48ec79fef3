#include "TfrmMain.h"

#include <stdio.h>
#include <string.h>

#include "System.h"
#include "Texts.h"
#include "resource.h"

namespace {

const char FormClass[] = "TfrmMain";

}  // namespace

TfrmMain::TfrmMain(HINSTANCE instance)
    : instance_(instance), hwnd_(nullptr), font_(nullptr), dpi_(96), bigIcon_(nullptr), smallIcon_(nullptr), focused_(nullptr),
      bQuitter_(nullptr), bValider_(nullptr), lGExtensions_(nullptr), lExplications_(nullptr), label1_(nullptr),
      block_(*this)
{
}

TfrmMain::~TfrmMain()
{
    if (hwnd_)
        DestroyWindow(hwnd_);
    if (font_)
        DeleteObject(font_);
    if (bigIcon_)
        DestroyIcon(bigIcon_);
    if (smallIcon_)
        DestroyIcon(smallIcon_);
}

bool TfrmMain::create()
{
    bigIcon_ = (HICON)LoadImageA(instance_, MAKEINTRESOURCEA(IDI_MORVEX), IMAGE_ICON, 32, 32, 0);
    smallIcon_ = (HICON)LoadImageA(instance_, MAKEINTRESOURCEA(IDI_MORVEX), IMAGE_ICON, 16, 16, 0);

    WNDCLASSEXA wc;
    memset(&wc, 0, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance_;
    wc.hIcon = bigIcon_;
    wc.hIconSm = smallIcon_;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    wc.lpszClassName = FormClass;
    if (!RegisterClassExA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return false;

    // The form is laid out for 96 dpi; every size follows the screen's.
    dpi_ = ScreenDpi();

    // Verdana 8 points: 11 pixels at 96 pixels per inch.
    font_ = CreateFontA(-px(11), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Verdana");

    // A tool window with a thin frame and only a close box; the taskbar
    // button still carries the title.
    DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS;
    DWORD exStyle = WS_EX_TOOLWINDOW | WS_EX_WINDOWEDGE | WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;
    RECT frame = {0, 0, px(ClientWidth), px(ClientHeight)};
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    char title[64];
    CopyText(title, sizeof title, IDS_APP_TITLE);
    hwnd_ = CreateWindowExA(exStyle, FormClass, title, style, CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                           frame.bottom - frame.top, nullptr, nullptr, instance_, this);
    if (!hwnd_)
        return false;
    SendMessageA(hwnd_, WM_SETICON, ICON_BIG, (LPARAM)bigIcon_);
    SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, (LPARAM)smallIcon_);

    // Creation order is the tab order: the list, then the two buttons.
    if (!clbExtensions_.create(hwnd_, IDC_EXTENSIONS, px(8), px(64), px(209), px(225), font_, dpi_))
        return false;
    bQuitter_ = createControl("BUTTON", IDC_QUITTER, WS_TABSTOP | BS_PUSHBUTTON, 8, 296, 75, 25, IDS_QUITTER);
    bValider_ = createControl("BUTTON", IDC_VALIDER, WS_TABSTOP | BS_PUSHBUTTON, 144, 296, 75, 25, IDS_VALIDER);
    lGExtensions_ = createControl("STATIC", IDC_GEXTENSIONS, SS_LEFT | SS_NOPREFIX, 8, 8, 202, 13, IDS_GEXTENSIONS);
    lExplications_ =
        createControl("STATIC", IDC_EXPLICATIONS, SS_LEFT | SS_NOPREFIX, 16, 24, 193, 17, IDS_EXPLICATIONS);
    label1_ = createControl("STATIC", IDC_LABEL1, SS_LEFT | SS_NOPREFIX, 16, 40, 193, 17, IDS_LABEL1);
    if (!bQuitter_ || !bValider_ || !lGExtensions_ || !lExplications_ || !label1_)
        return false;
    focused_ = clbExtensions_.handle();

    if (!formCreate())
        showException(hwnd_, block_.escapedError());
    return true;
}

HWND TfrmMain::createControl(const char* className, int id, DWORD style, int left, int top, int width, int height,
                             UINT textId)
{
    char text[128];
    CopyText(text, sizeof text, textId);
    HWND control = CreateWindowExA(0, className, text, WS_CHILD | WS_VISIBLE | style, px(left), px(top), px(width),
                                   px(height), hwnd_,
                                   (HMENU)(INT_PTR)id, instance_, nullptr);
    if (control)
        SendMessageA(control, WM_SETFONT, (WPARAM)font_, FALSE);
    return control;
}

void TfrmMain::show()
{
    RECT window;
    GetWindowRect(hwnd_, &window);
    int width = window.right - window.left, height = window.bottom - window.top;
    int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    SetWindowPos(hwnd_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(hwnd_, SW_SHOW);
    UpdateWindow(hwnd_);
    SetForegroundWindow(hwnd_);
    SetFocus(focused_);
}

void TfrmMain::showException(HWND owner, const char* text)
{
    char message[160], title[64];
    size_t length = strlen(text);
    snprintf(message, sizeof message, "%s%s", text, length > 0 && text[length - 1] == '.' ? "" : ".");
    CopyText(title, sizeof title, IDS_APP_TITLE);
    MessageBoxA(owner, message, title, MB_OK | MB_ICONERROR);
}

bool TfrmMain::formCreate()
{
    clbExtensions_.beginUpdate();
    block_.load();
    clbExtensions_.endUpdate();
    return true;
}

bool TfrmMain::bValiderClick()
{
    clbExtensions_.beginUpdate();
    bool ok = block_.apply();
    clbExtensions_.endUpdate();
    return ok;
}

void TfrmMain::bQuitterClick()
{
    SendMessageA(hwnd_, WM_CLOSE, 0, 0);
    block_.removeWorkFile();
}

void TfrmMain::clear()
{
    clbExtensions_.clear();
}

int TfrmMain::add(const char* text)
{
    return clbExtensions_.add(text);
}

void TfrmMain::setChecked(int index, bool checked)
{
    clbExtensions_.setChecked(index, checked);
}

bool TfrmMain::checked(int index)
{
    return clbExtensions_.checked(index);
}

bool TfrmMain::text(int index, char* buffer, int size)
{
    return clbExtensions_.text(index, buffer, size);
}

int TfrmMain::count()
{
    return clbExtensions_.count();
}

void TfrmMain::showMessage(const char* text, const char* caption)
{
    // The list shows what the load has made of it while the box is up.
    clbExtensions_.settle();
    MessageBoxA(hwnd_, text, caption, MB_OK);
}

LRESULT CALLBACK TfrmMain::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    TfrmMain* self;
    if (message == WM_NCCREATE) {
        self = (TfrmMain*)((CREATESTRUCTA*)lParam)->lpCreateParams;
        self->hwnd_ = hwnd;
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
                    showException(hwnd_, block_.escapedError());
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
            clbExtensions_.measureItem((MEASUREITEMSTRUCT*)lParam);
            return TRUE;
        }
        break;
    case WM_DRAWITEM:
        if (wParam == IDC_EXTENSIONS) {
            clbExtensions_.drawItem((const DRAWITEMSTRUCT*)lParam);
            return TRUE;
        }
        break;
    case WM_ACTIVATE:
        // The control that had the focus gets it back.
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = GetFocus();
            if (focus && IsChild(hwnd_, focus))
                focused_ = focus;
        } else if (focused_) {
            SetFocus(focused_);
            return 0;
        }
        break;
    case WM_SETFOCUS:
        // The form itself takes no keys: when it is given the focus (as
        // Wine does on some activations), the control that had it gets it
        // back, as in a dialog.
        if (focused_ && IsWindow(focused_) && IsWindowEnabled(focused_) && IsWindowVisible(focused_)) {
            SetFocus(focused_);
            return 0;
        }
        break;
    case WM_CLOSE:
        // The close box ends the editor as "&Quitter" does: nothing of it
        // stays in the Windows directory.
        DestroyWindow(hwnd_);
        block_.removeWorkFile();
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY: {
        // The window is gone for good: the object lets go of it.
        HWND window = hwnd_;
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        hwnd_ = nullptr;
        return DefWindowProcA(window, message, wParam, lParam);
    }
    }
    return DefWindowProcA(hwnd_, message, wParam, lParam);
}
