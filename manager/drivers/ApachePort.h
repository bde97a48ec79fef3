// The web port named by httpd.conf: Apache 1.3's Port line, or the Listen
// line that Apache 2.x has in its place.
#pragma once

#include <stddef.h>

// Reads the port from the text of httpd.conf as a text-mode read gives it
// (line ends as LF): the text is taken in lines of at most 299 characters
// (a longer line goes on in the next piece), lines starting with '#' are
// skipped, and the first other line that names "Port" anywhere
// (case-sensitive) decides: "Port", optional blanks and a decimal number
// with an optional sign at its very start gives that number, anything else
// 0, a number outside the range of int too. Returns false, and leaves
// *port alone, when no line decides. The text may hold NUL bytes; a line
// is read up to its first one.
bool ReadApachePort(const char* text, size_t length, int* port);

// The port of the first Listen line (Apache 2.x has no Port line): the text
// is taken in lines ended by LF, each up to its first NUL byte; a line
// whose first non-blank character is '#' is a comment. The first other
// line whose first word is "Listen" (any case) followed by a blank
// decides: its next word is "port", "address:port" or "[address]:port",
// and the port 1 to 5 digits between 1 and 65535; what follows (a
// protocol such as "http") is not looked at. Returns false, and leaves
// *port alone, when there is no Listen line or its port cannot be read.
bool ReadApacheListenPort(const char* text, size_t length, int* port);

// Apache 2.x's reading of a Port line: only a Port directive counts. The
// text is taken in lines ended by LF, each up to its first NUL byte; the
// first line whose first word after blanks is "Port" (case-sensitive)
// followed by a blank or the line's end decides, its number read as
// ReadApachePort reads it (0 when there is none). Returns false, *port
// untouched, when no line decides.
bool ReadApachePortDirective(const char* text, size_t length, int* port);

// The port the manager takes for Apache: the Port line (for httpd.exe the
// Port directive, ReadApachePortDirective; for Apache 1.3 as
// ReadApachePort reads it); when no line decides there, the first Listen
// line's. False, *port untouched, when neither gives one.
bool ReadApacheWebPort(const char* text, size_t length, bool httpd, int* port);
