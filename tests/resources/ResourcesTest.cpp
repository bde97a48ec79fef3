// The manager's resources as the system hands them out in one user language
// (LC_ALL set by ctest; TEST_COLUMN names the expected language): the two
// dialog templates built by the real dialog manager, the tray menu, the
// icons, cursor and bitmaps, and the version of the module. The resource
// object is linked into this program, so the module is the test itself.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resource.h"

namespace {

enum Column { English, French, Italian };
const Column column = Column(TEST_COLUMN);
const HINSTANCE module = GetModuleHandleA(nullptr);

INT_PTR CALLBACK QuietProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// A dialog built from a template of this module, destroyed at scope end.
struct Dialog {
    explicit Dialog(UINT id)
    {
        INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_BAR_CLASSES};
        InitCommonControlsEx(&icc);
        hwnd = CreateDialogParamA(module, MAKEINTRESOURCEA(id), nullptr, QuietProc, 0);
    }
    ~Dialog() { if (hwnd) DestroyWindow(hwnd); }
    // Origin and size converted apart, as the dialog manager places controls.
    RECT dlu(int x, int y, int w, int h) const
    {
        RECT r = {x, y, w, h};
        MapDialogRect(hwnd, &r);
        return {r.left, r.top, r.left + r.right, r.top + r.bottom};
    }
    RECT place(HWND child) const  // in client coordinates
    {
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, hwnd, (POINT*)&r, 2);
        return r;
    }
    HWND hwnd;
};

