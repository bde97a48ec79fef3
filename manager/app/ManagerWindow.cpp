#include "ManagerWindow.h"

#include <commctrl.h>
#include <cstdio>
#include <cstring>

#include "Texts.h"
#include "resource.h"

const char ManagerWindowProperty[] = "TarvaneManager";

namespace {

// Outer window height in pixels for each position of the size slider.
const int expansionHeights[3] = {82, 305, 393};

// The states last written into the status texts; -1: never.
int shownApacheState = -1;
int shownMySqlState = -1;

COLORREF LampColour(ServerState state)
{
    if (state == Running)
        return RGB(0, 255, 0);
    if (state == Stopped)
        return RGB(255, 0, 0);
    return RGB(255, 128, 0);
}

// Paints a lamp into the whole-window area of a status control.
void PaintLamp(HWND control, ServerState state, int left)
{
    HDC dc = GetWindowDC(control);
    if (!dc)
        return;
    HBRUSH brush = CreateSolidBrush(LampColour(state));
    HGDIOBJ old = SelectObject(dc, brush);
    Ellipse(dc, left, 2, left + 10, 12);
    SelectObject(dc, old);
    DeleteObject(brush);
    ReleaseDC(control, dc);
}

HANDLE LoadButtonImage(UINT id)
{
    return LoadImageA(AppInstance(), MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0,
                      LR_LOADMAP3DCOLORS | LR_LOADTRANSPARENT);
}

// Sets a bitmap on a button and frees the one it replaces.
void SetButtonImage(HWND button, UINT id)
{
    HANDLE image = LoadButtonImage(id);
    HGDIOBJ old = reinterpret_cast<HGDIOBJ>(
        SendMessageA(button, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(image)));
    if (old && old != image)
        DeleteObject(old);
}

struct FindContext {
    HWND found;
};

BOOL CALLBACK FindManagerProc(HWND window, LPARAM lParam)
{
    char title[32];
    char className[16];
    if (!GetPropA(window, ManagerWindowProperty))
        return TRUE;
    if (!GetClassNameA(window, className, sizeof className) || strcmp(className, "#32770") != 0)
        return TRUE;
    GetWindowTextA(window, title, sizeof title);
    if (strcmp(title, "Tarvane") != 0)
        return TRUE;
    reinterpret_cast<FindContext*>(lParam)->found = window;
    return FALSE;
}

}  // namespace

HWND FindManagerWindow()
{
    FindContext context = {nullptr};
    EnumWindows(FindManagerProc, reinterpret_cast<LPARAM>(&context));
    return context.found;
}

ManagerWindow::ManagerWindow(HWND parent)
    : trayIcons(), serversStarted(false), serviceSwitchPending(false), promptDepth_(0),
      quitPending_(false), quitDone_(false), trayAdded_(false), taskbarCreatedMessage_(0),
      apacheStopRefusedAt_(), apacheStopRefused_(false), lastApacheState_(Stopped),
      apacheWasRunning_(false)
{
    ZeroMemory(&trayData, sizeof trayData);
    const UINT icons[4] = {IDI_TRAY_IDLE, IDI_TRAY_APACHE, IDI_TRAY_MYSQL, IDI_TRAY_BOTH};
    for (int i = 0; i < 4; ++i)
        trayIcons[i] = LoadIconA(AppInstance(), MAKEINTRESOURCEA(icons[i]));

    lstrcpynA(caption, LoadText(IDS_APP_NAME), sizeof caption);

    apache.setServiceMode(settings.StartAsServices);
    mysql.setServiceMode(settings.StartAsServices);
    apache.setWatchConfig(settings.AutoReloadConf);
    mysql.setWatchConfig(settings.AutoReloadConf);
    apache.setSsl(settings.SslMode);

    if (settings.MySqlArguments[0] == '\0')
        lstrcpynA(settings.MySqlArguments, LoadText(IDS_MYSQL_DEFAULT_ARGS), 250);
    mysql.setArguments(settings.MySqlArguments);

    char windows[MAX_PATH] = "";
    GetWindowsDirectoryA(windows, sizeof windows);
    snprintf(phpConfigPath, sizeof phpConfigPath, "%s\\php.ini", windows);

    taskbarCreatedMessage_ = RegisterWindowMessageA("TaskbarCreated");
    showDialog(IDD_MANAGER, parent, false);
}

