// Command words of the manager's command line.
#include "ManagerWindow.h"

#include <cstring>

#include "resource.h"

namespace {

const struct {
    const char* word;
    WPARAM command;
} commandWords[] = {
    {"start", ID_CMD_START}, {"stop", ID_CMD_STOP},     {"restart", ID_CMD_RESTART},
    {"quit", ID_CMD_QUIT},   {"browse", ID_CMD_BROWSE},
};

// Whole-word comparison, letters without regard to case. (lstrcmpiA would
// ignore hyphens and apostrophes, so "/st-art" would start the servers.)
bool SameWord(const char* text, const char* word)
{
    for (;; ++text, ++word) {
        char a = *text;
        char b = *word;
        if (a >= 'A' && a <= 'Z')
            a = static_cast<char>(a - 'A' + 'a');
        if (a != b)
            return false;
        if (!a)
            return true;
    }
}

}  // namespace

int DispatchCommandWords(char* text, HWND window)
{
    if (!window || !text)
        return 0;
    int posted = 0;
    char* p = text;
    // Once no blank follows p, none ever will: the rest is not searched
    // again on every pass.
    bool blanksLeft = true;
    // Each pass moves p on by at least one character, so the scan ends.
    while (strchr(p, '/')) {
        ++p;
        char* blank = blanksLeft ? strchr(p, ' ') : nullptr;
        blanksLeft = blank != nullptr;
        if (blank)
            *blank = '\0';
        for (const auto& entry : commandWords) {
            if (SameWord(p, entry.word)) {
                PostMessageA(window, WM_COMMAND, entry.command, 0);
                ++posted;
                break;
            }
        }
        if (blank)
            p = blank + 1;
    }
    return posted;
}

void ForwardToRunningManager(char* text, HWND window)
{
    if (!window)
        return;
    // A start without command words is a user looking for the manager: its
    // window comes forward. This process was started by the user, so it
    // may hand the foreground on.
    DWORD manager = 0;
    GetWindowThreadProcessId(window, &manager);
    AllowSetForegroundWindow(manager);
    if (DispatchCommandWords(text, window) == 0)
        PostMessageA(window, WM_COMMAND, ID_CMD_SHOW_WINDOW, 0);
}
