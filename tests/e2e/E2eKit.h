// Tarvane.exe on a kit of the stand-ins, driven and watched only from
// outside, as a user (or a script) meets it: command words given to a
// further start, function keys, the tray callback and its menu, clicks on
// the window's controls; the status texts, Tarvane.log, the manager's
// message boxes, the stand-ins' processes and the web page they serve.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "KitLayout.h"

namespace e2e {

using Keys = std::vector<std::pair<const char*, const char*>>;

class ManagerRun {
public:
    // Lays out the kit with Tarvane.exe and Morvex.exe in its root, a page
    // www\index.html, and Tarvane.ini with AutoStartServers=N, ShowAlways=Y,
    // ExpandPos=2 and then `keys`. The install directory is the program's
    // folder: the registry key of the manager is removed. `apache` picks
    // the kit's Apache layout; mysqlds and mysqladmin choose the stand-ins
    // of MySQL's bin folder (KitLayout).
    explicit ManagerRun(const char* tag, const Keys& keys = {}, testkit::KitApache apache = testkit::KitApache13,
                        unsigned mysqlds = testkit::KitAllMysqlds, bool mysqladmin = true);
    // Quits a manager still running, then the kit removes its services,
    // ends its stand-ins and goes.
    ~ManagerRun();
    bool ok() const { return laidOut; }

    // Starts the first manager and waits for its window; null on failure.
    // With the shipped manager in place (useShipped) where it cannot run
    // (no 32-bit code here), this tree's build is put back and started.
    HWND launch(const char* words = "");
    // Puts the 32-bit manager as it ships (TARVANE_SHIPPED_MANAGER) in
    // place of this tree's build.
    void useShipped();
    const char* manager() const { return shipped ? "32-bit Tarvane.exe as it ships" : "64-bit Tarvane.exe"; }
    // A further start with words; true when it ended with exit code 0.
    bool run(const char* words);
    // The manager process has ended within ms.
    bool ended(DWORD ms);

    // A press of a function key, as the window's thread receives it.
    void key(WPARAM vk);
    // Right click on the tray icon (the callback message), then one access
    // key per menu level (e.g. "ce": "&Configuration", "Php &Extension").
    bool pickFromMenu(const char* accessKeys);
    // A click on a control of the window (BM_CLICK).
    void click(int control);
    std::string text(int control);
    // Both status texts show the state word ("Started", "Stopped").
    bool waitStatus(const char* word, DWORD ms = 20000);

    // Tarvane.log.
    std::string log();
    int logCount(const std::string& text);
    bool waitLog(const std::string& text, int count, DWORD ms = 10000);

    // Stand-ins of the kit still running, "name pid" each.
    std::vector<std::string> liveStandIns();
    bool waitNoStandIns(DWORD ms = 15000);
    // The kit's server program (apache.exe, mysqld-nt.exe) ended by force.
    bool kill(const char* program);

    testkit::KitLayout kit;
    std::string exe;
    HANDLE process = nullptr;
    DWORD pid = 0;
    HWND window = nullptr;
    bool shipped = false;

private:
    bool laidOut;
};

// GET http://127.0.0.1:port/path over a plain socket: the status code and
// the body; firstByteAt, when given, NowMs() when the answer's first byte
// came. False when nothing answered.
bool HttpGet(int port, const char* path, int* status, std::string* body, double* firstByteAt = nullptr);

// The body of the kit's index page.
extern const char PageText[];

std::string ComputerName();

// Milliseconds of a steady clock.
double NowMs();

}  // namespace e2e
