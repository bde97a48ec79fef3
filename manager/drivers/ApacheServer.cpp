// The Apache driver: the program of the kit's layout (apache.exe or
// bin\httpd.exe), its command lines or, for 2.x in its console, its
// parent's events, the port of httpd.conf and the syntax test read
// through a pipe.
#include "ApacheServer.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ApachePort.h"
#include "ConsoleCapture.h"
#include "Launch.h"
#include "ServiceControl.h"
#include "System.h"

bool ApacheServer::checkBusy_ = false;

namespace {

// Command lines of start and stop: at most 359 characters.
const int ControlLineSize = 360;
// The syntax test is given this long to end; without its end there is no
// verdict.
const DWORD CheckLimitMs = 10000;
// While it runs, its pipe is read this often.
const DWORD CheckPollMs = 20;
// A running program is taken for Apache only by one of these file names.
const char* const ServerNames[] = {"apache.exe", "httpd.exe"};

// Waits at most ms for `object` while the thread's messages are
// dispatched; true when it is signalled. A quit ends the wait (*quit set)
// and is handed on to the loop that called.
bool PumpWait(HANDLE object, DWORD ms, bool* quit)
{
    if (MsgWaitForMultipleObjects(1, &object, FALSE, ms, QS_ALLINPUT) == WAIT_OBJECT_0)
        return true;
    MSG message;
    while (!*quit && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            *quit = true;
        } else {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return false;
}

// A path as it stands in a command line: in double quotes when it holds a
// blank or a character a command interpreter gives a meaning of its own;
// bare otherwise, so that a kit in a folder of short names gets the
// command lines Apache 1.3 always got.
void CommandPath(char* out, size_t size, const char* path)
{
    snprintf(out, size, strpbrk(path, " \t&()[]{}^=;!'+,") ? "\"%s\"" : "%s", path);
}

}  // namespace

void ApacheCheckOutput::clear()
{
    length = 0;
    text[0] = '\0';
    syntaxOk = false;
    tailLength = 0;
}

void ApacheCheckOutput::add(const char* bytes, size_t count)
{
    static const char verdict[] = "Syntax OK";
    const size_t verdictLength = sizeof verdict - 1;
    for (size_t i = 0; i < count; ++i) {
        char c = bytes[i];
        // The window shows lines ended by LF: a CR before an LF goes.
        if (length > 0 && text[length - 1] == '\r' && c == '\n')
            --length;
        if (length < (size_t)ApacheCheckOutputSize)
            text[length++] = c;
        // The verdict is looked for in everything, kept or not.
        if (tailLength == verdictLength) {
            memmove(tail, tail + 1, verdictLength - 1);
            --tailLength;
        }
        tail[tailLength++] = c;
        if (tailLength == verdictLength && memcmp(tail, verdict, verdictLength) == 0)
            syntaxOk = true;
    }
    text[length] = '\0';
}

void ApacheCheckOutput::finish()
{
    text[length] = '\0';
    char* lastLineFeed = strrchr(text, '\n');
    if (lastLineFeed)
        *lastLineFeed = '\0';
    length = strlen(text);
}

ApacheServer::ApacheServer(const char* kitFolder) : Server("Apache")
{
    snprintf(directory_, sizeof directory_, "%sApache\\", kitFolder ? kitFolder : "");
    // Apache 1.3's layout first, then 2.x's. With neither, apache.exe
    // stays: every launch then fails with "file not found".
    snprintf(executable_, sizeof executable_, "%sbin\\httpd.exe", directory_);
    httpd_ = GetFileAttributesA(executable_) != INVALID_FILE_ATTRIBUTES;
    char oldLayout[MAX_PATH];
    snprintf(oldLayout, sizeof oldLayout, "%sapache.exe", directory_);
    if (!httpd_ || GetFileAttributesA(oldLayout) != INVALID_FILE_ATTRIBUTES) {
        snprintf(executable_, sizeof executable_, "%s", oldLayout);
        httpd_ = false;
    }
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%sconf\\httpd.conf", directory_);
    setConfigPath(path);
    ssl_ = false;
    uncheckedStop_ = false;
    checkLimitMs_ = CheckLimitMs;
    checkOutput_.clear();
    stopRefused_ = false;
    ZeroMemory(&stopRefusedAt_, sizeof stopRefusedAt_);
    port_ = 80;
    adoptNames_ = ServerNames;
    adoptNameCount_ = sizeof ServerNames / sizeof ServerNames[0];
    lstrcpynA(adoptFolder_, directory_, sizeof adoptFolder_);
    reloadConfig();
}

DWORD ApacheServer::launch(char* cmdLine, const char* title, PROCESS_INFORMATION* record)
{
    // What the server (not a helper command) says in its console before its
    // log opens is kept.
    ConsoleCapture capture;
    if (record == &process_)
        capture.prepare();
    HiddenLaunch launch = {executable_, cmdLine, directory_, CREATE_NEW_CONSOLE, title, capture.output(),
                           capture.inherits()};
    PROCESS_INFORMATION created;
    ZeroMemory(&created, sizeof created);
    DWORD error = LaunchHidden(launch, &created.hProcess, &created.dwProcessId);
    if (error)
        return error;
    capture.attach(created.dwProcessId);
    *record = created;
    return 0;
}

DWORD ApacheServer::launchHelper(char* cmdLine, const char* title)
{
    PROCESS_INFORMATION helper;
    ZeroMemory(&helper, sizeof helper);
    DWORD code = launch(cmdLine, title, &helper);
    if (helper.hProcess)
        CloseHandle(helper.hProcess);
    rememberHelper(helper.dwProcessId);
    return code;
}

DWORD ApacheServer::startProcess()
{
    // Checked by start a moment ago, or here when called on its own.
    if (!startChecked_ && !checkConfig())
        return 1;
    char program[MAX_PATH + 2];
    CommandPath(program, sizeof program, executable_);
    // Apache 2.x runs in its console without -k: its "-k start" starts
    // the installed service instead.
    const char* format = httpd_ ? (ssl_ ? "%s -D SSL" : "%s") : (ssl_ ? "%s -k start -D SSL" : "%s -k start");
    char line[ControlLineSize];
    snprintf(line, sizeof line, format, program);
    return launch(line, "Apache2", &process_);
}

bool ApacheServer::stopRefusedLately()
{
    if (!stopRefused_)
        return false;
    FILETIME now;
    // A file that cannot be read just now (being written) counts as
    // unchanged: the write that ends will show.
    if (!FileWriteTime(configPath_, &now) || CompareFileTime(&now, &stopRefusedAt_) == 0)
        return true;
    stopRefused_ = false;
    return false;
}

DWORD ApacheServer::stopProcess()
{
    if (stopRefusedLately())
        return 1;
    // A check turned away because another one runs has shown nothing: it
    // does not count as a refusal.
    bool busy = checkBusy_;
    if (!uncheckedStop_ && !checkConfig()) {
        if (!busy) {
            stopRefused_ = true;
            if (!FileWriteTime(configPath_, &stopRefusedAt_))
                ZeroMemory(&stopRefusedAt_, sizeof stopRefusedAt_);
        }
        return 1;
    }
    return shutdownUnchecked();
}

DWORD ApacheServer::stopWithoutCheck()
{
    uncheckedStop_ = true;
    DWORD code = stop();
    uncheckedStop_ = false;
    return code;
}

DWORD ApacheServer::shutdownUnchecked()
{
    // Apache 2.x's "-k shutdown" is about an installed service (by default
    // another product's "Apache2.4"): a server in its console is asked
    // through its parent's event.
    if (httpd_ && !serviceMode_)
        return signalParent("shutdown");
    // Apache 1.3's "-k shutdown" finds the server by its pid file and
    // sets the same event: a server just started is first given the time
    // to make it.
    if (!httpd_) {
        HANDLE ready = awaitServerEvent(openParentEvent, "shutdown");
        if (ready)
            CloseHandle(ready);
    }
    char program[MAX_PATH + 2];
    CommandPath(program, sizeof program, executable_);
    char line[ControlLineSize];
    snprintf(line, sizeof line, httpd_ ? "%s -k shutdown -n Apache" : "%s  -k shutdown", program);
    return launchHelper(line, "Stopping Apache");
}

HANDLE ApacheServer::openParentEvent(const Server& server, const char* kind)
{
    DWORD pid = static_cast<const ApacheServer&>(server).process_.dwProcessId;
    if (!pid)
        return nullptr;
    char name[48];
    snprintf(name, sizeof name, "ap%lu_%s", static_cast<unsigned long>(pid), kind);
    return OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
}

DWORD ApacheServer::signalParent(const char* kind)
{
    if (!process_.dwProcessId)
        return ERROR_INVALID_PARAMETER;
    HANDLE event = awaitServerEvent(openParentEvent, kind);
    // Still none: the stop is refused, the server stays Running and can be
    // asked again.
    if (!event)
        return ERROR_FILE_NOT_FOUND;
    DWORD code = SetEvent(event) ? 0 : GetLastError();
    CloseHandle(event);
    return code;
}

bool ApacheServer::kitHttpd(DWORD pid, DWORD* parent) const
{
    char name[MAX_PATH];
    char path[MAX_PATH];
    return pid && ServiceControl::processName(pid, name, sizeof name, parent) && _stricmp(name, "httpd.exe") == 0 &&
           ServiceControl::processPath(pid, path, sizeof path) && ServiceControl::pathBelow(path, directory_);
}

DWORD ApacheServer::serverProcessOf(DWORD pid)
{
    if (!httpd_)
        return pid;
    // The parent writes its id into logs\httpd.pid; where that file is
    // elsewhere or stale, the process tree tells: the serving child's
    // parent is an httpd.exe of the kit too.
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%slogs\\httpd.pid", directory_);
    FILE* file = fopen(path, "r");
    unsigned long named = 0;
    if (file) {
        if (fscanf(file, "%lu", &named) != 1)
            named = 0;
        fclose(file);
    }
    if (kitHttpd(named, nullptr))
        return named;
    DWORD parent = 0;
    if (kitHttpd(pid, &parent) && parent != pid && kitHttpd(parent, nullptr))
        return parent;
    return pid;
}

// Apache 2.x names its service "Apache2.4" (after its version) unless
// told otherwise; the driver opens the service "Apache".
void ApacheServer::serviceCommand(bool install, char* line, int size)
{
    char program[MAX_PATH + 2];
    CommandPath(program, sizeof program, executable_);
    if (install)
        snprintf(line, size, httpd_ ? "%s -k install -n Apache" : "%s -k install", program);
    else
        snprintf(line, size, httpd_ ? "%s -k uninstall -n Apache" : "%s -k uninstall", program);
}

bool ApacheServer::installService()
{
    char line[2 * MAX_PATH];
    serviceCommand(true, line, sizeof line);
    return installWith(line);
}

bool ApacheServer::uninstallService()
{
    char line[2 * MAX_PATH];
    serviceCommand(false, line, sizeof line);
    return uninstallWith(line);
}

DWORD ApacheServer::reloadConfig()
{
    // Read only: the port is read, never written, so a read-only httpd.conf
    // must still give its port.
    FILE* file = fopen(configPath_, "rt");
    if (!file)
        return 0;
    // The whole file as text mode reads it (CR LF as LF, Ctrl-Z ends it);
    // its size on disk is enough room.
    long size = fseek(file, 0, SEEK_END) == 0 ? ftell(file) : -1;
    char* text = size >= 0 && fseek(file, 0, SEEK_SET) == 0 ? (char*)malloc((size_t)size + 1) : nullptr;
    if (text) {
        size_t length = fread(text, 1, (size_t)size, file);
        int port = 0;
        if (ReadApacheWebPort(text, length, httpd_, &port))
            port_ = port;
        free(text);
    }
    fclose(file);
    return 0;
}

bool ApacheServer::runSyntaxTest(ApacheCheckOutput* output, bool* quit)
{
    // The test's output and error output go into a pipe whose writing end
    // alone is handed down.
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    HANDLE handedDown = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, nullptr, 0))
        return false;
    HANDLE self = GetCurrentProcess();
    if (!DuplicateHandle(self, writeEnd, self, &handedDown, 0, TRUE, DUPLICATE_SAME_ACCESS | DUPLICATE_CLOSE_SOURCE)) {
        CloseHandle(writeEnd);
        CloseHandle(readEnd);
        return false;
    }

    // Apache 1.3's test has always been written "Apache.exe".
    char program[MAX_PATH];
    if (httpd_)
        snprintf(program, sizeof program, "%s", executable_);
    else
        snprintf(program, sizeof program, "%sApache.exe", directory_);
    char quoted[MAX_PATH + 2];
    CommandPath(quoted, sizeof quoted, program);
    char line[ControlLineSize];
    snprintf(line, sizeof line, "%s -t", quoted);
    HiddenLaunch launch = {executable_, line, directory_, CREATE_NO_WINDOW, nullptr, handedDown, TRUE};
    PROCESS_INFORMATION created;
    ZeroMemory(&created, sizeof created);
    DWORD error = LaunchHidden(launch, &created.hProcess, &created.dwProcessId);
    CloseHandle(handedDown);
    if (error) {
        CloseHandle(readEnd);
        return false;
    }
    rememberHelper(created.dwProcessId);

    // Read as it comes (a full pipe would hold the test up), until the
    // test has ended and its last bytes are in; the window's messages are
    // dispatched meanwhile. A quit ends the wait (and is handed on).
    bool ended = false;
    DWORD started = GetTickCount();
    for (;;) {
        DWORD available = 0;
        char chunk[512];
        DWORD got = 0;
        while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available &&
               ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got)
            output->add(chunk, got);
        DWORD elapsed = GetTickCount() - started;
        if (ended || *quit || elapsed >= checkLimitMs_)
            break;
        // After its end, one more round for its last bytes.
        ended = PumpWait(created.hProcess, checkLimitMs_ - elapsed < CheckPollMs ? checkLimitMs_ - elapsed : CheckPollMs,
                         quit);
    }
    // A test that gave no answer in time is no server: it is ended.
    if (!ended)
        TerminateProcess(created.hProcess, 1);
    CloseHandle(created.hProcess);
    CloseHandle(readEnd);
    output->finish();
    return ended;
}

bool ApacheServer::checkConfig()
{
    if (checkBusy_)
        return false;

    // Without the program no verdict can be had; the launch that follows
    // reports the missing file itself.
    if (GetFileAttributesA(executable_) == INVALID_FILE_ATTRIBUTES)
        return true;

    checkBusy_ = true;
    // Read into a record of its own: the wait dispatches the window's
    // messages, which may ask for another check meanwhile.
    ApacheCheckOutput output;
    output.clear();
    // Without a definite answer the configuration counts as valid.
    bool quit = false;
    bool valid = !runSyntaxTest(&output, &quit) || output.syntaxOk;
    checkBusy_ = false;
    // The program is ending (the session, or a quit while the test ran):
    // nothing is started or stopped after it, and nothing is shown.
    if (quit)
        return false;

    // A configuration that passes ends an earlier refusal to stop.
    if (valid) {
        stopRefused_ = false;
        return true;
    }
    // Posted, never sent: the question is asked once this call has
    // returned, and the text it points to is the driver's own.
    checkOutput_ = output;
    if (notifyWindow_)
        PostMessageA(notifyWindow_, messageId_, ConfigError, reinterpret_cast<LPARAM>(checkOutput_.text));
    return false;
}
