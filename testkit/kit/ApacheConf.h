// The stand-in's configuration: the check ("apache.exe -t") and what the
// server takes from httpd.conf to serve.
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
//
// Apache 2.x (the stand-in run as httpd.exe) knows the same directives but
// those 2.x dropped: Port, ServerType, BindAddress, AccessConfig,
// ResourceConfig, AddModule and ClearModuleList are refused as 2.4 refuses
// them ("Invalid command 'Port', ..."), its errors carry 2.4's message
// number ("AH00526: Syntax error on line ...").
#pragma once

#include <string>
#include <vector>

namespace kit {

// Checks the configuration file at `path` (a Windows path). Returns true
// when it is valid; otherwise *error receives an Apache-like text naming
// the file (with forward slashes) and the line, lines ended by "\n".
bool CheckApacheConfig(const std::string& path, std::string* error, bool apache2 = false);

// The port, read exactly as the manager reads it, so that the manager's
// addresses always name the port the stand-in listens on: lines starting
// with '#' are skipped, the first other line that contains "Port"
// (case-sensitive) decides: "Port <number>" at its very start gives the
// number, anything else 0. No such line: the first Listen line's port
// (ReadListenPort), as Apache 1.3 listens on its Listen lines; neither: 80.
int ReadApachePort(const std::string& text);

// The port of the first Listen line outside comments ("Listen 8080",
// "Listen 127.0.0.1:8080", "Listen [::1]:8080", "Listen 0.0.0.0:80 http");
// 0 when there is none or its port cannot be read. Apache 2.x listens on
// this port only.
int ReadListenPort(const std::string& text);

// What the server serves, read from httpd.conf. Relative paths are taken
// from the server root (the program's folder; "ServerRoot" is ignored).
// Directives count wherever they stand: sections are not evaluated.
struct ApacheSite {
    struct Alias {
        std::string url;     // "/home/": a request path starting with it
        std::string folder;  // the full Windows path that replaces it
    };
    int port = 80;                        // ReadApachePort, for 2.x ReadListenPort
    std::string documentRoot;             // last "DocumentRoot"; default <root>..\www
    std::vector<Alias> aliases;           // "Alias /url path", in file order
    std::vector<std::string> indexNames;  // last "DirectoryIndex"; default index.html
};

// Fills *site from the file at `path`; serverRoot is a folder (trailing
// backslash optional). False when the file cannot be read.
bool ReadApacheSite(const std::string& path, const std::string& serverRoot, ApacheSite* site,
                    bool apache2 = false);

// A Windows path with forward slashes, as Apache shows paths.
std::string Slashed(std::string path);

// Tests that need a slow syntax test put the comment line
// "# testkit: check-delay MS" into the configuration: "-t" then waits MS
// milliseconds before it answers. 0 without such a line.
unsigned CheckDelayMs(const std::string& path);

}  // namespace kit
