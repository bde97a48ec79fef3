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
// Each step of the request (connect, send, receive) gives up after this
// long, so a check without a network ends on its own.
const DWORD StepTimeoutMs = 5000;
// Asked afresh every time: a reply kept in the URL cache could name a
// release that is no longer the published one.
const DWORD OpenFlags = INTERNET_FLAG_RAW_DATA | INTERNET_FLAG_RELOAD |
                        INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;

bool IsSeparator(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// The length of the number that begins at text (a run of digits) and the
// start of its significant digits.
int NumberPart(const char* text, const char** significant)
{
    int length = 0;
    while (text[length] >= '0' && text[length] <= '9')
        ++length;
    int skip = 0;
    while (skip < length && text[skip] == '0')
        ++skip;
    *significant = text + skip;
    return length;
}

// A cancelled fetch: the slot holds this marker, so a fetch that has not
// opened its handle yet does not start.
void* const Cancelled = reinterpret_cast<void*>(1);

// Closes an Internet handle once, whichever of the fetch and a cancel
// comes first.
void CloseShared(void* volatile* slot)
{
    void* handle = InterlockedExchangePointer(slot, Cancelled);
    if (handle && handle != Cancelled)
        InternetCloseHandle(static_cast<HINTERNET>(handle));
}

// The fetch itself; *internetSlot holds the open Internet handle, which a
// cancel from another thread may close at any time.
bool Fetch(void* volatile* internetSlot, char* out)
{
    // One byte beyond the chunk for the terminator of a full read.
    char reply[ReplyChunk + 1];
    memset(reply, 0, sizeof reply);
    out[0] = '\0';

    HINTERNET internet = InternetOpenA(Agent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (!internet)
        return false;
    if (InterlockedCompareExchangePointer(internetSlot, internet, nullptr) != nullptr) {
        InternetCloseHandle(internet);
        return false;
    }
    // The time-outs go on the connection, whose requests take them over
    // (a request opened by URL in one call would keep the client's own).
    bool found = false;
    HINTERNET connection = InternetConnectA(internet, ProductSiteHost, INTERNET_DEFAULT_HTTP_PORT,
                                            nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (connection) {
        DWORD timeout = StepTimeoutMs;
        DWORD retries = 1;
        InternetSetOptionA(connection, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
        InternetSetOptionA(connection, INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof timeout);
        InternetSetOptionA(connection, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
        InternetSetOptionA(connection, INTERNET_OPTION_CONNECT_RETRIES, &retries, sizeof retries);
        HINTERNET page = HttpOpenRequestA(connection, "GET", CheckPage, nullptr, nullptr, nullptr,
                                          OpenFlags, 0);
        if (page) {
            DWORD read = 0;
            if (HttpSendRequestA(page, nullptr, 0, nullptr, 0) &&
                InternetReadFile(page, reply, ReplyChunk, &read)) {
                reply[read <= ReplyChunk ? read : ReplyChunk] = '\0';
                found = ParseVersionReply(reply, out);
            }
            InternetCloseHandle(page);
        }
        InternetCloseHandle(connection);
    }
    CloseShared(internetSlot);
    return found;
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

int CompareVersions(const char* a, const char* b)
{
    while (*a != '\0' || *b != '\0') {
        const char* digitsA;
        const char* digitsB;
        int lengthA = NumberPart(a, &digitsA);
        int lengthB = NumberPart(b, &digitsB);
        int significantA = lengthA - static_cast<int>(digitsA - a);
        int significantB = lengthB - static_cast<int>(digitsB - b);
        if (significantA != significantB)
            return significantA < significantB ? -1 : 1;
        int order = strncmp(digitsA, digitsB, significantA);
        if (order != 0)
            return order < 0 ? -1 : 1;
        a += lengthA;
        b += lengthB;
        // Whatever follows a number up to the next dot is no part of it.
        while (*a != '\0' && *a != '.')
            ++a;
        while (*b != '\0' && *b != '.')
            ++b;
        if (*a == '.')
            ++a;
        if (*b == '.')
            ++b;
    }
    return 0;
}

bool FetchPublishedVersion(char* out)
{
    void* volatile internet = nullptr;
    return Fetch(&internet, out);
}

bool OfferNewVersion(HWND owner, const char* caption, const char* published)
{
    if (published[0] == '\0')
        return false;
    // Without a version of its own the manager cannot tell a new release:
    // it says nothing rather than prompting at every check.
    char own[VersionTextSize];
    if (!GetVersionString(AppInstance(), own) || own[0] == '\0')
        return false;
    if (CompareVersions(published, own) <= 0)
        return false;

    char prompt[MaxTextLength + 1];
    snprintf(prompt, sizeof prompt, LoadText(IDS_NEW_VERSION), published);
    if (MessageBoxA(owner, prompt, caption, MB_YESNO | MB_ICONINFORMATION) == IDYES)
        ShellExecuteA(nullptr, "open", ProductHomePage(), nullptr, nullptr, SW_SHOW);
    return true;
}

// One fetch's state, shared by the thread and the object that started it:
// whichever lets go last frees it, so a thread that outlives its object
// (a quit during a request) writes into nothing freed.
struct VersionFetch::Job {
    volatile LONG references;
    HWND volatile window;
    UINT message;
    void* volatile internet;
    char published[VersionTextSize];
};

void VersionFetch::release(Job* job)
{
    if (job && InterlockedDecrement(&job->references) == 0)
        HeapFree(GetProcessHeap(), 0, job);
}

VersionFetch::VersionFetch() : thread_(nullptr), job_(nullptr) {}

VersionFetch::~VersionFetch()
{
    cancel();
}

bool VersionFetch::start(HWND window, UINT message)
{
    // A fetch that has posted its result is only ending: it is let go.
    if (running() && job_->window)
        return false;
    cancel();
    Job* job = static_cast<Job*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Job)));
    if (!job)
        return false;
    job->references = 2;
    job->window = window;
    job->message = message;
    DWORD id = 0;
    thread_ = CreateThread(nullptr, 0, run, job, 0, &id);
    if (!thread_) {
        HeapFree(GetProcessHeap(), 0, job);
        return false;
    }
    job_ = job;
    return true;
}

bool VersionFetch::running() const
{
    return thread_ && WaitForSingleObject(thread_, 0) != WAIT_OBJECT_0;
}

const char* VersionFetch::result(LPARAM posted) const
{
    return job_ && posted == reinterpret_cast<LPARAM>(job_) ? job_->published : nullptr;
}

void VersionFetch::cancel()
{
    if (!job_)
        return;
    // Nothing is posted any more; closing the Internet handle ends a
    // request under way.
    InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&job_->window), nullptr);
    CloseShared(&job_->internet);
    // Nothing is waited for (the window goes on at once): a name lookup
    // cannot be broken off, and a thread still busy is left to end on its
    // own (or with the process), holding its job.
    CloseHandle(thread_);
    thread_ = nullptr;
    release(job_);
    job_ = nullptr;
}

DWORD WINAPI VersionFetch::run(void* context)
{
    Job* job = static_cast<Job*>(context);
    // Only the fetch runs here: the texts, the log and the windows are
    // the window thread's, which learns the result from the message.
    bool found = Fetch(&job->internet, job->published);
    HWND window = static_cast<HWND>(
        InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&job->window), nullptr));
    if (window)
        PostMessageA(window, job->message, found ? 1 : 0, reinterpret_cast<LPARAM>(job));
    release(job);
    return 0;
}
