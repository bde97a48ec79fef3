// The window's shortcuts, the about dialog and the version check.
#include "ManagerWindow.h"

#include "AboutDialog.h"
#include "Shortcuts.h"
#include "VersionCheck.h"
#include "resource.h"

void ManagerWindow::openShortcut(WPARAM id)
{
    switch (id) {
    case ID_CMD_EDIT_APACHE_CONF:
        EditApacheConfig(apache.configPath());
        break;
    case ID_CMD_EDIT_MYSQL_CONF:
        EditMySqlConfig(mysql.configPath());
        break;
    case ID_CMD_EDIT_PHP_CONF:
        EditPhpConfig(phpConfigPath);
        break;
    case ID_CMD_APACHE_ERROR_LOG:
        OpenApacheErrorLog();
        break;
    case ID_CMD_APACHE_ACCESS_LOG:
        OpenApacheAccessLog();
        break;
    case ID_CMD_MYSQL_ERROR_LOG:
        OpenMySqlErrorLog();
        break;
    case ID_CMD_MANAGER_LOG:
        OpenManagerLog();
        break;
    case ID_CMD_BROWSE:
        BrowseLocalWeb(serversStarted, apache.port());
        break;
    case ID_CMD_PHPMYADMIN:
        OpenPhpMyAdmin(apache.port());
        break;
    case ID_CMD_ADMINISTRATION:
        OpenAdministration(serversStarted, apache.port());
        break;
    case ID_CMD_EXTENSION_EDITOR:
        LaunchExtensionEditor(phpConfigPath);
        break;
    case ID_CMD_INTRODUCTION:
        ShowIntroduction();
        break;
    case ID_CMD_FAQ:
        OpenFaq();
        break;
    case ID_CMD_PHP_START_SITE:
        OpenPhpStartSite();
        break;
    default:
        break;
    }
}

void ManagerWindow::showAbout()
{
    // A modal dialog: a quit meanwhile waits for it to close.
    enterPrompt();
    ShowAboutDialog(handle_);
    leavePrompt();
}

void ManagerWindow::CheckForNewVersion()
{
    // A check already under way answers this request too.
    if (!quitDone_)
        versionFetch_.start(handle_, VersionCheckMessage);
}

void ManagerWindow::onVersionFetched(WPARAM found, LPARAM fetch)
{
    const char* published = versionFetch_.result(fetch);
    if (!found || !published || quitDone_ || quitPending_)
        return;
    enterPrompt();
    OfferNewVersion(handle_, caption, published);
    leavePrompt();
}