std::string Text(HWND hwnd, bool className = false)
{
    char text[256] = "";
    className ? GetClassNameA(hwnd, text, sizeof text) : GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

// One control of a template, in template (tab) order; -1: no id. The
// style must hold every bit of `style` within `mask`; a control is visible
// unless the mask names WS_VISIBLE. It stands in the band top..bottom, or,
// when top is -1, exactly at `at` (x, y, width, height; dialog units).
struct Control {
    int id;
    const char* cls;
    DWORD mask, style;
    const char* text[3];  // English, French, Italian; null: not checked
    int top, bottom;
    RECT at[3];
};

const DWORD Type = 0xF, Hidden = 0;
const DWORD BitmapButton = BS_BITMAP | BS_FLAT;
const DWORD Visibility = WS_VISIBLE | WS_DISABLED;
#define SAME(text) {text, text, text}

const Control managerControls[] = {
    {1052, "Static", SS_TYPEMASK, SS_BITMAP, SAME(nullptr), 0, 21},
    {1051, "Static", SS_TYPEMASK, SS_BITMAP, SAME(nullptr), 0, 21},
    {1040, "Button", Type | BS_PUSHLIKE | BitmapButton, BS_CHECKBOX | BS_PUSHLIKE | BitmapButton, SAME(""), 0, 20},
    {1059, "Button", Type | BitmapButton, BS_PUSHBUTTON | BitmapButton, SAME(""), 0, 20},
    {1032, "Button", Type | BitmapButton, BS_PUSHBUTTON | BitmapButton, {"&>", "", ""}, 0, 20},
    {-1, "Button", Type, BS_GROUPBOX, {"Status", "Status", "Stato"}, 21, 44},
    {1027, "Static", SS_TYPEMASK | SS_CENTERIMAGE, SS_LEFT | SS_CENTERIMAGE, SAME("Apache"), 21, 44},
    {1026, "Static", SS_TYPEMASK | SS_CENTERIMAGE, SS_LEFT | SS_CENTERIMAGE, SAME("MySql"), 21, 44},
    {1065, "msctls_trackbar32", TBS_VERT | TBS_BOTH | TBS_AUTOTICKS, TBS_VERT | TBS_BOTH | TBS_AUTOTICKS, SAME(""), 21, 44},
    {-1, "Button", Type, BS_GROUPBOX, SAME("Tarvane"), 46, 136},
    {1001, "Button", Type, BS_AUTOCHECKBOX, {"&Start on windows startup.", "&D\xE9marrer Tarvane en m\xEAme temps que Windows", "&Lancia Tarvane all'avvio di Windows"}, 46, 136},
    {1019, "Button", Type, BS_AUTOCHECKBOX, {"St&art Apache and MySql as services (administrator only)", "D\xE9marrer les serveurs en tant que &service", "Lancia Apache e Mysql come &servizi (Solo Amministratore)"}, 46, 136},
    {1002, "Button", Type, BS_AUTOCHECKBOX, {"&Launch server when this application start.", "&Lancement automatique des serveurs au d\xE9marrage de l'application", "&Partenza automatica sei servers all'avvio dell'applicazione"}, 46, 136},
    {1012, "Button", Type, BS_AUTOCHECKBOX, {"&Expert mode", "&Mode expert", "&Modalit\xE0 Avanzata"}, 46, 136},
    {1015, "Button", Type, BS_AUTOCHECKBOX, {"&Check version at startup", "V\xE9rifier les nouvelles &versions au d\xE9marrage", "&Controlla nuova versione all'avvio"}, 46, 136},
    {1003, "Button", Type, BS_AUTOCHECKBOX, {"&Automatic consideration of servers's configuration modification", "Prise en compte automatique des &modifications de configuration des serveurs", "Controllo automatico delle modifiche alla configurazione dei servers"}, 46, 136},
    {-1, "Button", Type, BS_GROUPBOX, SAME("MySql"), 137, 163},
    {-1, "Static", SS_TYPEMASK, SS_LEFT, {"MySql arguments", "Arguments MySql", "Argomenti MySql"}, 137, 163},
    {1031, "Edit", ES_AUTOHSCROLL, ES_AUTOHSCROLL, SAME(""), 137, 163},
    {1014, "Button", Type | Visibility, BS_AUTOCHECKBOX | WS_DISABLED | Hidden, SAME("Mode &SSL (pas disponible)"), 46, 136},
    {1008, "Button", Type, BS_PUSHBUTTON, {"&About", "\xC0 pr&opos", "&Info"}, 166, 180},
    {1029, "Button", Type, BS_PUSHBUTTON, {"A&pply", "A&ppliquer", "A&pplica"}, 166, 180},
    {2, "Button", Type, BS_DEFPUSHBUTTON, {"&Close", "&Fermer", "&Cancella"}, 166, 180},
    {1054, "ListBox", LBS_NOTIFY | LBS_SORT | LBS_NOINTEGRALHEIGHT, LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, SAME(""), 186, 233},
    {-1, "Button", Type | WS_VISIBLE, BS_GROUPBOX | Hidden, SAME("Apache"), 137, 163},
    {1049, "Button", WS_VISIBLE, Hidden, SAME(""), 166, 180},
    {1050, "Button", WS_VISIBLE, Hidden, SAME(""), 166, 180},
};

// A visible caption must fit its control in the dialog's font.
void ExpectFits(HWND dialog, HWND control, DWORD style)
{
    std::string text = Text(control);
    bool button = !lstrcmpiA(Text(control, true).c_str(), "Button");
    bool picture = button ? (style & BS_BITMAP) != 0 : (style & SS_TYPEMASK) == SS_BITMAP;
    if (!(style & WS_VISIBLE) || text.empty() || picture)
        return;
    RECT client, need = {0, 0, 0, 0};
    GetClientRect(control, &client);
    DWORD type = style & Type;
    int box = GetSystemMetrics(SM_CXMENUCHECK) + 4, groupLabel = 16, buttonMargin = 6;
    need.right = client.right - (!button ? 0 : type == BS_AUTOCHECKBOX ? box : type == BS_GROUPBOX ? groupLabel : buttonMargin);
    bool wraps = button ? (style & BS_MULTILINE) != 0 : !(style & SS_CENTERIMAGE);
    HDC dc = GetDC(dialog);
    HGDIOBJ old = SelectObject(dc, (HFONT)SendMessageA(dialog, WM_GETFONT, 0, 0));
    int room = need.right;
    DrawTextA(dc, text.c_str(), -1, &need, DT_CALCRECT | (wraps ? DT_WORDBREAK : DT_SINGLELINE));
    SelectObject(dc, old);
    ReleaseDC(dialog, dc);
    EXPECT_LE(need.right, room) << "cut: " << text;
    EXPECT_LE(need.bottom, client.bottom) << "cut: " << text;
}

// Walks the children in template order against the table.
void ExpectControls(const Dialog& dialog, const Control* table, size_t count)
{
    ASSERT_TRUE(dialog.hwnd != nullptr) << "error " << GetLastError();
    HWND child = GetWindow(dialog.hwnd, GW_CHILD);
    for (size_t i = 0; i < count; ++i, child = GetWindow(child, GW_HWNDNEXT)) {
        const Control& c = table[i];
        ASSERT_TRUE(child != nullptr) << "missing control " << i << " id " << c.id;
        SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(c.id));
        EXPECT_EQ(LOWORD(GetDlgCtrlID(child)), LOWORD(c.id));
        EXPECT_EQ(lstrcmpiA(Text(child, true).c_str(), c.cls), 0) << "got class " << Text(child, true);
        if (c.text[column]) {
            EXPECT_EQ(Text(child), c.text[column]);
        }
        DWORD style = GetWindowLongA(child, GWL_STYLE);
        EXPECT_EQ(style & c.mask, c.style) << std::hex << "got style 0x" << style;
        if (!(c.mask & WS_VISIBLE)) {
            EXPECT_TRUE(style & WS_VISIBLE) << std::hex << "got style 0x" << style;
        }
        RECT got = dialog.place(child);
        if (c.top >= 0) {
            RECT band = dialog.dlu(0, c.top, 290, c.bottom - c.top);
            EXPECT_GE(got.top, band.top) << "bottom " << got.bottom;
            EXPECT_LE(got.bottom, band.bottom) << "top " << got.top;
        } else {
            const RECT& at = c.at[column];
            RECT want = dialog.dlu(at.left, at.top, at.right, at.bottom);
            EXPECT_TRUE(EqualRect(&want, &got)) << "at " << got.left << "," << got.top << " " << got.right << "," << got.bottom;
        }
        ExpectFits(dialog.hwnd, child, style);
    }
    EXPECT_TRUE(child == nullptr) << "extra control id " << GetDlgCtrlID(child);
}

