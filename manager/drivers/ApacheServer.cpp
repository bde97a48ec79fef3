// The Apache driver: command lines of apache.exe, the Port line of
// httpd.conf and the syntax test through chkap.bat and chkap.txt.
#include "ApacheServer.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ApachePort.h"
#include "InstallDir.h"
#include "ServiceControl.h"

bool ApacheServer::checkBusy_ = false;
char ApacheServer::checkOutput_[apacheCheckOutputSize + 1];
DWORD ApacheServer::helpers_[ApacheServer::helperCount];
int ApacheServer::nextHelper_;

namespace {

// Command lines of start, stop and restart: at most 359 characters.
const int controlLineSize = 360;
// The syntax-test command written into the batch file: at most 519.
const int checkLineSize = 520;
// The syntax test polls its output file this often, this long apart.
const int checkAttempts = 3;
const DWORD checkWaitMs = 300;
// Shorter output does not count as an answer yet.
const size_t checkMinimumBytes = 10;
// A running program is taken for Apache only by one of these file names.
const char* const serverNames[] = {"apache.exe"};

}  // namespace

ApacheServer::ApacheServer() : Server("Apache")
{
    snprintf(directory_, sizeof directory_, "%sApache\\", GetInstallDir());
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%sconf\\httpd.conf", directory_);
    setConfigPath(path);
    ssl_ = false;
    port_ = 80;
    adoptExclusion_.helpers = helpers_;
    adoptExclusion_.helperCount = helperCount;
    adoptNames_ = serverNames;
    adoptNameCount_ = sizeof serverNames / sizeof serverNames[0];
    lstrcpynA(adoptFolder_, directory_, sizeof adoptFolder_);
    reloadConfig();
}

void ApacheServer::rememberHelper(DWORD pid)
{
    if (!pid)
        return;
    helpers_[nextHelper_] = pid;
    nextHelper_ = (nextHelper_ + 1) % helperCount;
}

DWORD ApacheServer::startProcess()
{
    if (!checkConfig())
        return 1;
    char line[controlLineSize];
    snprintf(line, sizeof line, ssl_ ? "%sapache.exe -k start -D SSL" : "%sapache.exe -k start", directory_);
    return launchHidden(line, "Apache2", directory_, &process_);
}

DWORD ApacheServer::stopProcess()
{
    if (!checkConfig())
        return 1;
    char line[controlLineSize];
    snprintf(line, sizeof line, "%sapache.exe  -k shutdown", directory_);
    PROCESS_INFORMATION helper;
    ZeroMemory(&helper, sizeof helper);
    DWORD code = launchHidden(line, "Stopping Apache", directory_, &helper);
    rememberHelper(helper.dwProcessId);
    return code;
}

DWORD ApacheServer::restart()
{
    if (serviceMode_) {
        ServiceControl::stopService(service_);
        restartPending_ = true;
        return 0;
    }

    char line[controlLineSize];
    snprintf(line, sizeof line, "%sapache.exe -k restart", directory_);
    if (!ServiceControl::isWindowsXp()) {
        PROCESS_INFORMATION helper;
        ZeroMemory(&helper, sizeof helper);
        DWORD code = launchHidden(line, "Restarting Apache", directory_, &helper);
        rememberHelper(helper.dwProcessId);
        return code == 0;
    }

    // On Windows XP the restart runs without any console, in a process
    // group of its own. The program is named by its full path, since an
    // application name is neither searched for nor given an extension.
    char program[MAX_PATH];
    snprintf(program, sizeof program, "%sapache.exe", directory_);
    STARTUPINFOA startup;
    hiddenStartup(&startup, "Restarting Apache");
    PROCESS_INFORMATION created;
    ZeroMemory(&created, sizeof created);
    if (!CreateProcessA(program, line, nullptr, nullptr, FALSE, CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP,
                        nullptr, directory_, &startup, &created))
        return 0;
    CloseHandle(created.hThread);
    CloseHandle(created.hProcess);
    rememberHelper(created.dwProcessId);
    return 1;
}

bool ApacheServer::installService()
{
    char line[MAX_PATH];
    snprintf(line, sizeof line, "%sapache.exe -k install", directory_);
    return installWith(line);
}

bool ApacheServer::uninstallService()
{
    char line[MAX_PATH];
    snprintf(line, sizeof line, "%sapache.exe -k uninstall", directory_);
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
        if (ReadApachePort(text, length, &port))
            port_ = port;
        free(text);
    }
    fclose(file);
    return 0;
}

bool ApacheServer::checkConfig()
{
    if (checkBusy_)
        return false;

    // Without apache.exe no verdict can be had; running the batch file
    // would only bring back the command interpreter's complaint about the
    // missing program, which is no configuration error. The launch that
    // follows reports the missing file itself.
    char program[MAX_PATH];
    snprintf(program, sizeof program, "%sApache.exe", directory_);
    if (GetFileAttributesA(program) == INVALID_FILE_ATTRIBUTES)
        return true;

    checkBusy_ = true;

    char outputPath[MAX_PATH];
    char command[checkLineSize];
    char batchPath[MAX_PATH];
    snprintf(outputPath, sizeof outputPath, "%schkap.txt", directory_);
    snprintf(command, sizeof command, "%sApache.exe -t 2> %s", directory_, outputPath);
    snprintf(batchPath, sizeof batchPath, "%schkap.bat", directory_);

    // An output file left by an earlier check (one that could not be
    // deleted) must not be taken for this check's answer.
    DeleteFileA(outputPath);

    FILE* batch = fopen(batchPath, "w");
    if (batch) {
        fprintf(batch, "%s\n", command);
        fclose(batch);
    }
    // Launched as WinExec would, but keeping the command interpreter's id:
    // its child is the syntax test, which a start must not mistake for a
    // running Apache. Where CreateProcessA takes no batch file, WinExec
    // runs it all the same.
    DWORD interpreter = runHiddenProcess(batchPath);
    if (interpreter)
        rememberHelper(interpreter);
    else
        runHidden(batchPath);

    // Without a definite answer the configuration counts as valid.
    bool valid = true;
    for (int attempt = 0; attempt < checkAttempts; ++attempt) {
        Sleep(checkWaitMs);
        FILE* output = fopen(outputPath, "r");
        if (!output)
            continue;
        size_t got = fread(checkOutput_, 1, apacheCheckOutputSize, output);
        checkOutput_[got] = '\0';
        if (got < checkMinimumBytes) {
            fclose(output);
            continue;
        }
        char* lastLineFeed = strrchr(checkOutput_, '\n');
        if (lastLineFeed)
            *lastLineFeed = '\0';
        valid = strstr(checkOutput_, "Syntax OK") != nullptr;
        fclose(output);
        break;
    }

    DeleteFileA(outputPath);
    DeleteFileA(batchPath);

    if (!valid && notifyWindow_)
        SendMessageA(notifyWindow_, messageId_, ConfigError, (LPARAM)checkOutput_);

    checkBusy_ = false;
    return valid;
}
