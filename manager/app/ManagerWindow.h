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
#include "Settings.h"

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
// window, in the order found. Nothing when window is null.
void dispatchCommandWords(char* text, HWND window);

// Finds the running manager's window: a dialog titled "Tarvane" that
// carries the manager's window property. Null when there is none.
HWND FindManagerWindow();

// Window timers.
const UINT_PTR StatusTimer = 1;        // every 500 ms
const UINT_PTR StartupCheckTimer = 2;  // once, right after start-up
// Notifications of the tray icon.
const UINT TrayCallbackMessage = WM_USER + 1;
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
    void superviseServers();
    // A MySQL stop that has not ended mySqlStopLimitMs after the request:
    // logged, and the user asked whether to end the process (once a stop).
    void watchMySqlStop();
    // How long a MySQL stop may take before the user is told.
    DWORD mySqlStopLimitMs = 30000;
    // Installs or removes both services as StartAsServices says; the mode
    // changes only when both worked, otherwise the option goes back and
    // the user is told.
    void switchServiceMode();
    void onServerNotification(Server* server, WPARAM code, LPARAM lParam);

    // Version check (on demand and after start-up).
    void CheckForNewVersion();

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
    // a quit that arrives meanwhile is kept for afterwards.
    int prompt(const char* text, UINT type);
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
    // Apache's start, with the message the user needs when it failed.
    void startApache();
    // The lines that tell why a server did not come up or ended.
    void explainPortHolder();
    void logErrorTail(Server* server);
    bool stopRefusedLately(Server* server);
    void noteStopResult(Server* server, DWORD result);
    void openShortcut(WPARAM id);
    void showAbout();

    int promptDepth_;
    bool quitPending_;
    bool quitDone_;
    bool trayAdded_;
    UINT taskbarCreatedMessage_;
    // Apache: the configuration write time at the last stop that its
    // configuration check refused (both halves 0: none).
    FILETIME apacheStopRefusedAt_;
    bool apacheStopRefused_;
    // Apache's state at the previous status tick, to see it fail to come up.
    ServerState lastApacheState_;
    bool apacheWasRunning_;
};
