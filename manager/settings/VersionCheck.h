// Whether the product site publishes another release than this one.
#pragma once

#include <windows.h>

// Room for a version text, terminator included (at most 49 characters).
const int VersionTextSize = 50;

// Host of the product site: the check page "/checktarvane.php3", the FAQ
// and the home page opened by the about dialog and the prompt.
extern const char ProductSiteHost[];

// The product site's home page (its root "/"), e.g. http://www.tarvane.org/.
const char* ProductHomePage();

// "%d.%d.%d.%d" from the product version of the module's file into out
// (VersionTextSize bytes). False and an empty text when the file has no
// version resource.
bool GetVersionString(HMODULE module, char* out);

// The version token of a reply of the check page into out (VersionTextSize
// bytes, cleared first): the reply must begin with "TarvaneVersion="; blanks
// and line breaks after the key are skipped and the token runs to the next
// one, cut to 49 characters. False when there is no token.
bool ParseVersionReply(const char* reply, char* out);

// Orders two dotted version texts by their numbers, part by part (2.10
// after 2.9; a missing part counts as 0, so 2.1 equals 2.1.0.0): negative,
// 0 or positive as a comes before, with or after b.
int CompareVersions(const char* a, const char* b);

// Asks the check page for the published version (one read of at most 1024
// bytes of the reply, never from the cache, each step bounded in time) into
// out (VersionTextSize bytes). False without a connection or without a
// token in the reply.
bool FetchPublishedVersion(char* out);

// When published is newer than the manager's own version, asks with a
// yes/no prompt owned by owner and titled caption whether to open the
// product site, and opens it on yes. True when the prompt was shown.
bool OfferNewVersion(HWND owner, const char* caption, const char* published);

// The fetch on a thread of its own, so that the window, the tray and the
// servers' supervision go on while the site is asked. When it ends, the
// thread posts message to window with wParam 1 when a version was found,
// 0 otherwise, and lParam naming the fetch for result(). The thread
// touches nothing but its own record; cancel (and the destructor) ends a
// request under way and has nothing more posted, without waiting for the
// thread.
class VersionFetch {
public:
    VersionFetch();
    ~VersionFetch();
    // False when a fetch is still under way or the thread cannot start.
    bool start(HWND window, UINT message);
    bool running() const;
    void cancel();
    // The published version of the fetch that posted lParam; null for a
    // message of an earlier, cancelled fetch.
    const char* result(LPARAM posted) const;

private:
    struct Job;
    VersionFetch(const VersionFetch&);
    VersionFetch& operator=(const VersionFetch&);
    static DWORD WINAPI run(void* job);
    static void release(Job* job);
    HANDLE thread_;
    Job* job_;
};
