#include "ApacheConf.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "KitCommon.h"

namespace kit {

namespace {

const char* const kDirectives[] = {
    // core and server setup
    "AccessConfig", "AccessFileName", "AddDefaultCharset", "AddModule", "AllowOverride", "AuthName", "AuthType",
    "BindAddress", "ClearModuleList", "ContentDigest", "CoreDumpDirectory", "DefaultType", "DocumentRoot",
    "ErrorDocument", "ErrorLog", "Group", "HostnameLookups", "IdentityCheck", "Include", "KeepAlive",
    "KeepAliveTimeout", "LimitRequestBody", "LimitRequestFields", "LimitRequestFieldsize", "LimitRequestLine",
    "Listen", "ListenBacklog", "LoadModule", "LockFile", "LogLevel", "MaxClients", "MaxKeepAliveRequests",
    "MaxRequestsPerChild", "MaxSpareServers", "MinSpareServers", "NameVirtualHost", "Options", "PidFile", "Port",
    "Require", "ResourceConfig", "RLimitCPU", "RLimitMEM", "RLimitNPROC", "Satisfy", "ScoreBoardFile",
    "SendBufferSize", "ServerAdmin", "ServerAlias", "ServerName", "ServerPath", "ServerRoot", "ServerSignature",
    "ServerTokens", "ServerType", "StartServers", "ThreadsPerChild", "Timeout", "UseCanonicalName", "User",
    "EnableSendfile", "EnableMMAP", "AcceptPathInfo", "Win32DisableAcceptEx",
    // access, auth
    "Allow", "Deny", "Order", "AuthUserFile", "AuthGroupFile", "AuthDBMUserFile",
    // aliases, redirects, rewriting
    "Alias", "AliasMatch", "Redirect", "RedirectMatch", "RedirectPermanent", "RedirectTemp", "ScriptAlias",
    "ScriptAliasMatch", "RewriteEngine", "RewriteRule", "RewriteCond", "RewriteBase", "RewriteLog",
    "RewriteLogLevel", "RewriteMap", "RewriteOptions",
    // mime, languages, handlers
    "Action", "AddCharset", "AddEncoding", "AddHandler", "AddLanguage", "AddType", "DefaultLanguage",
    "ForceType", "LanguagePriority", "SetHandler", "TypesConfig", "MimeMagicFile", "AddOutputFilter",
    // directory listings
    "AddAlt", "AddAltByEncoding", "AddAltByType", "AddDescription", "AddIcon", "AddIconByEncoding",
    "AddIconByType", "DefaultIcon", "DirectoryIndex", "FancyIndexing", "HeaderName", "IndexIgnore",
    "IndexOptions", "IndexOrderDefault", "ReadmeName", "UserDir",
    // logging
    "CustomLog", "LogFormat", "TransferLog", "CookieLog", "AgentLog", "RefererLog", "RefererIgnore",
    // environment, headers, expiry, status
    "BrowserMatch", "BrowserMatchNoCase", "PassEnv", "SetEnv", "SetEnvIf", "SetEnvIfNoCase", "UnsetEnv",
    "Header", "ExpiresActive", "ExpiresByType", "ExpiresDefault", "ExtendedStatus", "CacheNegotiatedDocs",
    "ScriptLog", "ScriptLogLength", "ScriptLogBuffer", "ScriptInterpreterSource",
    // proxy
    "ProxyRequests", "ProxyPass", "ProxyPassReverse", "ProxyVia", "ProxyRemote", "ProxyBlock", "NoProxy",
    "CacheRoot", "CacheSize", "CacheGcInterval", "CacheMaxExpire", "CacheLastModifiedFactor",
    "CacheDefaultExpire", "NoCache",
    // mod_ssl
    "SSLEngine", "SSLCertificateFile", "SSLCertificateKeyFile", "SSLCertificateChainFile", "SSLCACertificateFile",
    "SSLCACertificatePath", "SSLCipherSuite", "SSLLog", "SSLLogLevel", "SSLMutex", "SSLOptions",
    "SSLPassPhraseDialog", "SSLProtocol", "SSLRandomSeed", "SSLSessionCache", "SSLSessionCacheTimeout",
    "SSLVerifyClient", "SSLVerifyDepth", "SSLRequireSSL", "SSLRequire",
    // PHP module
    "php_value", "php_flag", "php_admin_value", "php_admin_flag", "PHPIniDir",
};

const char* const kSections[] = {
    "Directory", "DirectoryMatch", "Files", "FilesMatch", "Location", "LocationMatch", "VirtualHost",
    "IfModule",  "IfDefine",       "Limit", "LimitExcept", "Proxy",
};

// Directives of Apache 1.3 that 2.x no longer knows.
const char* const kDroppedIn2[] = {
    "Port", "ServerType", "BindAddress", "AccessConfig", "ResourceConfig", "AddModule", "ClearModuleList",
};

const int kMaxDepth = 32;

bool Known(const char* const* names, size_t count, const std::string& word)
{
    for (size_t i = 0; i < count; ++i)
        if (!_stricmp(names[i], word.c_str()))
            return true;
    return false;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string Trim(const std::string& text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && (IsBlank(text[begin]) || text[begin] == '\r'))
        ++begin;
    while (end > begin && (IsBlank(text[end - 1]) || text[end - 1] == '\r'))
        --end;
    return text.substr(begin, end - begin);
}

std::string FirstWord(const std::string& text, size_t from)
{
    size_t end = from;
    while (end < text.size() && !IsBlank(text[end]) && text[end] != '>')
        ++end;
    return text.substr(from, end - from);
}

// The logical lines of a configuration text: physical lines joined by a
// final backslash, trimmed; blank lines and comments are skipped.
class LineReader {
public:
    explicit LineReader(const std::string& text) : text_(text) {}

