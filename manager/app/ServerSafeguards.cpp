// Two safeguards of the stack's orchestration: a MySQL stop that does not
// end is reported and the user may end the process (never done silently:
// a hard end can lose data), and a switch between child processes and
// services takes effect only when the services were really installed or
// removed. The switch's commands run on a thread of their own.
#include "ManagerWindow.h"

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
    }
}

void ManagerWindow::switchServiceMode()
{
    if (switchingServices())
        return;
    bool services = settings.StartAsServices;
    ServiceStep steps[2];
    apache.prepareServiceStep(services, &steps[0]);
    mysql.prepareServiceStep(services, &steps[1]);
    char text[MaxTextLength + 1];
    CopyText(text, sizeof text, services ? IDS_SERVICES_INSTALLING : IDS_SERVICES_REMOVING);
    logEvent(text, SourceManager);
    // The commands run on the job's thread; the window goes on meanwhile,
    // with Apply greyed (the commands that would meet the switch wait).
    if (serviceJob_.start(handle_, ServiceSwitchMessage, steps, 2)) {
        EnableWindow(GetDlgItem(handle_, IDC_APPLY), FALSE);
        return;
    }
    // No thread to be had: the steps run here, as they always could.
    runServiceSteps(steps, 2);
    finishServiceSwitch(services, steps);
}

void ManagerWindow::onServiceSwitchDone(LPARAM job)
{
    ServiceStep steps[2];
    if (!serviceJob_.take(job, steps, 2))
        return;  // a cancelled job's
    EnableWindow(GetDlgItem(handle_, IDC_APPLY), TRUE);
    finishServiceSwitch(settings.StartAsServices, steps);
}

void ManagerWindow::finishServiceSwitch(bool services, ServiceStep steps[2])
{
    bool apacheDone = apache.takeServiceStep(&steps[0]);
    bool mysqlDone = mysql.takeServiceStep(&steps[1]);
    serviceSwitchPending = false;
    apache.setRestartPending(true);
    mysql.setRestartPending(true);
    if (apacheDone && mysqlDone) {
        apache.setServiceMode(services);
        mysql.setServiceMode(services);
        return;
    }
    // Both servers stay as they were (what one switch did has been undone
    // by the steps), the option goes back, and the user is told.
    settings.StartAsServices = !services;
    CheckDlgButton(handle_, IDC_START_AS_SERVICES, services ? BST_UNCHECKED : BST_CHECKED);
    onServicesToggled();
    char text[MaxTextLength + 1];
    FormatText(text, sizeof text, services ? IDS_SERVICE_INSTALL_FAILED : IDS_SERVICE_REMOVE_FAILED,
               !apacheDone ? apache.name() : mysql.name());
    logEvent(text, SourceManager);
    prompt(text, MB_OK | MB_ICONEXCLAMATION);
}
