// The manager window in-process: heights, pin, close command, Esc, the
// settings page and the tray menu and icon.
#include "AppKit.h"

#include <commctrl.h>

#include "TestKit.h"
#include "resource.h"

using testkit::PumpFor;
using testkit::PumpUntil;

namespace {

int Height(HWND window)
{
    RECT r;
    GetWindowRect(window, &r);
    return r.bottom - r.top;
}

INT_PTR CALLBACK PlainDialog(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

bool Checked(HWND dialog, int id)
{
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

BOOL CALLBACK CountTooltip(HWND window, LPARAM count)
{
    char name[32] = "";
    GetClassNameA(window, name, sizeof name);
    *reinterpret_cast<int*>(count) += strcmp(name, TOOLTIPS_CLASSA) == 0;
    return TRUE;
}

// The tooltip of a control (in: the control); and a count of a tooltip's
// looks for the pointer.
BOOL CALLBACK FindTooltip(HWND window, LPARAM found)
{
    char name[32] = "", text[1024] = "";
    TOOLINFOA tool = {TTTOOLINFOA_V1_SIZE, 0, nullptr, 0, {}, nullptr, text};
    GetClassNameA(window, name, sizeof name);
    if (!strcmp(name, TOOLTIPS_CLASSA) && SendMessageA(window, TTM_ENUMTOOLSA, 0, reinterpret_cast<LPARAM>(&tool)) && tool.hwnd == *(HWND*)found)
        *reinterpret_cast<HWND*>(found) = window;
    return TRUE;
}
LRESULT CALLBACK CountLooks(HWND tip, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR looks)
{
    *reinterpret_cast<int*>(looks) += message == TTM_WINDOWFROMPOINT;
    return DefSubclassProc(tip, message, wParam, lParam);
}

bool Enabled(HWND dialog, int id)
{
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

}  // namespace

class WindowTest : public AppTest {};

TEST_F(WindowTest, HeightsByExpansionPosition)
{
    // The heights follow the dialog's units as the screen lays them out:
    // as designed, 238 units are 387 pixels (MS Sans Serif 8 at 96 dpi on
    // Windows); Wine's fonts and other dpi give other sizes.
    const struct {
        int dialogHeight, heights[3];
    } screens[] = {{387, {82, 305, 393}}, {484, {103, 381, 492}}, {581, {123, 458, 590}}, {774, {164, 610, 786}}};
    for (const auto& screen : screens) {
        for (int position = 0; position < 3; ++position)
            EXPECT_EQ(screen.heights[position], ExpansionHeight(position, screen.dialogHeight)) << screen.dialogHeight;
        EXPECT_EQ(0, ExpansionHeight(3, screen.dialogHeight));
    }

    HWND plain = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MANAGER), nullptr,
                                    PlainDialog, 0);
    int templateHeight = Height(plain);
    RECT units = {0, 0, 0, 238};
    MapDialogRect(plain, &units);
    DestroyWindow(plain);
    const int h[3] = {ExpansionHeight(0, units.bottom), ExpansionHeight(1, units.bottom),
                      ExpansionHeight(2, units.bottom)};
    const struct {
        const char* stored;
        int height;
    } cases[] = {{"0", h[0]}, {"1", h[1]}, {"2", h[2]}, {"7", templateHeight}};
    for (const auto& c : cases) {
        WriteSettings({{"ExpandPos", c.stored}});
        Open();
        EXPECT_EQ(c.height, Height(window->handle())) << "ExpandPos " << c.stored;
        Close();
        EXPECT_EQ(c.stored, ReadSetting("ExpandPos"));
    }
    // The slider moves the window.
    WriteSettings();
    Open();
    HWND slider = GetDlgItem(window->handle(), IDC_EXPANSION);
    EXPECT_EQ(1, SendMessageA(slider, TBM_GETPOS, 0, 0));
    SendMessageA(slider, TBM_SETPOS, TRUE, 2);
    SendMessageA(window->handle(), WM_VSCROLL, SB_THUMBPOSITION, reinterpret_cast<LPARAM>(slider));
    EXPECT_EQ(h[2], Height(window->handle()));
    EXPECT_EQ(2, window->settings().ExpandPos);
}

TEST_F(WindowTest, PinCloseCommandAndEscape)
{
    WriteSettings();
    HWND w = Open()->handle();
    EXPECT_TRUE(IsWindowVisible(w));
    EXPECT_TRUE(GetWindowLongA(w, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_TRUE(GetMenuState(GetSystemMenu(w, FALSE), SC_CLOSE, MF_BYCOMMAND) & MF_GRAYED);
    char title[32] = "";
    GetWindowTextA(w, title, sizeof title);
    EXPECT_STREQ("Tarvane", title);

    HWND pin = GetDlgItem(w, IDC_PIN);
    HGDIOBJ pinned = reinterpret_cast<HGDIOBJ>(SendMessageA(pin, BM_GETIMAGE, IMAGE_BITMAP, 0));
    ASSERT_TRUE(pinned != nullptr);
    SendMessageA(w, WM_COMMAND, IDC_PIN, 0);
    HGDIOBJ unpinned = reinterpret_cast<HGDIOBJ>(SendMessageA(pin, BM_GETIMAGE, IMAGE_BITMAP, 0));
    EXPECT_FALSE(GetWindowLongA(w, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_FALSE(window->settings().ShowAlways);
    EXPECT_TRUE(unpinned != nullptr && unpinned != pinned);
    EXPECT_EQ(0u, GetObjectType(pinned)) << "the replaced image is freed";
    SendMessageA(w, WM_COMMAND, IDC_PIN, 0);
    EXPECT_TRUE(GetWindowLongA(w, GWL_EXSTYLE) & WS_EX_TOPMOST);

    // Esc hides the window and puts the page back.
    CheckDlgButton(w, IDC_AUTO_START_SERVERS, BST_CHECKED);
    MSG esc = {GetDlgItem(w, IDCANCEL), WM_KEYDOWN, VK_ESCAPE, 1};
    EXPECT_TRUE(IsDialogMessageA(w, &esc));
    PumpFor(50);
    EXPECT_FALSE(IsWindowVisible(w));
    EXPECT_FALSE(Checked(w, IDC_AUTO_START_SERVERS));

    // The tray's double-click brings it back with the focus on Close.
    SendMessageA(w, TrayCallbackMessage, 0, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(IsWindowVisible(w));
    EXPECT_EQ(GetDlgItem(w, IDCANCEL), GetFocus());

    // The tray's message has the value of DM_SETDEFID: mouse events over
    // the icon leave Close the default button, so Enter on a check box
    // still closes the window.
    for (LPARAM mouse : {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_MOUSEMOVE})
        SendMessageA(w, TrayCallbackMessage, 0, mouse);
    EXPECT_EQ(IDCANCEL, LOWORD(SendMessageA(w, DM_GETDEFID, 0, 0)));
    SetFocus(GetDlgItem(w, IDC_EXPERT_MODE));
    MSG enter = {GetDlgItem(w, IDC_EXPERT_MODE), WM_KEYDOWN, VK_RETURN, 1};
    EXPECT_TRUE(IsDialogMessageA(w, &enter));
    PumpFor(50);
    EXPECT_FALSE(IsWindowVisible(w)) << "Enter closes the window";
    SendMessageA(w, TrayCallbackMessage, 0, WM_LBUTTONDBLCLK);
    Close();
    EXPECT_EQ("Y", ReadSetting("ShowAlways"));

    // Without ShowAlways only the tray icon shows.
    WriteSettings({{"ShowAlways", "N"}});
    w = Open()->handle();
    PumpFor(100);
    EXPECT_FALSE(IsWindowVisible(w));
    EXPECT_FALSE(GetWindowLongA(w, GWL_EXSTYLE) & WS_EX_TOPMOST);
}

TEST_F(WindowTest, WindowThatCannotBeCreatedEndsTheStart)
{
    // The start-up given a module without the window's template: the
    // dialog cannot be created.
    WriteSettings();
    HMODULE plain = LoadLibraryExA((testkit::BinDir() + "apache.exe").c_str(), nullptr,
                                   DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(plain, nullptr);
    char words[] = "/start";
    EXPECT_EQ(0, RunManager(plain, words));
    SetAppInstance(nullptr);
    FreeLibrary(plain);
    std::vector<std::string> shown = prompts.texts();
    ASSERT_EQ(1u, shown.size());
    EXPECT_EQ(0u, shown[0].find("Tarvane cannot create its window: ")) << shown[0];
    // The template is missing: the system says which resource error.
    EXPECT_NE(std::string::npos, shown[0].find(" (error 181")) << shown[0];
    // The mutex went with it: a new start is a first one.
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "TarvaneMutex");
    EXPECT_NE(ERROR_ALREADY_EXISTS, GetLastError());
    CloseHandle(mutex);

    char text[300];
    FormatWindowFailure(text, sizeof text, ERROR_NOT_ENOUGH_MEMORY);
    // The system's own words (Windows and Wine word them differently),
    // without their line break.
    char reason[200] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_NOT_ENOUGH_MEMORY, 0, reason, sizeof reason, nullptr);
    std::string said(reason, strcspn(reason, ".\r\n"));
    ASSERT_FALSE(said.empty());
    EXPECT_EQ("Tarvane cannot create its window: " + said + " (error 8).", std::string(text));
}

TEST_F(WindowTest, QuitBeforeAnAppliedServiceSwitchKeepsProcesses)
{
    // Applied, not yet carried out (the drivers still run processes): the
    // next start must start processes, not services that were never made.
    WriteSettings({{"StartAsServices", "N"}});
    Open();
    CheckDlgButton(window->handle(), IDC_START_AS_SERVICES, BST_CHECKED);
    SendMessageA(window->handle(), WM_COMMAND, IDC_APPLY, 0);
    ASSERT_TRUE(window->stack().switchPending());
    SendMessageA(window->handle(), WM_COMMAND, ID_CMD_QUIT, 0);
    ASSERT_TRUE(window->hasQuit());
    // Commands after the quit are dropped.
    SendMessageA(window->handle(), WM_COMMAND, ID_CMD_START, 0);
    EXPECT_EQ(0, CountLines("Demarrage"));
    Close();
    EXPECT_EQ("N", ReadSetting("StartAsServices"));
}

TEST_F(WindowTest, SettingsPage)
{
    WriteSettings({{"ExpertMode", "N"}, {"AutoReloadConf", "N"}});
    HWND w = Open()->handle();
    // Wine runs the test as an administrator of an NT-family system.
    EXPECT_TRUE(Enabled(w, IDC_START_AS_SERVICES));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(w, IDC_SSL_MODE)));
    EXPECT_FALSE(Enabled(w, IDC_SSL_MODE));

    // The service option greys the auto-start and the arguments at once;
    // Close puts all back.
    SendDlgItemMessageA(w, IDC_START_AS_SERVICES, BM_CLICK, 0, 0);
    EXPECT_FALSE(Enabled(w, IDC_AUTO_START_SERVERS));
    EXPECT_FALSE(Enabled(w, IDC_MYSQL_ARGUMENTS));
    SendMessageA(w, WM_COMMAND, IDCANCEL, 0);
    EXPECT_FALSE(Checked(w, IDC_START_AS_SERVICES));
    EXPECT_TRUE(Enabled(w, IDC_AUTO_START_SERVERS));

    // Expert mode asks; No unchecks, Yes keeps.
    for (int button : {IDNO, IDYES}) {
        prompts.answer = [button](const std::string&) { return button; };
        SendDlgItemMessageA(w, IDC_EXPERT_MODE, BM_CLICK, 0, 0);
        EXPECT_EQ(button == IDYES, Checked(w, IDC_EXPERT_MODE));
    }
    ASSERT_EQ(2u, prompts.texts().size());
    EXPECT_EQ(0u, prompts.texts()[0].find("Attention ! This mode allows you"));

    // Apply: the watch reaches Apache at once, MySQL at the next start.
    CheckDlgButton(w, IDC_AUTO_RELOAD_CONF, BST_CHECKED);
    SetDlgItemTextA(w, IDC_MYSQL_ARGUMENTS, "--console");
    SendMessageA(w, WM_COMMAND, IDC_APPLY, 0);
    EXPECT_TRUE(window->stack().apache().watchConfig());
    EXPECT_FALSE(window->stack().mysql().watchConfig());
    EXPECT_STREQ("--console", window->stack().mysqlDriver.arguments());
    EXPECT_TRUE(window->settings().ExpertMode);
    EXPECT_FALSE(window->stack().switchPending()) << "the service option did not change";

    // Context help on the three fields.
    for (int id : {IDC_AUTO_START_SERVERS, IDC_START_AS_SERVICES, IDC_MYSQL_ARGUMENTS, IDC_EXPERT_MODE}) {
        HELPINFO info = {sizeof info, HELPINFO_WINDOW, id, GetDlgItem(w, id), 0, {0, 0}};
        SendMessageA(w, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
    }
    ASSERT_EQ(5u, prompts.texts().size()) << "no help for other controls";
    EXPECT_EQ(0u, prompts.texts()[2].find("Cette option permet de lancer les serveurs"));

    // Quit keeps unapplied edits, except a service option never applied.
    SetDlgItemTextA(w, IDC_MYSQL_ARGUMENTS, "--port=3307");
    CheckDlgButton(w, IDC_START_AS_SERVICES, BST_CHECKED);
    SendMessageA(w, WM_COMMAND, ID_CMD_QUIT, 0);
    EXPECT_TRUE(window->hasQuit());
    Close();
    char args[256] = "";
    GetPrivateProfileStringA("MySql", "MySqlArguments", "", args, sizeof args,
                             (kit->root() + "Tarvane.ini").c_str());
    EXPECT_STREQ("--port=3307", args);
    EXPECT_EQ("N", ReadSetting("StartAsServices"));
    EXPECT_EQ("Y", ReadSetting("AutoReloadConf"));
}

TEST_F(WindowTest, TrayMenuByStateAndMode)
{
    // Expert mode off: a plain "&Configuration" item at position 3.
    for (const char* expert : {"N", "Y"}) {
        WriteSettings({{"ExpertMode", expert}});
        HWND w = Open()->handle();
        std::vector<MenuItem> items = OpenTrayMenu(w);
        ASSERT_EQ(10u, items.size());
        EXPECT_EQ("&Start", items[7].text);
        EXPECT_EQ(32774u, items[7].id);
        EXPECT_TRUE(items[7].isDefault);
        EXPECT_FALSE(items[7].grey);
        EXPECT_EQ("&Exit", items[9].text);
        if (expert[0] == 'N') {
            EXPECT_EQ("&Configuration", items[3].text);
            EXPECT_EQ(32786u, items[3].id);
        } else {
            EXPECT_EQ(0xFFFFFFFFu, items[3].id) << "the configuration popup";
        }
        EXPECT_TRUE(items[5].grey) << "local web while stopped";
        EXPECT_TRUE(items[6].grey) << "restart while stopped";
        Close();
    }
}

TEST_F(WindowTest, TrayIconTooltipAndLoss)
{
    WriteSettings();
    HWND w = Open()->handle();
    PumpUntil([&] { return strstr(window->tray().szTip, "(") != nullptr; }, 3000);
    EXPECT_STREQ("Tarvane (Stopped)", window->tray().szTip);
    EXPECT_EQ(window->trayIcon(0), window->tray().hIcon);
#if !defined(_WIN64)
    EXPECT_EQ(88u, window->tray().cbSize);
#endif
    // Wine answers a change of an unknown icon with FALSE, as Windows does.
    NOTIFYICONDATAA probe = window->tray();
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &probe));
    ASSERT_FALSE(Shell_NotifyIconA(NIM_MODIFY, &probe));
    // Nothing changes, nothing is asked of the shell.
    PumpFor(1200);
    EXPECT_FALSE(Shell_NotifyIconA(NIM_MODIFY, &probe));
    // Gone without a word from the shell: its next change adds it again.
    window->refreshTray(true);
    EXPECT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &probe));
    // Gone with a new taskbar: the broadcast brings it back at once.
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &probe));
    KillTimer(w, StatusTimer);
    SendMessageA(w, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &probe));
}