TEST(Resources, UserLanguage)
{
    const LANGID languages[] = {LANG_ENGLISH, LANG_FRENCH, LANG_ITALIAN};
    EXPECT_EQ(PRIMARYLANGID(GetUserDefaultUILanguage()), languages[column])
        << "got UI language 0x" << std::hex << GetUserDefaultUILanguage();
    EXPECT_EQ(GetACP(), 1252u) << "got code page " << GetACP();
}

TEST(Resources, ManagerWindowTemplate)
{
    Dialog dialog(IDD_MANAGER);
    ExpectControls(dialog, managerControls, sizeof managerControls / sizeof *managerControls);
    DWORD style = GetWindowLongA(dialog.hwnd, GWL_STYLE), ex = GetWindowLongA(dialog.hwnd, GWL_EXSTYLE);
    EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_VISIBLE | DS_MODALFRAME | DS_CENTER | DS_3DLOOK),
              DWORD(WS_POPUP | DS_MODALFRAME | DS_CENTER | DS_3DLOOK)) << std::hex << "got 0x" << style;
    EXPECT_EQ(ex & (WS_EX_APPWINDOW | WS_EX_CONTEXTHELP), DWORD(WS_EX_APPWINDOW | (column == French ? WS_EX_CONTEXTHELP : 0)))
        << std::hex << "got 0x" << ex;
    RECT client, size = dialog.dlu(0, 0, 290, 238);
    GetClientRect(dialog.hwnd, &client);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);
    // The pin at the top left and the menu button in the top right corner;
    // the French window has them the other way round.
    RECT pin = dialog.place(GetDlgItem(dialog.hwnd, 1040)), menu = dialog.place(GetDlgItem(dialog.hwnd, 1032));
    RECT& left = column == French ? menu : pin;
    RECT& right = column == French ? pin : menu;
    EXPECT_LT(left.left, dialog.dlu(0, 0, 10, 0).right) << "left " << left.left;
    EXPECT_GT(right.right, dialog.dlu(0, 0, 280, 0).right) << "right " << right.right;

    // The event log's scroll bars show once needed (the list box drops
    // the style bits while they are hidden), inside its border.
    HWND log = GetDlgItem(dialog.hwnd, 1054);
    for (int i = 0; i < 30; ++i)
        SendMessageA(log, LB_ADDSTRING, 0, (LPARAM) "line");
    SendMessageA(log, LB_SETHORIZONTALEXTENT, 2000, 0);
    DWORD bars = GetWindowLongA(log, GWL_STYLE) & (WS_VSCROLL | WS_HSCROLL);
    EXPECT_EQ(bars, DWORD(WS_VSCROLL | WS_HSCROLL)) << std::hex << "got 0x" << bars;
    RECT outer, inner;
    GetWindowRect(log, &outer);
    GetClientRect(log, &inner);
    EXPECT_GT(outer.right - outer.left - inner.right, GetSystemMetrics(SM_CXVSCROLL))
        << "window " << outer.right - outer.left << " client " << inner.right;
}

