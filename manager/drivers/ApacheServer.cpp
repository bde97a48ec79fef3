// The Apache driver: the program of the kit's layout (apache.exe or
// bin\httpd.exe), its command lines, the port of httpd.conf and the syntax
// test through chkap.bat and chkap.txt.
#include "ApacheServer.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ApachePort.h"
#include "InstallDir.h"
#include "ServiceControl.h"

char ApacheServer::checkOutput_[apacheCheckOutputSize + 1];

namespace {

// Command lines of start and stop: at most 359 characters.
const int controlLineSize = 360;
// The syntax-test command written into the batch file: at most 519.
const int checkLineSize = 520;
// The syntax test is given this long to end; its output is then read once.
// (Without its process to wait for, the file is looked at this often, this
// long apart.)
const DWORD checkLimitMs = 900;
const int checkAttempts = 3;
const DWORD checkWaitMs = 300;
// Shorter output does not count as an answer yet.
const size_t checkMinimumBytes = 10;
// A running program is taken for Apache only by one of these file names.
const char* const serverNames[] = {"apache.exe", "httpd.exe"};

// A path as it stands in a command line: in double quotes when it holds a
// blank or a character the command interpreter gives a meaning of its own
// (the syntax test runs through a batch file); bare otherwise, so that a
// kit in a folder of short names gets the command lines Apache 1.3 always
// got.
void CommandPath(char* out, size_t size, const char* path)
{
    snprintf(out, size, strpbrk(path, " \t&()[]{}^=;!'+,") ? "\"%s\"" : "%s", path);
}

}  // namespace

bool ApacheServer::readCheckOutput(const char* path, bool* valid)
{
    FILE* output = fopen(path, "r");
    if (!output)
        return false;
    size_t got = fread(checkOutput_, 1, apacheCheckOutputSize, output);
    checkOutput_[got] = '\0';
    fclose(output);
    if (got < checkMinimumBytes)
        return false;
    char* lastLineFeed = strrchr(checkOutput_, '\n');
    if (lastLineFeed)
        *lastLineFeed = '\0';
    *valid = strstr(checkOutput_, "Syntax OK") != nullptr;
    return true;
}

ApacheServer::ApacheServer() : Server("Apache")
{
    snprintf(directory_, sizeof directory_, "%sApache\\", GetInstallDir());
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
    stopRefused_ = false;
    configError_[0] = '\0';
    ZeroMemory(&stopRefusedAt_, sizeof stopRefusedAt_);
    port_ = 80;
    adoptNames_ = serverNames;
    adoptNameCount_ = sizeof serverNames / sizeof serverNames[0];
    lstrcpynA(adoptFolder_, directory_, sizeof adoptFolder_);
    reloadConfig();
}

DWORD ApacheServer::launch(char* cmdLine, const char* title, PROCESS_INFORMATION* record)
{
    STARTUPINFOA startup;
    hiddenStartup(&startup, title);
    PROCESS_INFORMATION created;
    ZeroMemory(&created, sizeof created);
    if (!CreateProcessA(executable_, cmdLine, nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, directory_,
                        &startup, &created))
        return GetLastError();
    CloseHandle(created.hThread);
    created.hThread = nullptr;
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
    char line[controlLineSize];
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
    if (!ServiceControl::fileWriteTime(configPath_, &now) || CompareFileTime(&now, &stopRefusedAt_) == 0)
        return true;
    stopRefused_ = false;
    return false;
}

DWORD ApacheServer::stopProcess()
{
    if (stopRefusedLately())
        return 1;
    if (!checkConfig()) {
        stopRefused_ = true;
        if (!ServiceControl::fileWriteTime(configPath_, &stopRefusedAt_))
            ZeroMemory(&stopRefusedAt_, sizeof stopRefusedAt_);
        return 1;
    }
    return shutdownUnchecked();
}

DWORD ApacheServer::shutdownUnchecked()
{
    char program[MAX_PATH + 2];
    CommandPath(program, sizeof program, executable_);
    char line[controlLineSize];
    snprintf(line, sizeof line, "%s  -k shutdown", program);
    return launchHelper(line, "Stopping Apache");
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
        if (ReadApacheWebPort(text, length, &port))
            port_ = port;
        free(text);
    }
    fclose(file);
    return 0;
}

bool ApacheServer::checkConfig()
{
    // Without the program no verdict can be had; running the batch file
    // would only bring back the command interpreter's complaint about the
    // missing program, which is no configuration error. The launch that
    // follows reports the missing file itself.
    if (GetFileAttributesA(executable_) == INVALID_FILE_ATTRIBUTES)
        return true;

    // Apache 1.3's test has always been written "Apache.exe".
    char program[MAX_PATH];
    if (httpd_)
        snprintf(program, sizeof program, "%s", executable_);
    else
        snprintf(program, sizeof program, "%sApache.exe", directory_);
    char outputPath[MAX_PATH];
    char batchPath[MAX_PATH];
    snprintf(outputPath, sizeof outputPath, "%schkap.txt", directory_);
    snprintf(batchPath, sizeof batchPath, "%schkap.bat", directory_);
    char quotedProgram[MAX_PATH + 2];
    char quotedOutput[MAX_PATH + 2];
    char quotedBatch[MAX_PATH + 2];
    CommandPath(quotedProgram, sizeof quotedProgram, program);
    CommandPath(quotedOutput, sizeof quotedOutput, outputPath);
    CommandPath(quotedBatch, sizeof quotedBatch, batchPath);
    char command[checkLineSize];
    snprintf(command, sizeof command, "%s -t 2> %s", quotedProgram, quotedOutput);

    // An output file left by an earlier check (one that could not be
    // deleted) must not be taken for this check's answer.
    DeleteFileA(outputPath);

    FILE* batch = fopen(batchPath, "w");
    if (batch) {
        fprintf(batch, "%s\n", command);
        fclose(batch);
    }
    // Launched as WinExec would, but keeping the command interpreter: its
    // end is awaited, and its child is the syntax test, which a start must
    // not mistake for a running Apache. Where CreateProcessA takes no batch
    // file, WinExec runs it all the same, and the output file is looked at
    // until it holds an answer.
    DWORD interpreterId = 0;
    HANDLE interpreter = runHiddenProcess(quotedBatch, &interpreterId);
    rememberHelper(interpreterId);
    if (!interpreter)
        runHidden(quotedBatch);

    // Without a definite answer the configuration counts as valid.
    bool valid = true;
    if (interpreter) {
        // The whole output, once the test has ended (or at the limit).
        WaitForSingleObject(interpreter, checkLimitMs);
        readCheckOutput(outputPath, &valid);
    } else {
        for (int attempt = 0; attempt < checkAttempts; ++attempt) {
            Sleep(checkWaitMs);
            if (readCheckOutput(outputPath, &valid))
                break;
        }
    }
    if (interpreter)
        CloseHandle(interpreter);

    DeleteFileA(outputPath);
    DeleteFileA(batchPath);

    // A configuration that passes ends an earlier refusal to stop.
    if (valid)
        stopRefused_ = false;
    if (!valid) {
        lstrcpynA(configError_, checkOutput_, sizeof configError_);
        if (notifyWindow_)
            PostMessageA(notifyWindow_, messageId_, ConfigError, reinterpret_cast<LPARAM>(configError_));
    }
    return valid;
}