TEST_F(WindowTest, LogFileRecreatedSkippedAndRotated)
{
    WriteSettings();
    Open();
    std::string log = kit->root() + "Tarvane.log";
    window->logEvent("one", SourceManager);
    ASSERT_EQ(1u, FileLines().size());
    // Deleted while the manager runs: the next line makes it anew.
    ASSERT_TRUE(DeleteFileA(log.c_str()));
    window->logEvent("two", SourceMySql);
    ASSERT_EQ(1u, FileLines().size());
    EXPECT_EQ(" MySql  : two", FileLines()[0].substr(14));
    // Held by another program without sharing: skipped; the list still
    // gets the line, and says once that the file cannot be written. (A
    // read-only file would do on Windows; the tests run as root here, for
    // whom Wine writes read-only files all the same.)
    HANDLE held = CreateFileA(log.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    window->logEvent("three", SourceApache);
    window->logEvent("three again", SourceApache);
    CloseHandle(held);
    EXPECT_EQ(1u, FileLines().size());
    ASSERT_EQ(5u, ListLines().size());
    EXPECT_EQ(" Apache : three", ListLines()[2].substr(14));
    const std::string notice = " Tarvane: The event log could not be written to " + kit->shortRoot() + "Tarvane.log: ";
    EXPECT_EQ(notice, ListLines()[3].substr(14, notice.size()));
    EXPECT_EQ(" Apache : three again", ListLines()[4].substr(14)) << "said once";
    // A long message is cut at 255 characters in both.
    window->logEvent(std::string(300, 'x').c_str(), SourceManager);
    EXPECT_EQ(255u, ListLines()[5].size());
    EXPECT_EQ(255u, FileLines()[1].size());

    // The list scrolls sideways as far as its widest line...
    HWND list = GetDlgItem(window->handle(), IDC_EVENT_LOG);
    RECT client;
    GetClientRect(list, &client);
    EXPECT_GT(SendMessageA(list, LB_GETHORIZONTALEXTENT, 0, 0), client.right) << "a whole 255-character line";
    // ...and keeps its newest line in view, unless the user scrolled up.
    auto lastVisible = [&] {
        LRESULT top = SendMessageA(list, LB_GETTOPINDEX, 0, 0);
        LRESULT rows = client.bottom / SendMessageA(list, LB_GETITEMHEIGHT, 0, 0);
        return top + rows >= SendMessageA(list, LB_GETCOUNT, 0, 0);
    };
    for (int i = 0; i < 20; ++i) {
        window->logEvent("more", SourceManager);
        ASSERT_TRUE(lastVisible()) << "line " << i;
    }
    SendMessageA(list, LB_SETTOPINDEX, 2, 0);
    window->logEvent("while scrolled up", SourceManager);
    EXPECT_EQ(2, SendMessageA(list, LB_GETTOPINDEX, 0, 0));
    EXPECT_FALSE(lastVisible());

    // At 1 MB the file starts afresh; the one before stays as
    // Tarvane.old.log, replacing an older one.
    std::string old = kit->root() + "Tarvane.old.log";
    const struct {
        size_t size;
        bool rotated;
    } sizes[] = {{1024 * 1024 - 1, false}, {1024 * 1024, true}, {1024 * 1024 + 10, true}};
    for (const auto& c : sizes) {
        ASSERT_TRUE(testkit::WriteFileBytes(old, "older"));
        ASSERT_TRUE(testkit::WriteFileBytes(log, std::string(c.size - 2, 'x') + "\r\n"));
        window->logEvent("next", SourceManager);
        std::string kept;
        testkit::ReadFileBytes(old, &kept);
        EXPECT_EQ(c.rotated ? c.size : 5u, kept.size()) << c.size;
        EXPECT_EQ(c.rotated ? 1u : 2u, FileLines().size()) << c.size;
    }
    DeleteFileA(old.c_str());
}

TEST_F(WindowTest, StatusTooltipsFieldHelpAndArgumentsLimit)
{
    WriteSettings();
    HWND w = Open()->handle();
    // The status texts take the mouse, so their tooltips see it.
    for (int id : {IDC_APACHE_STATUS, IDC_MYSQL_STATUS}) {
        RECT r;
        GetWindowRect(GetDlgItem(w, id), &r);
        EXPECT_EQ(HTCLIENT, SendMessageA(GetDlgItem(w, id), WM_NCHITTEST, 0,
                                         MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2))) << id;
    }
    // F1 on a field: its help each time, its tooltip made once.
    auto tooltips = [] {
        int n = 0;
        EnumThreadWindows(GetCurrentThreadId(), CountTooltip, reinterpret_cast<LPARAM>(&n));
        return n;
    };
    int before = tooltips();
    HELPINFO help = {sizeof help, HELPINFO_WINDOW, IDC_MYSQL_ARGUMENTS};
    help.hItemHandle = GetDlgItem(w, IDC_MYSQL_ARGUMENTS);
    for (int press = 1; press <= 3; ++press) {
        SendMessageA(w, WM_HELP, 0, reinterpret_cast<LPARAM>(&help));
        EXPECT_EQ(press, (int)prompts.texts().size());
        EXPECT_EQ(before + 1, tooltips()) << "press " << press;
    }
    // The arguments field takes what the setting holds, no more.
    EXPECT_EQ(MaxMySqlArguments, SendDlgItemMessageA(w, IDC_MYSQL_ARGUMENTS, EM_GETLIMITTEXT, 0, 0));
    SetDlgItemTextA(w, IDC_MYSQL_ARGUMENTS, std::string(300, 'a').c_str());
    SendDlgItemMessageA(w, IDC_MYSQL_ARGUMENTS, EM_SETSEL, 0, -1);
    SendDlgItemMessageA(w, IDC_MYSQL_ARGUMENTS, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(std::string(300, 'b').c_str()));
    EXPECT_EQ(MaxMySqlArguments, GetWindowTextLengthA(GetDlgItem(w, IDC_MYSQL_ARGUMENTS)));
}

