// The stand-in's configuration check ("apache.exe -t").
//
// What counts as valid, line by line (lines end with "\n" or "\r\n"; a line
// ending in a backslash continues on the next one and errors name the line
// where the directive starts):
// - blank lines and lines whose first non-blank character is '#';
// - a directive: its first word is one of the known directive names below
//   (compared without case, as Apache does), whatever its arguments;
// - a section opener "<Name args>" of a known section (Directory,
//   DirectoryMatch, Files, FilesMatch, Location, LocationMatch, VirtualHost,
//   IfModule, IfDefine, Limit, LimitExcept, Proxy), which must end with '>';
// - a section closer "</Name>" matching the innermost open section.
// Every section must be closed by the end of the file; at most 32 levels.
// Conditional sections are not evaluated: their content is checked too.
// A missing or unreadable file is an error.
#pragma once

#include <string>

namespace kit {

// Checks the configuration file at `path` (a Windows path). Returns true
// when it is valid; otherwise *error receives an Apache-like text naming
// the file (with forward slashes) and the line, lines ended by "\n".
bool CheckApacheConfig(const std::string& path, std::string* error);

// Tests that need a slow syntax test put the comment line
// "# testkit: check-delay MS" into the configuration: "-t" then waits MS
// milliseconds before it answers. 0 without such a line.
unsigned CheckDelayMs(const std::string& path);

}  // namespace kit
