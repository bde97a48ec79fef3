// Two safeguards of the stack's orchestration: a server's stop that does
// not end is reported and the user may end the process (never done silently:
// a hard end can lose data), and a switch between child processes and
// services takes effect only when the services were really installed or
// removed.
#include "ManagerWindow.h"

#include "Texts.h"
#include "resource.h"

void ManagerWindow::watchStops()
{
    watchStop(mysql, SourceMySql);
    watchStop(apache, SourceApache);
}

void ManagerWindow::watchStop(Server& server, EventSource source)
{
    if (!server.stopOverdue(GetTickCount(), stopLimitMs))
        return;
    char text[MaxTextLength + 1];
    int seconds = static_cast<int>(stopLimitMs / 1000);
    FormatText(text, sizeof text, IDS_STOP_OVERDUE, server.name(), seconds);
    logEvent(text, source);
    FormatText(text, sizeof text, IDS_STOP_OVERDUE_ASK, server.name(), seconds, server.name());
    // The server may end while the question is open: then nothing is ended.
    if (prompt(text, MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2) != IDYES || quitArrived() ||
        server.state() != StopPending)
        return;
    if (server.endProcess() > 0) {
        FormatText(text, sizeof text, IDS_ENDED_BY_USER, server.name());
        logEvent(text, source);
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
        char text[MaxTextLength + 1];
        FormatText(text, sizeof text, services ? IDS_SERVICE_INSTALL_FAILED : IDS_SERVICE_REMOVE_FAILED,
                   !apacheDone ? apache.name() : mysql.name());
        logEvent(text, SourceManager);
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
