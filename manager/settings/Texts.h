// Localized texts of the manager, fetched by id from its string table.
#pragma once

#include <windows.h>

// Longest text LoadText hands out, in characters (the buffer has one more
// byte for the terminator).
const int MaxTextLength = 254;

// The text of id in the language the system's resource loader picks for the
// user (French, Italian, else English), in the ANSI code page. An id without
// text in that language gives an empty text. The buffer belongs to LoadText
// and stays valid for 8 further calls; copy a text kept longer.
const char* LoadText(UINT id);