TEST(Resources, AboutDialogTemplate)
{
    const DWORD link = SS_TYPEMASK | SS_NOTIFY;
    const Control controls[] = {
        {1, "Button", Type, BS_DEFPUSHBUTTON, SAME("OK"), -1, 0, {{40, 77, 50, 14}, {40, 89, 50, 14}, {37, 77, 50, 14}}},
        {1007, "Static", link, SS_LEFT | SS_NOTIFY, SAME("Tarvane"), -1, 0, {{89, 61, 34, 9}, {90, 68, 33, 9}, {89, 61, 34, 9}}},
        {1009, "Static", link, SS_LEFT | SS_NOTIFY, SAME("Nadia Roux"), -1, 0, {{15, 29, 45, 8}, {19, 29, 45, 8}, {15, 29, 45, 8}}},
        {1010, "Static", link, SS_LEFT | SS_NOTIFY, SAME("Luca Bertin"), -1, 0, {{71, 29, 55, 8}, {76, 29, 55, 8}, {71, 29, 55, 8}}},
        {1011, "Static", link, SS_LEFT | SS_NOTIFY, SAME("\xC9lise Vidal"), -1, 0, {{139, 29, 43, 8}, {143, 29, 43, 8}, {139, 29, 43, 8}}},
        {-1, "Static", SS_TYPEMASK, SS_LEFT, {"Tarvane, a simple way to install Apache, MySql and PHP has been created by :",
            "Tarvane, le package d'installation simple d'Apache, MySql et PHP a \xE9t\xE9 r\xE9" "alis\xE9 par :",
            "Tarvane, il modo pi\xF9 semplice per installare Apache, MySql e PHP \xE8 una creazione di:"},
         -1, 0, {{7, 7, 204, 20}, {7, 7, 210, 19}, {7, 7, 204, 20}}},
        {-1, "Static", SS_TYPEMASK, SS_LEFT, {"For informations, visit the Tarvane home page :",
            "Pour vous tenir au courant de l'\xE9volution de cette distribution, visitez le site :",
            "Per informazioni, visita la Home Page di Tarvane:"}, -1, 0, {{7, 44, 204, 10}, {7, 48, 210, 16}, {7, 44, 204, 10}}},
        {1016, "Button", Type, BS_PUSHBUTTON, {"&Check version", "&V\xE9rifier la version", "&Controlla versione"},
         -1, 0, {{107, 77, 70, 14}, {113, 89, 70, 14}, {110, 77, 70, 14}}},
    };
    Dialog dialog(IDD_ABOUT);
    ExpectControls(dialog, controls, sizeof controls / sizeof *controls);
    const char* captions[] = {"About Tarvane", "\xC0 propos d'Tarvane", "Informazioni su Tarvane"};
    EXPECT_EQ(Text(dialog.hwnd), captions[column]);
    DWORD style = GetWindowLongA(dialog.hwnd, GWL_STYLE);
    EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER),
              DWORD(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER)) << std::hex << "got 0x" << style;
    RECT client, size = dialog.dlu(0, 0, column == French ? 224 : 218, column == French ? 110 : 98);
    GetClientRect(dialog.hwnd, &client);
    EXPECT_TRUE(EqualRect(&client, &size)) << "client " << client.right << "x" << client.bottom;
}

