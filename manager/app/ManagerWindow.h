// The manager's one window: a modeless dialog without a title bar that
// owns the two server drivers, the settings and the tray icon, shows the
// servers' state, the settings page and the event log, and performs every
// command of the manager.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "ApacheServer.h"
#include "DialogWindow.h"
#include "MySqlServer.h"
#include "ServiceJob.h"
#include "Settings.h"
#include "VersionCheck.h"

// Source of an event-log line; each label is 7 characters wide.
enum EventSource {
    SourceManager = 0,
    SourceMySql = 1,
    SourceApache = 2,
};

// The display name of a server state (for the status texts).
const char* stateName(int state);

// Formats one event line "dd/mm hh:mm:ss <label>: <message>" from a UTC
// time into out (at most size - 1 characters, cut there).
void formatEventLine(char* out, size_t size, const SYSTEMTIME& utc, EventSource source,
                     const char* message);

// Scans a writable command line in place and posts one WM_COMMAND per
// command word ("/start", "/stop", "/restart", "/quit", "/browse") to
// window, in the order found; returns how many. Nothing when window is
// null.
int dispatchCommandWords(char* text, HWND window);

// A further start: its command words go to the running manager's window;
// without any, the window is shown and brought forward.
void forwardToRunningManager(char* text, HWND window);

// The start-up of the manager process: the single-instance mutex, the
// window and its message loop (or, in a further start, the words handed
// on). Returns the exit code, 0.
int RunManager(HINSTANCE instance, char* commandLine);

// The text shown when the window cannot be created, naming the system's
// error.
void formatWindowFailure(char* out, size_t size, DWORD error);

// Finds the running manager's window: a dialog titled "Tarvane" that
// carries the manager's window property. Null when there is none.
HWND FindManagerWindow();

// The outer window height for a position of the size slider (0 to 2) when
// the window's 238 dialog units of height are dialogHeight pixels (82, 305
// and 393 pixels at 387, as MS Sans Serif 8 lays them out at 96 dpi); 0 for
// any other position.
int ExpansionHeight(int position, int dialogHeight);

// Window timers.
const UINT_PTR StatusTimer = 1;        // every 500 ms
const UINT_PTR StartupCheckTimer = 2;  // once, right after start-up
// Notifications of the tray icon.
const UINT TrayCallbackMessage = WM_USER + 1;
// The version check's thread reports its result (see VersionFetch).
const UINT VersionCheckMessage = WM_APP + 1;
// The service switch's thread reports its result (see ServiceJob).
const UINT ServiceSwitchMessage = WM_APP + 2;
// The window property by which a second start finds the manager.
extern const char ManagerWindowProperty[];

class ManagerWindow : public DialogWindow {
public:
    // Builds the drivers and the settings and creates the hidden (or, with
    // ShowAlways, shown) dialog.
    explicit ManagerWindow(HWND parent);

    INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL onInitDialog() override;
    ~ManagerWindow() override;
    virtual bool onCommand(WPARAM id);

    // Window.
    void drawStatus();
    void bringToFront();
    void hideWindow();
    void quitManager();
    void setExpansion(int position);
    void togglePin();
    void enterContextHelp();

    // Tray icon and menu.
    void addTrayIcon();
    void refreshTray();
    void showTrayMenu();

    // Event log.
    void logEvent(const char* message, EventSource source);

    // Settings page.
    void loadSettingsPage();
    void storeSettingsPage();
    void applySettings();
    void onServicesToggled();
    void onExpertToggled();
    void showFieldHelp(const HELPINFO* info);

    // Orchestration of the two servers.
    void startAll();
    void stopAll();
    void toggleServers();
    void restartAll();
    // statusTick: called on the status timer (restarts wait for it).
    void superviseServers(bool statusTick = true);
    // A MySQL stop that has not ended mySqlStopLimitMs after the request:
    // logged, and the user asked whether to end the process (once a stop).
    void watchMySqlStop();
    // How long a MySQL stop may take before the user is told.
    DWORD mySqlStopLimitMs = 30000;
    // Installs or removes both services as StartAsServices says, on a
    // thread of its own (ServiceJob); once it has posted its result the
    // mode changes only when both worked, otherwise what was done has been
    // undone, the option goes back and the user is told.
    void switchServiceMode();
    // True while the switch's commands run.
    bool switchingServices() const { return serviceJob_.running(); }
    void onServerNotification(Server* server, WPARAM code, LPARAM lParam);
    // A server's state changed, or the status timer is due: the supervision
    // step, the status texts and the tray, in this order.
    void onStackChanged(bool statusTick);

