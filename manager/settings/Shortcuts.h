// The manager's doors to documentation, the product site, log and
// configuration files, the local web site, phpMyAdmin and the extension
// editor. None of them reports a failure.
#pragma once

// Opens a file with the program associated with its type, else in notepad.
// A null path does nothing.
void OpenDocument(const char* path);
// Opens "http://127.0.0.1:<port>/<path>" in the default browser.
void OpenLocalUrl(int port, const char* path);
// Opens "http://<computer name>:<port>/" while the servers are started.
void BrowseLocalWeb(bool serversStarted, int port);

// Pages of the kit and of the product site.
void ShowIntroduction();   // <install dir>home\accueil.html
void OpenFaq();            // the product site's /faq.php3
void OpenPhpStartSite();   // a site for PHP beginners

// Log files below the install directory.
void OpenApacheErrorLog();   // apache\logs\error.log
void OpenApacheAccessLog();  // apache\logs\access.log
void OpenMySqlErrorLog();    // the file FindMySqlErrorLog names

// MySQL's error log: mysql\data\mysql.err where it exists (older kits),
// else mysql\data\<computer name>.err, the file MySQL 5 and later write.
void FindMySqlErrorLog(char* path, int size);
void OpenManagerLog();       // Tarvane.log

// Configuration files: the drivers' configPath and the window's phpConfigPath.
void EditApacheConfig(const char* configPath);
void EditMySqlConfig(const char* configPath);
void EditPhpConfig(const char* phpConfigPath);

// Local pages: phpMyAdmin always, the administration only while the servers
// are started.
void OpenPhpMyAdmin(int port);
void OpenAdministration(bool serversStarted, int port);

// Brings the extension editor's window to the front, or starts
// <install dir>Morvex.exe with the php.ini path.
void LaunchExtensionEditor(const char* phpConfigPath);

// Title of the extension editor's main window.
extern const char ExtensionEditorTitle[];
