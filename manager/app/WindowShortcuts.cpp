// The about dialog and the version check, as the window runs them.
#include "ManagerWindow.h"

#include "AboutDialog.h"
#include "VersionCheck.h"
#include "resource.h"

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
    OfferNewVersion(handle_, caption_, published);
    leavePrompt();
}
