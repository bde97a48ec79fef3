#include "ManagerWindow.h"

#include <commctrl.h>
#include <cstdio>
#include <cstring>

#include "AboutDialog.h"
#include "InstallDir.h"
#include "Shortcuts.h"
#include "ServerDiagnosis.h"
#include "System.h"
#include "Texts.h"
#include "resource.h"

const char ManagerWindowProperty[] = "TarvaneManager";

namespace {

// Outer window height in pixels for each position of the size slider, for
// the dialog as designed: 238 dialog units high are 387 pixels (MS Sans
// Serif 8 on a 96-dpi screen).
const int ExpansionHeights[3] = {82, 305, 393};
const int DesignDialogUnits = 238;
const int DesignDialogPixels = 387;

COLORREF LampColour(ServerState state)
{
    if (state == Running)
        return RGB(0, 255, 0);
    if (state == Stopped)
        return RGB(255, 0, 0);
    return RGB(255, 128, 0);
}

// Paints a lamp into the whole-window area of a status control, sized for
// the screen's dots per inch.
void PaintLamp(HWND control, ServerState state, int left)
{
    HDC dc = GetWindowDC(control);
    if (!dc)
        return;
    int dpi = ScreenDpi();
    HBRUSH brush = CreateSolidBrush(LampColour(state));
    HGDIOBJ old = SelectObject(dc, brush);
    Ellipse(dc, MulDiv(left, dpi, 96), MulDiv(2, dpi, 96), MulDiv(left + 10, dpi, 96), MulDiv(12, dpi, 96));
    SelectObject(dc, old);
    DeleteObject(brush);
    ReleaseDC(control, dc);
}

// The status controls paint their lamp over their own painting, so a lamp
// is drawn exactly when its control is: when its state text changes (a
// lamp's colour changes with its text) and when the window shows again.
// The control keeps the state it shows (plus one; none: never shown).
const char LampProcProperty[] = "TarvaneLampProc";
const char LampStateProperty[] = "TarvaneLampState";

LRESULT CALLBACK LampControlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam)
{
    WNDPROC original = reinterpret_cast<WNDPROC>(GetPropA(control, LampProcProperty));
    if (!original)
        return DefWindowProcA(control, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
        RemovePropA(control, LampProcProperty);
        RemovePropA(control, LampStateProperty);
        return CallWindowProcA(original, control, message, wParam, lParam);
    }
    LRESULT result = CallWindowProcA(original, control, message, wParam, lParam);
    if (message == WM_PAINT) {
        bool apache = GetDlgCtrlID(control) == IDC_APACHE_STATUS;
        INT_PTR shown = reinterpret_cast<INT_PTR>(GetPropA(control, LampStateProperty));
        if (shown > 0)
            PaintLamp(control, static_cast<ServerState>(shown - 1), apache ? 45 : 40);
    }
    return result;
}

void PaintLampWith(HWND control)
{
    if (!control || GetPropA(control, LampProcProperty))
        return;
    LONG_PTR original =
        SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(LampControlProc));
    SetPropA(control, LampProcProperty, reinterpret_cast<HANDLE>(original));
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

int ExpansionHeight(int position, int dialogHeight)
{
    if (position < 0 || position > 2)
        return 0;
    return MulDiv(ExpansionHeights[position], dialogHeight, DesignDialogPixels);
}

HWND FindManagerWindow()
{
    FindContext context = {nullptr};
    EnumWindows(FindManagerProc, reinterpret_cast<LPARAM>(&context));
    return context.found;
}