// "text=id" items, "-" separators, "text{...}" sub-popups, joined by "|".
std::string Describe(HMENU menu)
{
    std::string out;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        char text[128] = "";
        GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
        if (i) out += "|";
        if (HMENU sub = GetSubMenu(menu, i))
            out += std::string(text) + "{" + Describe(sub) + "}";
        else if (GetMenuState(menu, i, MF_BYPOSITION) & MF_SEPARATOR)
            out += "-";
        else
            out += std::string(text) + "=" + std::to_string(GetMenuItemID(menu, i));
    }
    return out;
}

TEST(Resources, TrayMenu)
{
    const char* expected[] = {
        "kk{&Help{&Introduction=32798|-|&Start with PHP=32800|&Faq=32799|-|&About Tarvane=1008}|-|"
        "&Log Files{&Apache Error=32782|&MySql Error=32783}|"
        "&Configuration{&Apache=32773|Php &Extension=32792|P&hp=32788|My&Sql=32781|Php&MyAdmin=32793|-|&Tarvane=32786}|-|"
        "Local &Web=32785|&Restart=32794|No title=32774|-|&Exit=32776}",
        "kk{A&ide{&Introduction=32798|-|&Debuter le PHP=32800|&Faq=32799|-|&A propos d'Tarvane=1008}|-|"
        "&Fichiers Log{Erreur &Apache=32782|A&cces Apache=32797|Erreur &MySql=32783|&Tarvane=32796}|"
        "&Configuration{&Apache=32773|&Extensions Php=32792|P&hp=32788|My&Sql=32781|Php&MyAdmin=32793|-|&Tarvane=32786}|-|"
        "&Administration=32801|&Web local=32785|&Red\xE9marrer=32794|No title=32774|-|&Quitter=32776}",
        "kk{&Help{&Introduction=32798|-|&Debuter le PHP=32800|&Faq=32799|-|&Informazioni=1008}|-|"
        "&Files di log{Errori &Apache=32782|Errori &MySql=32783}|"
        "&Configurazione{&Apache=32773|Php &Extension=32792|P&hp=32788|My&Sql=32781|Php&MyAdmin=32793|-|&Tarvane=32786}|-|"
        "&Sito Locale=32785|&Riavvia=32794|No title=32774|-|&Esci=32776}",
    };
    HMENU menu = LoadMenuA(module, MAKEINTRESOURCEA(IDR_TRAY_MENU));
    ASSERT_TRUE(menu != nullptr) << "error " << GetLastError();
    EXPECT_EQ(Describe(menu), expected[column]);
    DestroyMenu(menu);
}