// A status text's tip comes under the pointer and goes; then, the pointer
// resting, its tooltip stops looking for it (Wine's looks every 100 ms),
// and a move brings the tip back.
TEST_F(WindowTest, TooltipQuietUnderARestingPointer)
{
    WriteSettings();
    HWND status = GetDlgItem(Open()->handle(), IDC_APACHE_STATUS), tip = status;
    EnumThreadWindows(GetCurrentThreadId(), FindTooltip, reinterpret_cast<LPARAM>(&tip));
    SendMessageA(tip, TTM_SETDELAYTIME, TTDT_AUTOPOP, 300);
    int looks = 0;
    SetWindowSubclass(tip, CountLooks, 1, reinterpret_cast<DWORD_PTR>(&looks));
    RECT r;
    GetWindowRect(status, &r);
    for (int move = 0; move < 2; ++move) {
        SetCursorPos((r.left + r.right) / 2 + move, (r.top + r.bottom) / 2);
        EXPECT_TRUE(PumpUntil([&] { return IsWindowVisible(tip); }, 5000) &&
                    PumpUntil([&] { return !IsWindowVisible(tip) && !(looks = 0); }, 5000)) << move;
        PumpFor(1000);
        EXPECT_LE(looks, 1) << move;
    }
    SetCursorPos(0, 0);
}