ManagerWindow::ManagerWindow(HWND parent)
    : trayIcons_(), stack_(static_cast<StackView&>(*this)), promptDepth_(0), quitPending_(false), quitDone_(false),
      trayAdded_(false), taskbarCreatedMessage_(0), trayShownIcon_(nullptr), trayShownTip_(), blinkCounter_(0),
      shownApacheState_(-1), shownMySqlState_(-1), screenDpi_(96), dialogPixels_(DesignDialogPixels),
      bannerImages_(), fieldTips_(0)
{
    ZeroMemory(&trayData_, sizeof trayData_);
    sessionHeld_ = false;
    const UINT icons[4] = {IDI_TRAY_IDLE, IDI_TRAY_APACHE, IDI_TRAY_MYSQL, IDI_TRAY_BOTH};
    for (int i = 0; i < 4; ++i)
        trayIcons_[i] = LoadIconA(AppInstance(), MAKEINTRESOURCEA(icons[i]));

    CopyText(caption_, sizeof caption_, IDS_APP_NAME);

    stack_.setServices(settings_.StartAsServices);
    stack_.apacheDriver.setWatchConfig(settings_.AutoReloadConf);
    stack_.mysqlDriver.setWatchConfig(settings_.AutoReloadConf);
    stack_.apacheDriver.setSsl(settings_.SslMode);

    if (settings_.MySqlArguments[0] == '\0')
        CopyText(settings_.MySqlArguments, sizeof settings_.MySqlArguments, IDS_MYSQL_DEFAULT_ARGS);
    stack_.mysqlDriver.setArguments(settings_.MySqlArguments);

    char windows[MAX_PATH] = "";
    GetWindowsDirectoryA(windows, sizeof windows);
    snprintf(phpConfigPath_, sizeof phpConfigPath_, "%s\\php.ini", windows);

    taskbarCreatedMessage_ = RegisterWindowMessageA("TaskbarCreated");
    showDialog(IDD_MANAGER, parent, false);
}

ManagerWindow::~ManagerWindow()
{
    if (handle_) {
        KillTimer(handle_, StatusTimer);
        KillTimer(handle_, StartupCheckTimer);
        RemovePropA(handle_, ManagerWindowProperty);
        // The scaled pictures are the window's to free, after the controls
        // have let go of them.
        SendDlgItemMessageA(handle_, IDC_BANNER, STM_SETIMAGE, IMAGE_BITMAP, 0);
        SendDlgItemMessageA(handle_, IDC_BANNER_LINE, STM_SETIMAGE, IMAGE_BITMAP, 0);
        // The icon normally went with the quit; never leave it behind.
        if (trayAdded_)
            Shell_NotifyIconA(NIM_DELETE, &trayData_);
    }
    for (HANDLE image : bannerImages_)
        if (image)
            DeleteObject(image);
    // Members go in reverse order: settings (saved), the stack with its
    // drivers (Apache, then MySQL); the dialog base detaches last.
}

