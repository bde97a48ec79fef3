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
    enterPrompt();
    ::CheckForNewVersion(handle_, caption);
    leavePrompt();
}