// The service option needs the NT family: run this program again as a
// Windows 98 program (Wine's per-program version) and look there.
TEST_F(WindowTest, ServiceOptionOutsideTheNtFamily)
{
    if (GetEnvironmentVariableA("TARVANE_AS_WIN98", nullptr, 0)) {
        OSVERSIONINFOA version = {sizeof version};
        GetVersionExA(&version);
        ASSERT_EQ(static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS), version.dwPlatformId);
        WriteSettings();
        HWND w = Open()->handle();
        EXPECT_FALSE(Enabled(w, IDC_START_AS_SERVICES));
        EXPECT_TRUE(Enabled(w, IDC_AUTO_START_SERVERS));
        return;
    }
    const char key[] = "Software\\Wine\\AppDefaults\\window_tests.exe";
    HKEY handle;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, key, &handle));
    RegSetValueExA(handle, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("win98"), 6);
    RegCloseKey(handle);
    SetEnvironmentVariableA("TARVANE_AS_WIN98", "1");
    DWORD code = 99;
    bool ran = testkit::RunProcess("\"" + testkit::BinDir() + "window_tests.exe\" "
                                   "--gtest_filter=WindowTest.ServiceOptionOutsideTheNtFamily", &code, 60000);
    SetEnvironmentVariableA("TARVANE_AS_WIN98", nullptr);
    RegDeleteKeyA(HKEY_CURRENT_USER, key);
    EXPECT_TRUE(ran);
    EXPECT_EQ(0u, code);
}