// The colour pixels of an icon, 32 bits each, then its mask, top row first.
std::vector<DWORD> IconPixels(HICON icon, int size)
{
    std::vector<DWORD> pixels(2 * size * size);
    ICONINFO info;
    if (!GetIconInfo(icon, &info))
        return {};
    BITMAPINFO bmi = {};
    bmi.bmiHeader = {sizeof bmi.bmiHeader, size, -size, 1, 32, BI_RGB};
    HDC dc = GetDC(nullptr);
    GetDIBits(dc, info.hbmColor, 0, size, pixels.data(), &bmi, DIB_RGB_COLORS);
    GetDIBits(dc, info.hbmMask, 0, size, pixels.data() + size * size, &bmi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return pixels;
}

TEST(Resources, TrayIconsAtBothSizesDifferPairwise)
{
    const UINT ids[] = {IDI_TRAY_IDLE, IDI_TRAY_APACHE, IDI_TRAY_MYSQL, IDI_TRAY_BOTH, IDI_WINDOW};
    for (int size : {16, 32}) {
        std::vector<std::vector<DWORD>> pictures;
        for (UINT id : ids) {
            // Drawn at this size, not scaled from the other.
            HRSRC group = FindResourceA(module, MAKEINTRESOURCEA(id), (LPCSTR)RT_GROUP_ICON);
            BYTE* dir = group ? (BYTE*)LockResource(LoadResource(module, group)) : nullptr;
            ASSERT_TRUE(dir != nullptr) << "icon " << id;
            bool found = false;
            for (int i = 0; i < *(WORD*)(dir + 4); ++i)
                found = found || dir[6 + 14 * i] == size;
            EXPECT_TRUE(found) << "icon " << id << " has no " << size << " pixel picture";
            HICON icon = (HICON)LoadImageA(module, MAKEINTRESOURCEA(id), IMAGE_ICON, size, size, 0);
            ASSERT_TRUE(icon != nullptr) << "icon " << id << " error " << GetLastError();
            pictures.push_back(IconPixels(icon, size));
            DestroyIcon(icon);
        }
        for (size_t a = 0; a < pictures.size(); ++a)
            for (size_t b = a + 1; b < pictures.size(); ++b)
                EXPECT_NE(pictures[a], pictures[b]) << "icons " << ids[a] << " and " << ids[b] << " at " << size;
    }
}

TEST(Resources, CursorAndBitmaps)
{
    HCURSOR hand = LoadCursorA(module, MAKEINTRESOURCEA(IDC_HAND_CURSOR));
    ICONINFO info;
    ASSERT_TRUE(hand && GetIconInfo(hand, &info)) << "error " << GetLastError();
    EXPECT_FALSE(info.fIcon);
    DeleteObject(info.hbmMask);
    if (info.hbmColor) DeleteObject(info.hbmColor);

    // The button faces turn their grey background into the system's.
    Dialog dialog(IDD_MANAGER);
    const struct { UINT bitmap; int button; } faces[] = {
        {IDB_MENU_BUTTON, 1032}, {IDB_PIN_OFF, 1040}, {IDB_PIN_ON, 1040}, {IDB_HELP_BUTTON, 1059}};
    for (const auto& f : faces) {
        HBITMAP bitmap = (HBITMAP)LoadImageA(module, MAKEINTRESOURCEA(f.bitmap), IMAGE_BITMAP, 0, 0,
                                             LR_LOADMAP3DCOLORS | LR_LOADTRANSPARENT);
        ASSERT_TRUE(bitmap != nullptr) << "bitmap " << f.bitmap;
        BITMAP bm;
        GetObjectA(bitmap, sizeof bm, &bm);
        RECT room;
        GetClientRect(GetDlgItem(dialog.hwnd, f.button), &room);
        EXPECT_LE(bm.bmWidth, room.right - 2) << "bitmap " << f.bitmap;
        EXPECT_LE(bm.bmHeight, room.bottom - 2) << "bitmap " << f.bitmap;
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, bitmap);
        EXPECT_EQ(GetPixel(dc, 0, 0), GetSysColor(COLOR_3DFACE)) << "bitmap " << f.bitmap;
        EXPECT_EQ(GetPixel(dc, bm.bmWidth - 1, bm.bmHeight - 1), GetSysColor(COLOR_3DFACE)) << "bitmap " << f.bitmap;
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
    // The banner and its line span the whole window.
    for (UINT id : {IDB_BANNER, IDB_BANNER_LINE}) {
        HBITMAP bitmap = LoadBitmapA(module, MAKEINTRESOURCEA(id));
        ASSERT_TRUE(bitmap != nullptr) << "bitmap " << id;
        BITMAP bm;
        GetObjectA(bitmap, sizeof bm, &bm);
        EXPECT_GE(bm.bmWidth, dialog.dlu(0, 0, 290, 0).right) << "bitmap " << id;
        DeleteObject(bitmap);
    }
}

TEST(Resources, ProductVersionOfTheModule)
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    DWORD handle = 0, size = GetFileVersionInfoSizeA(path, &handle);
    ASSERT_GT(size, 0u) << "error " << GetLastError();
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", (void**)&fixed, &length));
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u) << std::hex << fixed->dwProductVersionMS;
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u) << std::hex << fixed->dwProductVersionLS;
    const char* values[][2] = {{"ProductName", "Tarvane"}, {"ProductVersion", "1.0.0.1"},
                               {"FileDescription", "Tarvane, the local web stack manager"}};
    for (auto& v : values) {
        char* text = nullptr;
        std::string key = std::string("\\StringFileInfo\\040904E4\\") + v[0];
        ASSERT_TRUE(VerQueryValueA(block.data(), key.c_str(), (void**)&text, &length)) << key;
        EXPECT_STREQ(text, v[1]);
    }
    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", (void**)&translation, &length));
    EXPECT_EQ(translation[0], 0x409);
    EXPECT_EQ(translation[1], 1252);
}

}  // namespace
