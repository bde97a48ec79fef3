// Localized texts of a program, fetched by id from the string table of its
// own executable. One helper a file (LoadText.cpp, CopyText.cpp,
// FormatText.cpp): a program links only those it calls.
#pragma once

#include <windows.h>
#include <stddef.h>

// Longest text LoadText hands out, in characters (the buffer has one more
// byte for the terminator).
const int MaxTextLength = 254;

// The text of id copied into out, cut to size - 1 characters: the text in
// the language the system's resource loader picks for the user among the
// program's (the manager's: French, Italian, else English), in the ANSI code
// page. An id without text in that language gives an empty text.
void CopyText(char* out, size_t size, UINT id);

// The text of id (as CopyText, cut to MaxTextLength characters) in a
// buffer that belongs to LoadText and stays valid for 8 further calls; copy
// a text kept longer.
const char* LoadText(UINT id);

// The text of id taken as a printf format and filled in with the
// arguments into out, cut to size - 1 characters.
void FormatText(char* out, size_t size, UINT id, ...);
