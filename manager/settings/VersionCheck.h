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

// Asks the check page for the published version (one read of at most 1024
// bytes of the reply) into out (VersionTextSize bytes). False without a
// connection or without a token in the reply.
bool FetchPublishedVersion(char* out);

// The whole check: fetch the published version and, when it differs from
// the manager's own, ask with a yes/no prompt owned by owner and titled
// caption whether to open the product site. Every failure is silent.
void CheckForNewVersion(HWND owner, const char* caption);
