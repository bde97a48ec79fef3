#include "AboutDialog.h"

#include <shellapi.h>
#include <cstdio>

#include "VersionCheck.h"
#include "resource.h"

namespace {

// The procedure the link labels had before they were given the hand
// cursor; all four are static texts, so one value serves them.
WNDPROC labelProc = nullptr;

const UINT LinkLabels[] = {IDC_PRODUCT_LINK, IDC_AUTHOR_1, IDC_AUTHOR_2, IDC_AUTHOR_3};

struct Author {
    UINT label;
    const char* address;
    const char* mailto;
};

const Author Authors[] = {
    {IDC_AUTHOR_1, "nadia.roux@tarvane.org", "mailto:nadia.roux@tarvane.org?subject=Tarvane"},
    {IDC_AUTHOR_2, "luca.bertin@tarvane.org", "mailto:luca.bertin@tarvane.org?subject=Tarvane"},
    {IDC_AUTHOR_3, "elise.vidal@tarvane.org", "mailto:elise.vidal@tarvane.org?subject=Tarvane"},
};

const COLORREF LinkColour = RGB(0, 0, 238);

bool IsLinkLabel(UINT id)
{
    for (UINT label : LinkLabels)
        if (label == id)
            return true;
    return false;
}

}  // namespace

AboutDialog::AboutDialog(HWND owner) : owner_(owner), linkFont_(nullptr)
{
    showDialog(IDD_ABOUT, owner, true);
}

AboutDialog::~AboutDialog()
{
    if (linkFont_)
        DeleteObject(linkFont_);
}

const char* AboutDialog::linkTarget(UINT id)
{
    if (id == IDC_PRODUCT_LINK)
        return ProductHomePage();
    for (const Author& author : Authors)
        if (author.label == id)
            return author.mailto;
    return nullptr;
}

const char* AboutDialog::linkTooltip(UINT id)
{
    if (id == IDC_PRODUCT_LINK)
        return ProductHomePage();
    for (const Author& author : Authors)
        if (author.label == id)
            return author.address;
    return nullptr;
}

BOOL AboutDialog::onInitDialog()
{
    char version[VersionTextSize];
    GetVersionString(AppInstance(), version);
    char caption[200];
    snprintf(caption, sizeof caption, "Tarvane v %s", version);
    SetWindowTextA(handle_, caption);

    HICON icon = LoadIconA(AppInstance(), MAKEINTRESOURCEA(IDI_WINDOW));
    SendMessageA(handle_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageA(handle_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));

    for (UINT id : LinkLabels) {
        HWND label = GetDlgItem(handle_, id);
        LONG_PTR previous =
            SetWindowLongPtrA(label, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(handCursorProc));
        if (id == IDC_PRODUCT_LINK)
            labelProc = reinterpret_cast<WNDPROC>(previous);
    }

    SetFocus(GetDlgItem(handle_, IDOK));
    for (UINT id : LinkLabels)
        addTooltip(GetDlgItem(handle_, id), linkTooltip(id));
    return TRUE;
}

INT_PTR AboutDialog::onMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        // A double click on a link sends a click and then a double click:
        // the link opens once, on the click.
        if (HIWORD(wParam) == 0)
            onCommand(LOWORD(wParam));
        return TRUE;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            SendMessageA(handle_, WM_COMMAND, IDOK, 0);
            return TRUE;
        }
        return 0;
    case WM_CTLCOLORSTATIC: {
        HWND control = reinterpret_cast<HWND>(lParam);
        if (!IsLinkLabel(GetDlgCtrlID(control)))
            return 0;
        HDC dc = reinterpret_cast<HDC>(wParam);
        if (dc) {
            SetTextColor(dc, LinkColour);
            if (!linkFont_) {
                HFONT dialogFont = reinterpret_cast<HFONT>(SendMessageA(handle_, WM_GETFONT, 0, 0));
                LOGFONTA font;
                if (dialogFont && GetObjectA(dialogFont, sizeof font, &font) == sizeof font) {
                    font.lfUnderline = TRUE;
                    linkFont_ = CreateFontIndirectA(&font);
                }
            }
            if (linkFont_)
                SelectObject(dc, linkFont_);
            SetBkMode(dc, TRANSPARENT);
        }
        return reinterpret_cast<INT_PTR>(GetStockObject(HOLLOW_BRUSH));
    }
    default:
        return 0;
    }
}

void AboutDialog::onCommand(UINT id)
{
    switch (id) {
    case IDOK:
    case IDCANCEL:
        closeDialog();
        break;
    case IDC_PRODUCT_LINK:
    case IDC_AUTHOR_1:
    case IDC_AUTHOR_2:
    case IDC_AUTHOR_3:
        ShellExecuteA(nullptr, "open", linkTarget(id), nullptr, nullptr, SW_SHOW);
        break;
    case IDC_CHECK_VERSION_BUTTON:
        // The owner runs the check; this dialog stays open meanwhile.
        SendMessageA(owner_, WM_COMMAND, IDC_CHECK_VERSION_BUTTON, 0);
        break;
    default:
        break;
    }
}

LRESULT CALLBACK AboutDialog::handCursorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SETCURSOR) {
        SetCursor(LoadCursorA(AppInstance(), MAKEINTRESOURCEA(IDC_HAND_CURSOR)));
        return TRUE;
    }
    return CallWindowProcA(labelProc, window, message, wParam, lParam);
}

void ShowAboutDialog(HWND owner)
{
    AboutDialog dialog(owner);
}