ManagerWindow::~ManagerWindow()
{
    if (handle_) {
        KillTimer(handle_, StatusTimer);
        KillTimer(handle_, StartupCheckTimer);
        RemovePropA(handle_, ManagerWindowProperty);
        // The icon normally went with the quit; never leave it behind.
        if (trayAdded_)
            Shell_NotifyIconA(NIM_DELETE, &trayData);
    }
    // Members go in reverse order: settings (saved), apache, mysql; the
    // dialog base detaches last.
}

BOOL ManagerWindow::onInitDialog()
{
    HICON icon = LoadIconA(AppInstance(), MAKEINTRESOURCEA(IDI_WINDOW));
    SendMessageA(handle_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageA(handle_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    SetWindowTextA(handle_, caption);
    SetPropA(handle_, ManagerWindowProperty, reinterpret_cast<HANDLE>(1));

    addTrayIcon();

    apache.setNotifyWindow(handle_);
    mysql.setNotifyWindow(handle_);

    if (settings.AutoStartServers || settings.StartAsServices)
        startAll();

    SetTimer(handle_, StatusTimer, 500, nullptr);
    SetTimer(handle_, StartupCheckTimer, 0, nullptr);

    EnableMenuItem(GetSystemMenu(handle_, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);

    setExpansion(settings.ExpandPos);

    setPinImage();
    SetWindowPos(handle_, settings.ShowAlways ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE);
    if (settings.ShowAlways)
        ShowWindow(handle_, SW_SHOW);

    HWND slider = GetDlgItem(handle_, IDC_EXPANSION);
    SendMessageA(slider, TBM_SETRANGE, FALSE, MAKELPARAM(0, 2));
    SendMessageA(slider, TBM_SETTICFREQ, 1, 0);
    SendMessageA(slider, TBM_SETPOS, TRUE, settings.ExpandPos);

    SetButtonImage(GetDlgItem(handle_, IDC_MENU_BUTTON), IDB_MENU_BUTTON);
    SetButtonImage(GetDlgItem(handle_, IDC_HELP_BUTTON), IDB_HELP_BUTTON);

    const struct {
        int control;
        UINT text;
    } tips[] = {
        {IDC_EXPERT_MODE, IDS_TIP_EXPERT_MODE},   {IDC_CHECK_VERSION, IDS_TIP_CHECK_VERSION},
        {IDC_AUTO_RELOAD_CONF, IDS_TIP_AUTO_RELOAD}, {IDC_APACHE_STATUS, IDS_TIP_APACHE_STATE},
        {IDC_MYSQL_STATUS, IDS_TIP_MYSQL_STATE},  {IDC_PIN, IDS_TIP_PIN},
        {IDC_HELP_BUTTON, IDS_TIP_HELP},          {IDC_EXPANSION, IDS_TIP_WINDOW_SIZE},
    };
    for (const auto& tip : tips)
        addTooltip(GetDlgItem(handle_, tip.control), LoadText(tip.text));

    loadSettingsPage();
    return 0;
}

INT_PTR ManagerWindow::onMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        drawStatus();
        return 0;
    case WM_ENDSESSION:
        // Only a session that really ends; a cancelled logoff changes
        // nothing. The process may be ended as soon as this returns, so
        // the settings are saved here.
        if (wParam) {
            quitManager();
            settings.SaveSettings();
            DestroyWindow(handle_);
        }
        return 0;
    case WM_NOTIFY:
        return 0;
    case WM_HELP:
        showFieldHelp(reinterpret_cast<const HELPINFO*>(lParam));
        return 0;
    case WM_COMMAND:
        onCommand(wParam);
        return 0;
    case WM_TIMER:
        if (wParam == StatusTimer) {
            superviseServers();
            watchMySqlStop();
            drawStatus();
            refreshTray();
        } else if (wParam == StartupCheckTimer) {
            KillTimer(handle_, StartupCheckTimer);
            if (settings.CheckVersion)
                CheckForNewVersion();
        }
        return 0;
    case WM_VSCROLL:
        if (reinterpret_cast<HWND>(lParam) == GetDlgItem(handle_, IDC_EXPANSION))
            setExpansion(static_cast<int>(
                SendMessageA(reinterpret_cast<HWND>(lParam), TBM_GETPOS, 0, 0)));
        return 0;
    case WM_LBUTTONDOWN:
        PostMessageA(handle_, WM_NCLBUTTONDOWN, HTCAPTION, lParam);
        return 0;
    case TrayCallbackMessage:
        if (lParam == WM_LBUTTONDBLCLK)
            bringToFront();
        else if (lParam == WM_RBUTTONDOWN)
            showTrayMenu();
        return 0;
    default:
        break;
    }
    if (message == apache.messageId())
        onServerNotification(&apache, wParam, lParam);
    else if (message == mysql.messageId())
        onServerNotification(&mysql, wParam, lParam);
    else if (taskbarCreatedMessage_ && message == taskbarCreatedMessage_ && trayAdded_)
        // The shell started again: its notification area knows nothing of
        // the icon any more.
        Shell_NotifyIconA(NIM_ADD, &trayData);
    return 0;
}

bool ManagerWindow::onCommand(WPARAM id)
{
    switch (id) {
    case IDCANCEL:
        hideWindow();
        break;
    case IDC_ABOUT:
        showAbout();
        break;
    case IDC_EXPERT_MODE:
        onExpertToggled();
        break;
    case IDC_CHECK_VERSION_BUTTON:
        CheckForNewVersion();
        break;
    case IDC_START_AS_SERVICES:
        onServicesToggled();
        break;
    case IDC_APPLY:
        applySettings();
        break;
    case IDC_MENU_BUTTON:
        showTrayMenu();
        break;
    case IDC_PIN:
        togglePin();
        break;
    case IDC_HELP_BUTTON:
        enterContextHelp();
        break;
    case ID_CMD_START:
        if (!serversStarted)
            toggleServers();
        break;
    case ID_CMD_STOP:
        if (serversStarted)
            toggleServers();
        break;
    case ID_CMD_TOGGLE:
        toggleServers();
        break;
    case ID_CMD_QUIT:
        quitManager();
        break;
    case ID_CMD_SHOW_WINDOW:
        bringToFront();
        break;
    case ID_CMD_RESTART:
        restartAll();
        break;
    case ID_CMD_EDIT_APACHE_CONF:
    case ID_CMD_EDIT_MYSQL_CONF:
    case ID_CMD_APACHE_ERROR_LOG:
    case ID_CMD_MYSQL_ERROR_LOG:
    case ID_CMD_BROWSE:
    case ID_CMD_EDIT_PHP_CONF:
    case ID_CMD_EXTENSION_EDITOR:
    case ID_CMD_PHPMYADMIN:
    case ID_CMD_MANAGER_LOG:
    case ID_CMD_APACHE_ACCESS_LOG:
    case ID_CMD_INTRODUCTION:
    case ID_CMD_FAQ:
    case ID_CMD_PHP_START_SITE:
    case ID_CMD_ADMINISTRATION:
        openShortcut(id);
        break;
    default:
        break;
    }
    return true;
}

void ManagerWindow::drawStatus()
{
    ServerState apacheState = apache.state();
    ServerState mysqlState = mysql.state();
    char text[64];
    if (apacheState != shownApacheState) {
        snprintf(text, sizeof text, "Apache       %-20s", stateName(apacheState));
        SetDlgItemTextA(handle_, IDC_APACHE_STATUS, text);
    }
    if (mysqlState != shownMySqlState) {
        snprintf(text, sizeof text, "MySql        %-20s", stateName(mysqlState));
        SetDlgItemTextA(handle_, IDC_MYSQL_STATUS, text);
    }
    PaintLamp(GetDlgItem(handle_, IDC_MYSQL_STATUS), mysqlState, 40);
    PaintLamp(GetDlgItem(handle_, IDC_APACHE_STATUS), apacheState, 45);
    shownApacheState = apacheState;
    shownMySqlState = mysqlState;
}

void ManagerWindow::bringToFront()
{
    ShowWindow(handle_, SW_RESTORE);
    SetForegroundWindow(handle_);
    PostMessageA(handle_, WM_PAINT, 0, 0);
    SetFocus(GetDlgItem(handle_, IDCANCEL));
}

void ManagerWindow::hideWindow()
{
    ShowWindow(handle_, SW_HIDE);
    loadSettingsPage();
}

void ManagerWindow::quitManager()
{
    if (quitDone_)
        return;
    if (inPrompt()) {
        // Acted on once the prompt has returned (leavePrompt).
        quitPending_ = true;
        return;
    }
    quitDone_ = true;
    quitPending_ = false;
    // The drivers' actual mode decides: an applied switch to services that
    // has not happened yet leaves processes that must end with the manager.
    if (!apache.serviceMode() || !mysql.serviceMode()) {
        logEvent("Arret des serveurs", SourceManager);
        if (!apache.serviceMode() && !stopRefusedLately(&apache))
            noteStopResult(&apache, apache.stop());
        if (!mysql.serviceMode())
            mysql.stop();
        trayData.hIcon = trayIcons[0];
    }
    bool applied = settings.StartAsServices;
    storeSettingsPage();
    // A service option that was never applied would make the next start
    // start nothing: only an applied one is kept.
    settings.StartAsServices = applied;
    if (trayAdded_) {
        Shell_NotifyIconA(NIM_DELETE, &trayData);
        trayAdded_ = false;
    }
    PostQuitMessage(0);
}

void ManagerWindow::setExpansion(int position)
{
    if (position < 0 || position > 2)
        return;
    settings.ExpandPos = position;
    RECT frame;
    GetWindowRect(handle_, &frame);
    SetWindowPos(handle_, settings.ShowAlways ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0,
                 frame.right - frame.left, expansionHeights[position], SWP_NOMOVE);
}

void ManagerWindow::setPinImage()
{
    SetButtonImage(GetDlgItem(handle_, IDC_PIN), settings.ShowAlways ? IDB_PIN_ON : IDB_PIN_OFF);
}

void ManagerWindow::togglePin()
{
    settings.ShowAlways = !settings.ShowAlways;
    SetWindowPos(handle_, settings.ShowAlways ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE);
    setPinImage();
}

void ManagerWindow::enterContextHelp()
{
    POINT cursor = {0, 0};
    GetCursorPos(&cursor);
    SendMessageA(handle_, WM_SYSCOMMAND, SC_CONTEXTHELP, MAKELPARAM(cursor.x, cursor.y));
}

int ManagerWindow::prompt(const char* text, UINT type)
{
    enterPrompt();
    int answer = MessageBoxA(handle_, text, caption, type);
    leavePrompt();
    return answer;
}

void ManagerWindow::leavePrompt()
{
    if (promptDepth_ > 0)
        --promptDepth_;
    if (promptDepth_ == 0 && quitPending_)
        PostMessageA(handle_, WM_COMMAND, ID_CMD_QUIT, 0);
}

bool ManagerWindow::quitArrived()
{
    return quitPending_ || quitDone_;
}
