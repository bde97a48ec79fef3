// Helpers shared by the test programs: message pumping with a deadline,
// paths of the build and of Windows, whole-file reads and writes, and
// child processes.
#pragma once

#include <windows.h>
#include <functional>
#include <string>
#include <vector>

namespace testkit {

// Dispatches this thread's messages until cond() holds or timeoutMs has
// passed; returns cond()'s last answer. Timers and posted messages of the
// code under test run inside it.
bool PumpUntil(const std::function<bool()>& cond, DWORD timeoutMs);

// Dispatches messages for the given time (for "nothing happens" checks).
void PumpFor(DWORD ms);

// Sends WM_NULL to a window from a thread of its own, again and again (1 ms
// apart), and keeps the longest time an answer took: a window whose thread
// is busy elsewhere answers only once it reads its messages again.
class AnswerProbe {
public:
    explicit AnswerProbe(HWND window);
    ~AnswerProbe();
    void reset();
    double longestMs() const;

private:
    static DWORD WINAPI run(void* self);
    HWND window_;
    HANDLE thread_;
    volatile LONG stop_ = 0;
    volatile LONG longestUs_ = 0;
};

// Folder of the running test program, with a trailing backslash. Every
// program of the build lands there.
std::string BinDir();

// GetWindowsDirectoryA, no trailing backslash.
std::string WindowsDir();

// A fresh empty folder under %TEMP% for one test, with a trailing backslash.
std::string MakeTempDir(const char* tag);
// Removes a folder and everything below it.
void RemoveTree(const std::string& dir);

bool ReadFileBytes(const std::string& path, std::string* bytes);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

// Starts a program (command line as CreateProcessA takes it, with its
// creation flags); returns the process handle or null. The caller closes it.
HANDLE StartProcess(const std::string& cmdLine, const char* curDir = nullptr, DWORD flags = 0);
// Runs a program to its end; returns false when it did not start or did not
// end within timeoutMs (it is then terminated).
bool RunProcess(const std::string& cmdLine, DWORD* exitCode, DWORD timeoutMs = 20000);
// Runs a copy of program (named copyName, in BinDir) with arguments as if
// on another Windows version ("win98", "win2k", "winxp": Wine's AppDefaults
// key of the copy's name), then removes the copy and the key. True when it
// ran and ended in time; *exitCode gets its exit code.
bool RunAsWindowsVersion(const std::string& program, const std::string& copyName, const char* version,
                         const std::string& arguments, DWORD* exitCode, DWORD timeoutMs = 20000);
// Waits for a process while pumping messages; true when it ended.
bool WaitProcess(HANDLE process, DWORD timeoutMs);
// The process with that id runs (judged by a handle to it, so an id that
// names no process, or 0, gives false).
bool ProcessAlive(DWORD pid);
// Waits (pumping) until the process with that id has ended.
bool WaitProcessGone(DWORD pid, DWORD timeoutMs);
// Terminates the process and waits for its end; true when it ended.
bool EndProcess(HANDLE process, DWORD timeoutMs = 10000);
bool KillProcess(DWORD pid);

// The build's folder for test artefacts (screenshots), created when
// missing, with a trailing backslash.
std::string ArtefactsDir();
// Saves what the screen shows of a window (its whole rectangle) as a 24-bit
// BMP file.
bool SaveScreenshot(HWND window, const std::string& path);

// Message boxes: dialogs (class #32770) of only statics and buttons, the
// message in the static 0xFFFF, visible (another thread's box is whole only
// then; one of the calling thread is, its loop runs). Those of a process
// (pid 0: of every process), with the given title when one is given.
std::vector<HWND> MessageBoxes(DWORD pid, const char* title = nullptr);
std::string MessageBoxText(HWND box);
// Waits (pumping) up to waitMs for such a box and presses its button (IDOK,
// IDYES, IDNO...: WM_COMMAND posted, as a click does). Returns the box, or
// null when none came; *text gets its message ("" when none).
HWND AnswerMessageBox(int button, DWORD pid, const char* title = nullptr, DWORD waitMs = 0,
                      std::string* text = nullptr);

// An environment variable's value ("" when unset or too long).
std::string Env(const char* name);
// Every file below `from` whose name matches `pattern`, into `to` (made
// when missing) as hard links where the file system allows it, copies
// elsewhere; folders too when `deep`. False when one could not be made.
bool LinkTree(const std::string& from, const std::string& to, const char* pattern, bool deep);
// A path in its long form, letters in lower case (for comparing paths).
std::string LongLowerPath(const std::string& path);

}  // namespace testkit
