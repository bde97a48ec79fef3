// The web port named by httpd.conf.
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