BOOL ManagerWindow::onInitDialog()
{
    HICON icon = LoadIconA(AppInstance(), MAKEINTRESOURCEA(IDI_WINDOW));
    SendMessageA(handle_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageA(handle_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    SetWindowTextA(handle_, caption_);
    SetPropA(handle_, ManagerWindowProperty, reinterpret_cast<HANDLE>(1));
    PaintLampWith(GetDlgItem(handle_, IDC_APACHE_STATUS));
    PaintLampWith(GetDlgItem(handle_, IDC_MYSQL_STATUS));

    addTrayIcon();

    stack_.apache().setNotifyWindow(handle_);
    // The service switch's thread reports its end to this window.
    stack_.setSwitchTarget(handle_, ServiceSwitchMessage);
    stack_.mysql().setNotifyWindow(handle_);
    logKitFolder();

    // Preferences that would be lost at the end of the run are said now.
    if (settings_.writeError()) {
        char system[200];
        char text[MaxTextLength + MAX_PATH];
        SystemErrorText(settings_.writeError(), system, sizeof system);
        FormatText(text, sizeof text, IDS_SETTINGS_NOT_SAVED, SettingsPath(), system);
        logEvent(text, SourceManager);
    }

    if (settings_.AutoStartServers || settings_.StartAsServices)
        stack_.startAll();

    SetTimer(handle_, StatusTimer, 500, nullptr);
    SetTimer(handle_, StartupCheckTimer, 0, nullptr);

    EnableMenuItem(GetSystemMenu(handle_, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);

    screenDpi_ = ScreenDpi();
    // The heights follow the dialog's units, which follow the screen's dpi
    // and the font the system gives the template.
    RECT units = {0, 0, 0, DesignDialogUnits};
    if (MapDialogRect(handle_, &units) && units.bottom > 0)
        dialogPixels_ = units.bottom;
    scaleBanner();
    setExpansion(settings_.ExpandPos);

    setPinImage();
    SetWindowPos(handle_, settings_.ShowAlways ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE);
    if (settings_.ShowAlways)
        ShowWindow(handle_, SW_SHOW);

    HWND slider = GetDlgItem(handle_, IDC_EXPANSION);
    SendMessageA(slider, TBM_SETRANGE, FALSE, MAKELPARAM(0, 2));
    SendMessageA(slider, TBM_SETTICFREQ, 1, 0);
    SendMessageA(slider, TBM_SETPOS, TRUE, settings_.ExpandPos);

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
    case WM_QUERYENDSESSION:
        // The answer stays the default one, yes.
        holdSessionEnd(true);
        return 0;
    case WM_ENDSESSION:
        // Only a session that really ends; a cancelled logoff changes
        // nothing.
        if (wParam)
            endSession();
        else
            holdSessionEnd(false);
        return 0;
    case WM_NOTIFY:
        return 0;
    case WM_HELP:
        showFieldHelp(reinterpret_cast<const HELPINFO*>(lParam));
        return 0;
    case WM_COMMAND:
        if (!ignoresCommand(wParam))
            onCommand(wParam);
        return 0;
    case WM_TIMER:
        if (wParam == StatusTimer) {
            stack_.tick();
        } else if (wParam == StartupCheckTimer) {
            KillTimer(handle_, StartupCheckTimer);
            if (settings_.CheckVersion)
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
    case VersionCheckMessage:
        onVersionFetched(wParam, lParam);
        return 0;
    case ServiceSwitchMessage:
        stack_.serviceSwitchDone(lParam);
        return 0;
    case TrayCallbackMessage:
        // Its value is also the dialog manager's DM_SETDEFID: handled here,
        // it must not reach the dialog manager, which would make button 0
        // the default and leave Enter without its Close.
        if (lParam == WM_LBUTTONDBLCLK)
            bringToFront();
        else if (lParam == WM_RBUTTONDOWN)
            showTrayMenu();
        SetWindowLongPtrA(handle_, DWLP_MSGRESULT, 0);
        return TRUE;
    default:
        break;
    }
    if (stack_.onMessage(message, wParam, lParam))
        return 0;
    if (taskbarCreatedMessage_ && message == taskbarCreatedMessage_ && trayAdded_)
        // The shell started again: its notification area knows nothing of
        // the icon any more.
        Shell_NotifyIconA(NIM_ADD, &trayData_);
    return 0;
}

const ManagerWindow::Command ManagerWindow::Commands[] = {
    {IDCANCEL, [](ManagerWindow& w) { w.hideWindow(); }, Always},
    {IDC_ABOUT, [](ManagerWindow& w) { w.showAbout(); }, Always},
    {IDC_EXPERT_MODE, [](ManagerWindow& w) { w.onExpertToggled(); }, Always},
    {IDC_CHECK_VERSION_BUTTON, [](ManagerWindow& w) { w.CheckForNewVersion(); }, Always},
    {IDC_START_AS_SERVICES, [](ManagerWindow& w) { w.onServicesToggled(); }, Always},
    {IDC_APPLY, [](ManagerWindow& w) { w.applySettings(); }, Always},
    {IDC_MENU_BUTTON, [](ManagerWindow& w) { w.showTrayMenu(); }, Always},
    {IDC_PIN, [](ManagerWindow& w) { w.togglePin(); }, Always},
    {IDC_HELP_BUTTON, [](ManagerWindow& w) { w.enterContextHelp(); }, Always},
    {ID_CMD_START, [](ManagerWindow& w) { w.stack_.toggle(); }, WhileNotStarted},
    {ID_CMD_STOP, [](ManagerWindow& w) { w.stack_.toggle(); }, WhileStarted},
    {ID_CMD_TOGGLE, [](ManagerWindow& w) { w.stack_.toggle(); }, WhileSettled},
    {ID_CMD_QUIT, [](ManagerWindow& w) { w.quitManager(); }, Always},
    {ID_CMD_SHOW_WINDOW, [](ManagerWindow& w) { w.bringToFront(); }, Always},
    {ID_CMD_RESTART, [](ManagerWindow& w) { w.stack_.restartAll(); }, WhileStarted},
    {ID_CMD_EDIT_APACHE_CONF, [](ManagerWindow& w) { EditApacheConfig(w.stack_.apache().configPath()); }, Always},
    {ID_CMD_EDIT_MYSQL_CONF, [](ManagerWindow& w) { EditMySqlConfig(w.stack_.mysql().configPath()); }, Always},
    {ID_CMD_EDIT_PHP_CONF, [](ManagerWindow& w) { EditPhpConfig(w.phpConfigPath_); }, WhileNotStarted},
    {ID_CMD_EXTENSION_EDITOR, [](ManagerWindow& w) { LaunchExtensionEditor(w.phpConfigPath_); }, WhileNotStarted},
    {ID_CMD_APACHE_ERROR_LOG, [](ManagerWindow&) { OpenApacheErrorLog(); }, Always},
    {ID_CMD_APACHE_ACCESS_LOG, [](ManagerWindow&) { OpenApacheAccessLog(); }, Always},
    {ID_CMD_MYSQL_ERROR_LOG, [](ManagerWindow&) { OpenMySqlErrorLog(); }, Always},
    {ID_CMD_MANAGER_LOG, [](ManagerWindow&) { OpenManagerLog(); }, Always},
    {ID_CMD_BROWSE, [](ManagerWindow& w) { BrowseLocalWeb(w.stack_.started(), w.stack_.apache().port()); },
     WhileStarted},
    {ID_CMD_PHPMYADMIN, [](ManagerWindow& w) { OpenPhpMyAdmin(w.stack_.apache().port()); }, WhileStarted},
    {ID_CMD_ADMINISTRATION,
     [](ManagerWindow& w) { OpenAdministration(w.stack_.started(), w.stack_.apache().port()); }, WhileStarted},
    {ID_CMD_INTRODUCTION, [](ManagerWindow&) { ShowIntroduction(); }, Always},
    {ID_CMD_FAQ, [](ManagerWindow&) { OpenFaq(); }, Always},
    {ID_CMD_PHP_START_SITE, [](ManagerWindow&) { OpenPhpStartSite(); }, Always},
    {0, nullptr, Always},
};

bool ManagerWindow::commandAllowed(const Command& command) const
{
    // While the services are installed or removed both servers are
    // stopped, and the switch starts them in the new mode once it is done:
    // a start now would run them in the old mode beside the commands, and
    // a second Apply would change the option under the switch.
    if (stack_.snapshot().switching && (command.id == ID_CMD_START || command.id == ID_CMD_STOP ||
                                command.id == ID_CMD_TOGGLE || command.id == ID_CMD_RESTART ||
                                command.id == IDC_APPLY))
        return false;
    return commandEnabled(command.when);
}

bool ManagerWindow::commandEnabled(CommandWhen when) const
{
    StackSnapshot shot = stack_.snapshot();
    switch (when) {
    case WhileStarted:
        return shot.started;
    case WhileNotStarted:
        return !shot.started;
    case WhileSettled:
        return shot.settled;
    default:
        return true;
    }
}

void ManagerWindow::greyMenu(HMENU menu) const
{
    for (const Command* command = Commands; command->run; ++command)
        EnableMenuItem(menu, static_cast<UINT>(command->id),
                       MF_BYCOMMAND | (commandAllowed(*command) ? MF_ENABLED : MF_GRAYED));
}

bool ManagerWindow::onCommand(WPARAM id)
{
    for (const Command* command = Commands; command->run; ++command) {
        if (command->id == id) {
            if (commandAllowed(*command))
                command->run(*this);
            break;
        }
    }
    return true;
}

void ManagerWindow::drawStatus()
{
    // Only a state that changed rewrites its text; the control's painting
    // that follows draws its lamp.
    StackSnapshot shot = stack_.snapshot();
    char text[64];
    if (shot.apache != shownApacheState_) {
        shownApacheState_ = shot.apache;
        snprintf(text, sizeof text, "Apache       %-20s", StateName(shot.apache));
        SetPropA(GetDlgItem(handle_, IDC_APACHE_STATUS), LampStateProperty,
                 reinterpret_cast<HANDLE>(static_cast<INT_PTR>(shot.apache) + 1));
        SetDlgItemTextA(handle_, IDC_APACHE_STATUS, text);
    }
    if (shot.mysql != shownMySqlState_) {
        shownMySqlState_ = shot.mysql;
        snprintf(text, sizeof text, "MySql        %-20s", StateName(shot.mysql));
        SetPropA(GetDlgItem(handle_, IDC_MYSQL_STATUS), LampStateProperty,
                 reinterpret_cast<HANDLE>(static_cast<INT_PTR>(shot.mysql) + 1));
        SetDlgItemTextA(handle_, IDC_MYSQL_STATUS, text);
    }
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
    // From here on the stack makes no step of its own.
    stack_.beginQuit();
    if (inPrompt()) {
        // The open prompts end at once; the quit is carried out once they
        // have returned (leavePrompt).
        quitPending_ = true;
        closeOpenPrompts();
        return;
    }
    // Servers still starting: the stack says when (stackQuitDue).
    if (!stack_.quit())
        return;
    quitDone_ = true;
    quitPending_ = false;
    versionFetch_.cancel();
    trayData_.hIcon = trayIcons_[0];
    keepSettingsAtQuit();
    if (trayAdded_) {
        Shell_NotifyIconA(NIM_DELETE, &trayData_);
        trayAdded_ = false;
    }
    PostQuitMessage(0);
}

void ManagerWindow::setExpansion(int position)
{
    if (position < 0 || position > 2)
        return;
    settings_.ExpandPos = position;
    RECT frame;
    GetWindowRect(handle_, &frame);
    SetWindowPos(handle_, settings_.ShowAlways ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0,
                 frame.right - frame.left, ExpansionHeight(position, dialogPixels_), SWP_NOMOVE);
}

void ManagerWindow::scaleBanner()
{
    if (screenDpi_ == 96)
        return;  // the template's pictures are drawn for it
    // Above 96 dpi the banner drawn at 150 %, fitted to the screen (exact
    // at 144 dpi); the line under it stretched to the same width.
    const struct {
        int control;
        UINT picture;
        int width, height;  // of the picture at this dpi
    } pictures[2] = {
        {IDC_BANNER, IDB_BANNER_150, scaled(600), scaled(33)},
        {IDC_BANNER_LINE, IDB_BANNER_LINE, scaled(600), scaled(1)},
    };
    for (int i = 0; i < 2; ++i) {
        HANDLE image = LoadImageA(AppInstance(), MAKEINTRESOURCEA(pictures[i].picture), IMAGE_BITMAP,
                                  pictures[i].width, pictures[i].height, LR_DEFAULTCOLOR);
        if (!image)
            continue;
        HWND control = GetDlgItem(handle_, pictures[i].control);
        HGDIOBJ old = reinterpret_cast<HGDIOBJ>(
            SendMessageA(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(image)));
        if (old && old != image)
            DeleteObject(old);
        bannerImages_[i] = image;
    }
}

void ManagerWindow::setPinImage()
{
    SetButtonImage(GetDlgItem(handle_, IDC_PIN), settings_.ShowAlways ? IDB_PIN_ON : IDB_PIN_OFF);
}

void ManagerWindow::togglePin()
{
    settings_.ShowAlways = !settings_.ShowAlways;
    SetWindowPos(handle_, settings_.ShowAlways ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
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
    if (quitArrived())
        return promptAnswerWithoutAsking(type);
    enterPrompt();
    int answer = MessageBoxA(handle_, text, caption_, type);
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

bool ManagerWindow::quitArrived() const
{
    return quitPending_ || quitDone_ || stack_.quitting();
}

void ManagerWindow::logKitFolder()
{
    char lines[3][LogTailLineSize];
    int count = ExplainKitFolder(GetInstallDir(), lines, 3);
    for (int i = 0; i < count; ++i)
        logEvent(lines[i], SourceManager);
}

void ManagerWindow::stackChanged()
{
    // Apply waits while the services are installed or removed.
    EnableWindow(GetDlgItem(handle_, IDC_APPLY), !stack_.snapshot().switching);
    drawStatus();
    refreshTray(stack_.started());
}

void ManagerWindow::stackLog(const char* text, EventSource source)
{
    logEvent(text, source);
}

int ManagerWindow::stackAsk(const StackQuestion& question)
{
    int answer = prompt(question.text, question.type);
    // A quit that came meanwhile answers for the user.
    if (quitArrived())
        return promptAnswerWithoutAsking(question.type);
    if (answer == IDYES && question.commandOnYes)
        PostMessageA(handle_, WM_COMMAND, question.commandOnYes, 0);
    return answer;
}

void ManagerWindow::stackServicesChanged(bool services)
{
    settings_.StartAsServices = services;
    CheckDlgButton(handle_, IDC_START_AS_SERVICES, services ? BST_CHECKED : BST_UNCHECKED);
    onServicesToggled();
}

void ManagerWindow::stackQuitDue()
{
    quitManager();
}
