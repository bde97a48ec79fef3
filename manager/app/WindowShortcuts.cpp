// The window's shortcuts, the about dialog and the version check.
#include "ManagerWindow.h"

#include "resource.h"

void ManagerWindow::openShortcut(WPARAM) {}

void ManagerWindow::showAbout() {}

void ManagerWindow::CheckForNewVersion() {}
