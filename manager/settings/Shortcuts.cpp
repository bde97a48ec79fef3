#include "Shortcuts.h"

#include <windows.h>
#include <shellapi.h>
#include <cstdio>

#include "InstallDir.h"
#include "Settings.h"
#include "VersionCheck.h"

const char ExtensionEditorTitle[] = "VAV Ozuvuzuded Avedo";

namespace {

const char* const PhpStartSite = "http://www.php-beginners.org/";

// snprintf that tells whether the whole text fitted: a cut path or command
// line would name another file or program.
template <size_t N>
bool Format(char (&out)[N], const char* format, const char* a, const char* b = "")
{
    int length = snprintf(out, N, format, a, b);
    return length >= 0 && static_cast<size_t>(length) < N;
}

void OpenUrl(const char* url)
{
    ShellExecuteA(nullptr, "open", url, nullptr, nullptr, SW_SHOW);
}

// A file of the kit: the install directory followed by a relative path.
void OpenKitFile(const char* relative)
{
    char path[MAX_PATH];
    if (Format(path, "%s%s", GetInstallDir(), relative))
        OpenDocument(path);
}

}  // namespace

void OpenDocument(const char* path)
{
    if (!path)
        return;
    HINSTANCE result = ShellExecuteA(nullptr, "open", path, nullptr, nullptr, SW_SHOW);
    if (reinterpret_cast<INT_PTR>(result) > 32)
        return;
    // No program for the file's type: the text editor every Windows has.
    char command[MAX_PATH];
    if (Format(command, "notepad %s", path))
        WinExec(command, SW_SHOW);
}

void OpenLocalUrl(int port, const char* path)
{
    char url[128];
    snprintf(url, sizeof url, "http://127.0.0.1:%d/%s", port, path);
    OpenUrl(url);
}

void BrowseLocalWeb(bool serversStarted, int port)
{
    if (!serversStarted)
        return;
    char name[MAX_PATH];
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size))
        lstrcpynA(name, "localhost", sizeof name);
    char url[MAX_PATH];
    snprintf(url, sizeof url, "http://%s:%d/", name, port);
    OpenUrl(url);
}

void ShowIntroduction()
{
    OpenKitFile("home\\accueil.html");
}

void OpenFaq()
{
    char url[128];
    snprintf(url, sizeof url, "http://%s/faq.php3", ProductSiteHost);
    OpenUrl(url);
}

void OpenPhpStartSite()
{
    OpenUrl(PhpStartSite);
}

void OpenApacheErrorLog()
{
    OpenKitFile("apache\\logs\\error.log");
}

void OpenApacheAccessLog()
{
    OpenKitFile("apache\\logs\\access.log");
}

void FindMySqlErrorLog(char* path, int size)
{
    snprintf(path, size, "%smysql\\data\\mysql.err", GetInstallDir());
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
        return;
    // The server names it after the host name, which may be longer than
    // the 15 characters of the computer name (Windows 2000 and later).
    typedef BOOL(WINAPI * HostNameFn)(COMPUTER_NAME_FORMAT, LPSTR, LPDWORD);
    HostNameFn hostName =
        reinterpret_cast<HostNameFn>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetComputerNameExA"));
    char name[MAX_PATH];
    DWORD length = sizeof name;
    bool named = hostName && hostName(ComputerNameDnsHostname, name, &length) && name[0];
    length = sizeof name;
    if (named || GetComputerNameA(name, &length))
        snprintf(path, size, "%smysql\\data\\%s.err", GetInstallDir(), name);
}

void OpenMySqlErrorLog()
{
    char path[MAX_PATH];
    FindMySqlErrorLog(path, sizeof path);
    OpenDocument(path);
}

void OpenManagerLog()
{
    OpenKitFile("Tarvane.log");
}

void EditApacheConfig(const char* configPath)
{
    OpenDocument(configPath);
}

void EditMySqlConfig(const char* configPath)
{
    OpenDocument(configPath);
}

void EditPhpConfig(const char* phpConfigPath)
{
    OpenDocument(phpConfigPath);
}

void OpenPhpMyAdmin(int port)
{
    OpenLocalUrl(port, "mysql/");
}

void OpenAdministration(bool serversStarted, int port)
{
    if (serversStarted)
        OpenLocalUrl(port, "home/");
}

void LaunchExtensionEditor(const char* phpConfigPath)
{
    HWND editor = FindWindowA(nullptr, ExtensionEditorTitle);
    if (editor) {
        SetForegroundWindow(editor);
        return;
    }
    // The editor's path is quoted: where short names are switched off the
    // install directory may hold blanks, and an unquoted path would then
    // start nothing, or the program named by its first word.
    char command[520];
    if (Format(command, "\"%sMorvex.exe\" %s", GetInstallDir(), phpConfigPath ? phpConfigPath : ""))
        WinExec(command, SW_SHOW);
}