    // The next logical line and the number of the physical line where it
    // starts; false at the end of the text.
    bool next(std::string* line, int* firstLine)
    {
        while (pos_ < text_.size()) {
            *firstLine = lineNo_ + 1;
            std::string logical;
            for (;;) {
                size_t eol = text_.find('\n', pos_);
                std::string physical = text_.substr(pos_, eol == std::string::npos ? std::string::npos : eol - pos_);
                pos_ = eol == std::string::npos ? text_.size() : eol + 1;
                ++lineNo_;
                if (!physical.empty() && physical.back() == '\r')
                    physical.pop_back();
                if (!physical.empty() && physical.back() == '\\' && pos_ < text_.size()) {
                    physical.pop_back();
                    logical += physical + " ";
                    continue;
                }
                logical += physical;
                break;
            }
            *line = Trim(logical);
            if (!line->empty() && (*line)[0] != '#')
                return true;
        }
        return false;
    }

private:
    const std::string& text_;
    size_t pos_ = 0;
    int lineNo_ = 0;
};

// The words of a directive line; a word in double or single quotes may
// hold blanks (the quotes are dropped).
std::vector<std::string> Words(const std::string& line)
{
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        if (i == line.size())
            break;
        std::string word;
        if (line[i] == '"' || line[i] == '\'') {
            char quote = line[i++];
            while (i < line.size() && line[i] != quote)
                word += line[i++];
            ++i;
        } else {
            while (i < line.size() && !IsBlank(line[i]))
                word += line[i++];
        }
        words.push_back(word);
    }
    return words;
}

// A path of httpd.conf as a full Windows path without a trailing
// backslash: forward slashes turned round, a relative path taken from the
// server root, "/x" on the server root's drive.
std::string FolderPath(const std::string& path, const std::string& serverRoot)
{
    std::string windows = path;
    for (char& c : windows)
        if (c == '/')
            c = '\\';
    std::string joined;
    if (windows.size() >= 2 && windows[1] == ':')
        joined = windows;
    else if (!windows.empty() && windows[0] == '\\')
        joined = (windows.size() >= 2 && windows[1] == '\\') ? windows : serverRoot.substr(0, 2) + windows;
    else
        joined = serverRoot + windows;
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(joined.c_str(), sizeof full, full, nullptr);
    std::string result = (n > 0 && n < sizeof full) ? full : joined;
    while (result.size() > 3 && result.back() == '\\')
        result.pop_back();
    return result;
}

}  // namespace

std::string Slashed(std::string path)
{
    for (char& c : path)
        if (c == '\\')
            c = '/';
    return path;
}

bool CheckApacheConfig(const std::string& path, std::string* error, bool apache2)
{
    const std::string shown = Slashed(path);
    std::string text;
    if (!ReadWholeFile(path, &text)) {
        DWORD code = GetLastError();
        *error = "fopen: " + SystemMessage(code) + "\n" + ProgramName() + ": could not open document config file " +
                 shown + "\n";
        return false;
    }

    struct Open {
        std::string name;
        int line;
    } open[kMaxDepth];
    int depth = 0;
    char head[600];

    LineReader reader(text);
    std::string line;
    int firstLine = 0;
    while (reader.next(&line, &firstLine)) {
        snprintf(head, sizeof head, "%sSyntax error on line %d of %s:\n", apache2 ? "AH00526: " : "", firstLine,
                 shown.c_str());

        if (line.compare(0, 2, "</") == 0) {
            std::string name = FirstWord(line, 2);
            if (line.back() != '>') {
                *error = head + ("</" + name + "> directive missing closing '>'\n");
                return false;
            }
            if (depth == 0) {
                *error = head + ("</" + name + "> without matching <" + name + "> section\n");
                return false;
            }
            if (_stricmp(open[depth - 1].name.c_str(), name.c_str())) {
                *error = head + ("Expected </" + open[depth - 1].name + "> but saw </" + name + ">\n");
                return false;
            }
            --depth;
            continue;
        }
        if (line[0] == '<') {
            std::string name = FirstWord(line, 1);
            if (!Known(kSections, sizeof kSections / sizeof kSections[0], name)) {
                *error = head + ("Invalid command '<" + name +
                                 "', perhaps misspelled or defined by a module not included in the server "
                                 "configuration\n");
                return false;
            }
            if (line.back() != '>') {
                *error = head + ("<" + name + "> directive missing closing '>'\n");
                return false;
            }
            if (depth == kMaxDepth) {
                *error = head + std::string("Sections nested too deeply\n");
                return false;
            }
            open[depth].name = name;
            open[depth].line = firstLine;
            ++depth;
            continue;
        }
        std::string word = FirstWord(line, 0);
        if (!Known(kDirectives, sizeof kDirectives / sizeof kDirectives[0], word) ||
            (apache2 && Known(kDroppedIn2, sizeof kDroppedIn2 / sizeof kDroppedIn2[0], word))) {
            *error = head + ("Invalid command '" + word +
                             "', perhaps misspelled or defined by a module not included in the server "
                             "configuration\n");
            return false;
        }
    }
    if (depth > 0) {
        snprintf(head, sizeof head, "%sSyntax error on line %d of %s:\n", apache2 ? "AH00526: " : "",
                 open[depth - 1].line, shown.c_str());
        *error = head + ("<" + open[depth - 1].name + "> was not closed.\n");
        return false;
    }
    return true;
}