    // Version check (on demand and after start-up): the fetch runs on its
    // own thread; its result comes back as VersionCheckMessage.
    void CheckForNewVersion();
    void onVersionFetched(WPARAM found, LPARAM fetch);

    // Fields, in this order.
    char caption[100];
    NOTIFYICONDATAA trayData;
    HICON trayIcons[4];
    MySqlServer mysql;
    ApacheServer apache;
    ManagerSettings settings;
    bool serversStarted;
    bool serviceSwitchPending;
    char phpConfigPath[MAX_PATH];

    // True while a prompt, a dialog or the tray menu runs its own loop.
    bool inPrompt() const { return promptDepth_ > 0; }
    // A quit that came while a prompt was open, waiting for it to close.
    bool quitPending() const { return quitPending_; }
    // The quit was carried out (the message loop is told to end).
    bool hasQuit() const { return quitDone_; }

private:
    // Shows a message box owned by the window, titled with the caption;
    // a quit that arrives meanwhile closes it (as No or Cancel) and is
    // carried out afterwards. Once a quit has come nothing is asked: the
    // answer is No, Cancel or OK.
    int prompt(const char* text, UINT type);
    static int promptAnswerWithoutAsking(UINT type);

    // Quit paths (QuitPaths.cpp).
    // Ends the tray menu and every message box and dialog of the thread
    // (as if answered No, or Cancel).
    void closeOpenPrompts();
    // Commands that arrive after a quit are dropped.
    bool ignoresCommand(WPARAM id) const;
    // True when the quit waits for a server that is still starting (at
    // most 10 s); checkDeferredQuit, on the status tick, carries it out.
    bool deferQuitForStartingServers();
    void checkDeferredQuit();
    // WM_ENDSESSION: no prompt, MySQL asked to stop first, Apache stopped
    // without its syntax test, a bounded wait, settings saved, loop ended.
    void endSession();
    void stopForSessionEnd();
    // WM_QUERYENDSESSION: while servers run as programs, Windows is told
    // why the manager holds the session's end a moment (their clean
    // shutdown); the reason goes once they are stopped.
    void holdSessionEnd(bool hold);
    bool sessionHeld_;
    // The switch's result: the drivers take up their services, and the
    // mode changes or the option goes back.
    void onServiceSwitchDone(LPARAM job);
    void finishServiceSwitch(bool services, ServiceStep steps[2]);
    // The settings page and the service option as they are kept at a quit.
    void keepSettingsAtQuit();
    // After a prompt: true when a quit came meanwhile; the quit is then
    // carried out from the message loop and the caller must stop.
    bool quitArrived();
    void enterPrompt() { ++promptDepth_; }
    void leavePrompt();
    // Writes the tray record with NIM_MODIFY, adding the icon again when
    // the shell no longer knows it.
    void updateTray();
    // Sets the pin button's image (165 pinned, 164 not), freeing the old.
    void setPinImage();
    // Above 96 dpi: the banner and its line as drawn for the screen.
    void scaleBanner();
    // Apache's start, with the message the user needs when it failed.
    void startApache();
    // The lines that tell why a server did not come up or ended.
    void explainPortHolder();
    void logErrorTail(Server* server);
    void showAbout();

    // The commands of the window, whatever their source (buttons, the tray
    // menu, keys, command words): what each runs, and when it is enabled.
    // A command that is not enabled does nothing, and the tray menu shows
    // it greyed.
    enum CommandWhen {
        Always,
        WhileStarted,     // serversStarted
        WhileNotStarted,  // serversStarted false
        WhileSettled,     // started, or both servers Stopped
    };
    struct Command {
        WPARAM id;
        void (*run)(ManagerWindow& window);
        CommandWhen when;
    };
    static const Command commands[];
    bool commandEnabled(CommandWhen when) const;
    // Start, stop, restart and Apply wait while the service switch runs.
    bool commandAllowed(const Command& command) const;
    // Greys the tray menu's items of the commands that are not enabled.
    void greyMenu(HMENU menu) const;

    VersionFetch versionFetch_;
    ServiceJob serviceJob_;
    int promptDepth_;
    bool quitAfterStart_;
    DWORD quitRequestedAt_;
    bool quitPending_;
    bool quitDone_;
    bool trayAdded_;
    UINT taskbarCreatedMessage_;
    // What the tray shows (icon and tooltip) as last handed to the shell.
    HICON trayShownIcon_;
    char trayShownTip_[64];
    HANDLE bannerImages_[2];
    // The fields whose F1 help tooltip exists (one bit each).
    unsigned fieldTips_;
};
