// The manager window in the test process, on a kit of the stand-ins: the
// install path points at the kit for the whole test program (the manager
// resolves it once per process), each test writes the settings it wants,
// and message boxes are answered from a watcher thread.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "KitLayout.h"
#include "ManagerWindow.h"

// Answers every message box of this process: records its text and presses
// the button answer() picks (IDYES, IDNO, IDOK...); hook() runs first, on
// the watcher thread, for a test that acts while the box is open.
class PromptWatcher {
public:
    PromptWatcher();
    ~PromptWatcher();
    std::vector<std::string> texts();
    std::function<int(const std::string&)> answer;
    std::function<void(const std::string&)> hook;

private:
    void run();
    std::mutex lock;
    std::vector<std::string> seen;
    std::vector<HWND> answered;
    bool stop = false;
    std::thread thread;
};

// An item of the tray menu as it is shown (0xFFFFFFFF: a popup).
struct MenuItem {
    std::string text;
    UINT id;
    bool grey;
    bool isDefault;
};

// Opens the tray menu with a right click on the icon, reads it from its
// "#32768" window on another thread, runs between(), closes the menu and
// returns its items.
std::vector<MenuItem> OpenTrayMenu(HWND manager, const std::function<void()>& between = nullptr);

class AppTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void TearDown() override;

    // Writes <kit>Tarvane.ini: the [Tarvane] keys given, with AutoStartServers
    // N, ShowAlways Y and ExpandPos 1 unless overridden.
    void WriteSettings(const std::vector<std::pair<const char*, const char*>>& keys = {});
    std::string ReadSetting(const char* key);
    // Builds the window; the settings file is read then.
    ManagerWindow* Open();
    void Close();  // destroys the window (saving the settings)

    // The window's log lines, and the log file's lines.
    std::vector<std::string> ListLines();
    std::vector<std::string> FileLines();
    int CountLines(const std::string& text);  // in the list
    bool WaitStates(ServerState apache, ServerState mysql, DWORD ms = 15000);
    // Whether something accepts connections on 127.0.0.1:port.
    static bool Serving(int port);
    // Ends the newest stand-in process of that program (a crash).
    bool Kill(const char* program);

    static testkit::KitLayout* kit;
    std::unique_ptr<ManagerWindow> window;
    PromptWatcher prompts;
};
