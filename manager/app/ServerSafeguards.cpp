// Two safeguards of the stack's orchestration: a MySQL stop that does not
// end is reported and the user may end the process (never done silently:
// a hard end can lose data), and a switch between child processes and
// services takes effect only when the services were really installed or
// removed.
#include "ManagerWindow.h"

#include "ServiceControl.h"
#include "Texts.h"
#include "resource.h"

void ManagerWindow::watchMySqlStop()
{
    if (!mysql.stopOverdue(GetTickCount(), mySqlStopLimitMs))
        return;
    char text[MaxTextLength + 1];
    int seconds = static_cast<int>(mySqlStopLimitMs / 1000);
    FormatText(text, sizeof text, IDS_MYSQL_STOP_OVERDUE, seconds);
    logEvent(text, SourceMySql);
    FormatText(text, sizeof text, IDS_MYSQL_STOP_OVERDUE_ASK, seconds);
    // The server may end while the question is open: then nothing is ended.
    if (prompt(text, MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2) != IDYES || quitArrived() ||
        mysql.state() != StopPending)
        return;
    if (mysql.endProcess() > 0) {
        CopyText(text, sizeof text, IDS_MYSQL_ENDED_BY_USER);
        logEvent(text, SourceMySql);
    } else {
        // Refused (another user's process, no rights): said, not assumed.
        char system[200];
        ServiceControl::systemText(GetLastError(), system, sizeof system);
        FormatText(text, sizeof text, IDS_MYSQL_NOT_ENDED, system);
        logEvent(text, SourceMySql);
        prompt(text, MB_OK | MB_ICONEXCLAMATION);
    }
}

void ManagerWindow::switchServiceMode()
{
    bool services = settings.StartAsServices;
    bool apacheDone = services ? apache.installService() : apache.uninstallService();
    bool mysqlDone = services ? mysql.installService() : mysql.uninstallService();
    if (!apacheDone || !mysqlDone) {
        // Both servers stay as they were: what one switch did is undone,
        // the option goes back, and the user is told.
        if (apacheDone)
            services ? apache.uninstallService() : apache.installService();
        if (mysqlDone)
            services ? mysql.uninstallService() : mysql.installService();
        settings.StartAsServices = !services;
        CheckDlgButton(handle_, IDC_START_AS_SERVICES, services ? BST_UNCHECKED : BST_CHECKED);
        onServicesToggled();
        char text[2 * MaxTextLength + MAX_PATH];
        Server& failed = !apacheDone ? static_cast<Server&>(apache) : static_cast<Server&>(mysql);
        if (failed.serviceProblem() == ServiceForeign)
            // Another program's service of that name: named with its program.
            FormatText(text, sizeof text, IDS_SERVICE_FOREIGN, failed.name(),
                       failed.foreignProgram()[0] ? failed.foreignProgram() : LoadText(IDS_UNKNOWN_PROGRAM));
        else
            FormatText(text, sizeof text, services ? IDS_SERVICE_INSTALL_FAILED : IDS_SERVICE_REMOVE_FAILED,
                       failed.name());
        // One line in the log.
        char line[sizeof text];
        for (int i = 0; (line[i] = text[i] == '\n' ? ' ' : text[i]) != '\0'; ++i) {
        }
        logEvent(line, SourceManager);
        serviceSwitchPending = false;
        apache.setRestartPending(true);
        mysql.setRestartPending(true);
        prompt(text, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    apache.setServiceMode(services);
    mysql.setServiceMode(services);
    apache.setRestartPending(true);
    mysql.setRestartPending(true);
    serviceSwitchPending = false;
}
