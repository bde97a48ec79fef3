#include "VersionCheck.h"

#include <wininet.h>
#include <shellapi.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "DialogWindow.h"
#include "Texts.h"
#include "resource.h"

const char ProductSiteHost[] = "www.tarvane.org";

namespace {

const char* const VersionKey = "TarvaneVersion=";
const char* const Agent = "Tarvane Manager";
const char* const CheckPage = "/checktarvane.php3";
// Only the first chunk of the reply is examined.
const DWORD ReplyChunk = 1024;

bool IsSeparator(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

const char* ProductHomePage()
{
    static char page[128];
    if (page[0] == '\0')
        snprintf(page, sizeof page, "http://%s/", ProductSiteHost);
    return page;
}

bool GetVersionString(HMODULE module, char* out)
{
    out[0] = '\0';
    char file[MAX_PATH];
    DWORD length = GetModuleFileNameA(module, file, sizeof file);
    if (length == 0 || length >= sizeof file)
        return false;

    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(file, &ignored);
    if (size == 0)
        return false;
    void* block = malloc(size);
    if (!block)
        return false;

    bool found = false;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    if (GetFileVersionInfoA(file, 0, size, block) &&
        VerQueryValueA(block, "\\", reinterpret_cast<void**>(&info), &infoSize) && info &&
        infoSize >= sizeof(VS_FIXEDFILEINFO)) {
        snprintf(out, VersionTextSize, "%d.%d.%d.%d", HIWORD(info->dwProductVersionMS),
                 LOWORD(info->dwProductVersionMS), HIWORD(info->dwProductVersionLS),
                 LOWORD(info->dwProductVersionLS));
        found = true;
    }
    free(block);
    return found;
}

// A reply that names the key only further on carries no version: a token is
// taken only from a reply that begins with the key, as the check page sends it.
bool ParseVersionReply(const char* reply, char* out)
{
    out[0] = '\0';
    size_t keyLength = strlen(VersionKey);
    if (strncmp(reply, VersionKey, keyLength) != 0)
        return false;
    const char* token = reply + keyLength;
    while (IsSeparator(*token))
        ++token;
    int length = 0;
    while (token[length] != '\0' && !IsSeparator(token[length]) && length < VersionTextSize - 1) {
        out[length] = token[length];
        ++length;
    }
    out[length] = '\0';
    return length > 0;
}

bool FetchPublishedVersion(char* out)
{
    // One byte beyond the chunk for the terminator of a full read.
    char reply[ReplyChunk + 1];
    memset(reply, 0, sizeof reply);
    out[0] = '\0';

    HINTERNET internet = InternetOpenA(Agent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (!internet)
        return false;
    char url[200];
    snprintf(url, sizeof url, "http://%s%s", ProductSiteHost, CheckPage);
    HINTERNET page = InternetOpenUrlA(internet, url, nullptr, 0, INTERNET_FLAG_RAW_DATA, 0);
    if (!page) {
        InternetCloseHandle(internet);
        return false;
    }

    bool found = false;
    DWORD read = 0;
    if (InternetReadFile(page, reply, ReplyChunk, &read)) {
        reply[read <= ReplyChunk ? read : ReplyChunk] = '\0';
        found = ParseVersionReply(reply, out);
    }
    InternetCloseHandle(page);
    InternetCloseHandle(internet);
    return found;
}

void CheckForNewVersion(HWND owner, const char* caption)
{
    HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    char published[VersionTextSize];
    bool fetched = FetchPublishedVersion(published);
    SetCursor(previous);
    if (!fetched || published[0] == '\0')
        return;

    // Without a version of its own the manager cannot tell a new release:
    // it says nothing rather than prompting at every check.
    char own[VersionTextSize];
    if (!GetVersionString(AppInstance(), own) || own[0] == '\0')
        return;
    if (strcmp(published, own) == 0)
        return;

    char prompt[MaxTextLength + 1];
    snprintf(prompt, sizeof prompt, LoadText(IDS_NEW_VERSION), published);
    if (MessageBoxA(owner, prompt, caption, MB_YESNO | MB_ICONINFORMATION) == IDYES)
        ShellExecuteA(nullptr, "open", ProductHomePage(), nullptr, nullptr, SW_SHOW);
}
