// Localized texts of the manager, fetched by id from its string table.
#pragma once

#include <windows.h>
#include <stddef.h>

// Longest text LoadText hands out, in characters (the buffer has one more
// byte for the terminator).
const int MaxTextLength = 254;

// The text of id in the language the system's resource loader picks for the
// user (French, Italian, else English), in the ANSI code page. An id without
// text in that language gives an empty text. The buffer belongs to LoadText
// and stays valid for 8 further calls; copy a text kept longer.
const char* LoadText(UINT id);

// The text of id copied into out, cut to size - 1 characters.
void CopyText(char* out, size_t size, UINT id);

// The text of id taken as a printf format and filled in with the
// arguments into out, cut to size - 1 characters.
void FormatText(char* out, size_t size, UINT id, ...);