int ReadApachePort(const std::string& text)
{
    // As the manager reads it: fgets-sized pieces of at most 299
    // characters, text mode (no '\r'), lines starting with '#' skipped, the
    // first other piece naming "Port" decides.
    const size_t kPiece = 299;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        size_t end = eol == std::string::npos ? text.size() : eol + 1;
        std::string piece;
        while (pos < end && piece.size() < kPiece) {
            char c = text[pos++];
            if (c != '\r' || (pos < end && text[pos] != '\n'))
                piece += c;
        }
        if (piece.empty() || piece[0] == '#' || piece.find("Port") == std::string::npos)
            continue;
        int port = 0;
        if (sscanf(piece.c_str(), "Port %d\n", &port) != 1)
            port = 0;
        return port;
    }
    int listen = ReadListenPort(text);
    return listen ? listen : 80;
}

int ReadListenPort(const std::string& text)
{
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        std::string line = text.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos);
        pos = eol == std::string::npos ? text.size() : eol + 1;
        line = line.substr(0, line.find('\0'));
        char word[16] = "", address[128] = "";
        if (sscanf(line.c_str(), " %15s %127s", word, address) < 1 || word[0] == '#' || _stricmp(word, "Listen"))
            continue;
        // "[::1]:8080", "127.0.0.1:8080" or "8080".
        std::string arg = address;
        std::string digits = arg;
        if (!arg.empty() && arg[0] == '[') {
            size_t close = arg.find("]:");
            digits = close == std::string::npos ? "" : arg.substr(close + 2);
        } else if (arg.find(':') != std::string::npos) {
            digits = arg.find(':') == arg.rfind(':') ? arg.substr(arg.find(':') + 1) : "";
        }
        if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
            return 0;
        int port = atoi(digits.c_str());
        return port >= 1 && port <= 65535 ? port : 0;
    }
    return 0;
}

bool ReadApacheSite(const std::string& path, const std::string& serverRoot, ApacheSite* site, bool apache2)
{
    std::string text;
    if (!ReadWholeFile(path, &text))
        return false;
    std::string root = serverRoot;
    while (root.size() > 3 && root.back() == '\\')
        root.pop_back();
    root += '\\';
    site->port = apache2 ? ReadListenPort(text) : ReadApachePort(text);
    site->documentRoot = FolderPath("..\\www", root);
    site->aliases.clear();
    site->indexNames.assign(1, "index.html");

    LineReader reader(text);
    std::string line;
    int lineNo = 0;
    while (reader.next(&line, &lineNo)) {
        std::vector<std::string> words = Words(line);
        if (words.size() == 2 && !_stricmp(words[0].c_str(), "DocumentRoot")) {
            site->documentRoot = FolderPath(words[1], root);
        } else if (words.size() == 3 && !_stricmp(words[0].c_str(), "Alias") && !words[1].empty() &&
                   words[1][0] == '/') {
            site->aliases.push_back({words[1], FolderPath(words[2], root)});
        } else if (words.size() >= 2 && !_stricmp(words[0].c_str(), "DirectoryIndex")) {
            site->indexNames.assign(words.begin() + 1, words.end());
        }
    }
    return true;
}

unsigned CheckDelayMs(const std::string& path)
{
    static const char directive[] = "# testkit: check-delay ";
    std::string text;
    if (!ReadWholeFile(path, &text))
        return 0;
    size_t at = text.find(directive);
    return at == std::string::npos ? 0 : (unsigned)strtoul(text.c_str() + at + sizeof directive - 1, nullptr, 10);
}

}  // namespace kit
