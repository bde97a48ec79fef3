// The manager's one window: a modeless dialog without a title bar that
// shows the stack (the servers' states and lamps, the tray icon, the event
// log), holds the settings page, asks the stack's questions, and routes
// every command of the manager. The stack itself (KitStack) owns the two
// drivers.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "DialogWindow.h"
#include "KitStack.h"
#include "Settings.h"
#include "VersionCheck.h"

// The display name of a server state (for the status texts).
const char* StateName(int state);

// Formats one event line "dd/mm hh:mm:ss <label>: <message>" from a UTC
// time into out (at most size - 1 characters, cut there).
void FormatEventLine(char* out, size_t size, const SYSTEMTIME& utc, EventSource source,
                     const char* message);

// Scans a writable command line in place and posts one WM_COMMAND per
// command word ("/start", "/stop", "/restart", "/quit", "/browse") to
// window, in the order found; returns how many. Nothing when window is
// null.
int DispatchCommandWords(char* text, HWND window);

// A further start: its command words go to the running manager's window;
// without any, the window is shown and brought forward.
void ForwardToRunningManager(char* text, HWND window);

// The start-up of the manager process: the single-instance mutex, the
// window and its message loop (or, in a further start, the words handed
// on). Returns the exit code, 0.
int RunManager(HINSTANCE instance, char* commandLine);

// The text shown when the window cannot be created, naming the system's
// error.
void FormatWindowFailure(char* out, size_t size, DWORD error);

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

class ManagerWindow : public DialogWindow, private StackView {
public:
    // Builds the stack and the settings and creates the hidden (or, with
    // ShowAlways, shown) dialog.
    explicit ManagerWindow(HWND parent);

    INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL onInitDialog() override;
    ~ManagerWindow() override;
    virtual bool onCommand(WPARAM id);

    KitStack& stack() { return stack_; }
    const ManagerSettings& settings() const { return settings_; }
    // The tray record as last written, and the tray's icons by index:
    // 2 x (MySQL runs) + (Apache runs).
    const NOTIFYICONDATAA& tray() const { return trayData_; }
    HICON trayIcon(int index) const { return trayIcons_[index & 3]; }
    // The tray's icon and tooltip for a stack started or not (the blink
    // advances while started); the shell is asked only for a change.
    void refreshTray(bool started);
    void logEvent(const char* message, EventSource source);
    // The quit was carried out (the message loop is told to end).
    bool hasQuit() const { return quitDone_; }

private:
    // What the stack tells its view.
    void stackChanged() override;
    void stackLog(const char* text, EventSource source) override;
    int stackAsk(const StackQuestion& question) override;
    void stackServicesChanged(bool services) override;
    void stackQuitDue() override;

    // Window.
    void drawStatus();
    void bringToFront();
    void hideWindow();
    void quitManager();
    void setExpansion(int position);
    void togglePin();
    void enterContextHelp();
    void addTrayIcon();
    void showTrayMenu();

    // Settings page.
    void loadSettingsPage();
    void storeSettingsPage();
    void applySettings();
    void onServicesToggled();
    void onExpertToggled();
    void showFieldHelp(const HELPINFO* info);

    // Version check (on demand and after start-up): the fetch runs on its
    // own thread; its result comes back as VersionCheckMessage.
    void CheckForNewVersion();
    void onVersionFetched(WPARAM found, LPARAM fetch);

    // True while a prompt, a dialog or the tray menu runs its own loop.
    bool inPrompt() const { return promptDepth_ > 0; }
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
    // WM_ENDSESSION: no prompt, the stack's session end, settings saved,
    // loop ended.
    void endSession();
    // WM_QUERYENDSESSION: while servers run as programs, Windows is told
    // why the manager holds the session's end a moment (their clean
    // shutdown); the reason goes once they are stopped.
    void holdSessionEnd(bool hold);
    bool sessionHeld_;
    // The settings page and the service option as they are kept at a quit.
    void keepSettingsAtQuit();
    // A quit has come (maybe waiting for a prompt or a starting server).
    bool quitArrived() const;
    void enterPrompt() { ++promptDepth_; }
    void leavePrompt();
    // Writes the tray record with NIM_MODIFY, adding the icon again when
    // the shell no longer knows it.
    void updateTray();
    // Sets the pin button's image (165 pinned, 164 not), freeing the old.
    void setPinImage();
    // Above 96 dpi: the banner and its line as drawn for the screen.
    void scaleBanner();
    int scaled(int pixels) const { return MulDiv(pixels, screenDpi_, 96); }
    // Once at start-up: a kit folder some servers cannot use.
    void logKitFolder();
    void showAbout();

    // The commands of the window, whatever their source (buttons, the tray
    // menu, keys, command words): what each runs, and when it is enabled.
    // A command that is not enabled does nothing, and the tray menu shows
    // it greyed.
    enum CommandWhen {
        Always,
        WhileStarted,     // the stack counts as started
        WhileNotStarted,  // it does not
        WhileSettled,     // started, or both servers Stopped
    };
    struct Command {
        WPARAM id;
        void (*run)(ManagerWindow& window);
        CommandWhen when;
    };
    static const Command Commands[];
    bool commandEnabled(CommandWhen when) const;
    // Start, stop, restart and Apply wait while the service switch runs.
    bool commandAllowed(const Command& command) const;
    // Greys the tray menu's items of the commands that are not enabled.
    void greyMenu(HMENU menu) const;

    // Fields, in this order.
    char caption_[100];
    NOTIFYICONDATAA trayData_;
    HICON trayIcons_[4];
    KitStack stack_;
    ManagerSettings settings_;
    char phpConfigPath_[MAX_PATH];

    VersionFetch versionFetch_;
    int promptDepth_;
    bool quitPending_;  // a quit came while a prompt was open
    bool quitDone_;
    bool trayAdded_;
    UINT taskbarCreatedMessage_;
    // What the tray shows (icon and tooltip) as last handed to the shell.
    HICON trayShownIcon_;
    char trayShownTip_[64];
    // Advanced on every status tick while the stack counts as started.
    int blinkCounter_;
    // The states last written into the status texts; -1: never.
    int shownApacheState_;
    int shownMySqlState_;
    // The screen's dots per inch, and the template's height in pixels as
    // this screen and font lay it out.
    int screenDpi_;
    int dialogPixels_;
    HANDLE bannerImages_[2];
    // The fields whose F1 help tooltip exists (one bit each).
    unsigned fieldTips_;
    // The user was told that the log file cannot be written.
    bool logWriteTold_ = false;
};
