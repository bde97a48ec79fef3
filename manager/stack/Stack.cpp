#include "Stack.h"

#include <cstdio>
#include <cstring>

#include "Diagnostics.h"
#include "ServerMonitor.h"
#include "MySqlServer.h"
#include "PortDiagnosis.h"
#include "ServerDiagnosis.h"
#include "System.h"
#include "InstallDir.h"
#include "Shortcuts.h"
#include "Texts.h"
#include "resource.h"

namespace {

// How long a quit waits for a server that is still starting to be seen
// running (and then stopped), and how long the end of a session waits for
// the servers to end: Windows without a way to say why (before Vista)
// gives a logoff about five seconds; one that was told why waits until the
// user ends the wait, and a clean MySQL shutdown is given at most
// SessionEndHeldMs.
const DWORD StartWaitMs = 10000;
const DWORD SessionEndWaitMs = 4000;
const DWORD SessionEndHeldMs = 20000;

// The stack's own lines in the event log, in French whatever the language.
const char StartingLine[] = "Demarrage des serveurs";
const char StoppingLine[] = "Arret des serveurs";
const char ConfigErrorLine[] = "Erreur dans le fichier de configuration d'Apache";

// The system's text for an error code as it gives it, for a prompt.
void SystemMessage(DWORD code, char* out, size_t size)
{
    SystemErrorText(code, out, size, true);
}

}  // namespace

Stack::Stack(Server& apache, Server& mysql, StackView& view)
    : stopLimitMs(30000), apache_(apache), mysql_(mysql), view_(view), apacheProgram_(nullptr),
      mysqlProgram_(nullptr), services_(false), switchPending_(false), quitting_(false), controlDeniedTold_(false),
      quitAfterStart_(false), quitRequestedAt_(0), switchWindow_(nullptr), switchMessage_(0)
{
}

StackSnapshot Stack::snapshot() const
{
    StackSnapshot shot;
    shot.apache = apache_.state();
    shot.mysql = mysql_.state();
    shot.started = StackStarted(shot.apache, shot.mysql);
    shot.settled = shot.started || (shot.apache == Stopped && shot.mysql == Stopped);
    shot.switching = switching();
    return shot;
}

void Stack::log(UINT textId, EventSource source)
{
    char text[MaxTextLength + 1];
    CopyText(text, sizeof text, textId);
    view_.stackLog(text, source);
}

int Stack::ask(StackQuestion& question, UINT type, WPARAM commandOnYes)
{
    question.type = type;
    question.commandOnYes = commandOnYes;
    return view_.stackAsk(question);
}

void Stack::setServices(bool services)
{
    services_ = services;
    apache_.setServiceMode(services);
    mysql_.setServiceMode(services);
}

void Stack::applyServices(bool services)
{
    // A second Apply would change the option under the switch.
    if (services == services_ || switching())
        return;
    if (started()) {
        apache_.stop();
        mysql_.stop();
    }
    services_ = services;
    switchPending_ = true;
}

void Stack::startAll()
{
    // While the services are installed or removed both servers are stopped,
    // and the switch starts them in the new mode once it is done: a start
    // now would run them in the old mode beside the commands.
    if (switching())
        return;
    view_.stackLog(StartingLine, SourceManager);
    // Any failed launch or service start is said, in the system's words
    // (access denied, not a valid program, a 64-bit server on 32-bit
    // Windows, elevation needed...).
    DWORD code = mysql_.start();
    if (code != 0) {
        char system[200];
        StackQuestion question;
        SystemMessage(code, system, sizeof system);
        FormatText(question.text, 200, IDS_MYSQL_START_FAILED, system);
        logSystemText(code, SourceMySql);
        // Only Yes goes on; a prompt ended by a quit ends the start too.
        if (ask(question, MB_YESNO) != IDYES || quitting_)
            return;
    }
    startApache();
}

void Stack::startApache()
{
    DWORD code = apache_.start();
    if (code == 0)
        return;
    StackQuestion question;
    if (code == 1) {
        // The box says who holds the port and what to do, as the log does.
        CopyText(question.text, MaxTextLength + 1, IDS_APACHE_PORT_TAKEN);
        size_t used = strlen(question.text);
        explainPortHolder(question.text + used, sizeof question.text - used);
        ask(question, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    char system[200];
    SystemMessage(code, system, sizeof system);
    FormatText(question.text, 200, IDS_APACHE_START_FAILED, system);
    logSystemText(code, SourceApache);
    ask(question, MB_OK | MB_ICONEXCLAMATION);
}

void Stack::stopAll()
{
    if (switching())
        return;
    view_.stackLog(StoppingLine, SourceManager);
    apache_.stop();
    mysql_.stop();
    // Shown at once: both are stopping now.
    view_.stackChanged();
}

void Stack::toggle()
{
    if (started())
        stopAll();
    else
        startAll();
}

void Stack::restartAll()
{
    if (!started() || switching())
        return;
    log(IDS_LOG_RESTARTING, SourceManager);
    // A check that fails posts its report, which asks the user.
    if (!apache_.checkConfig() || quitting_)
        return;
    apache_.stop();
    mysql_.stop();
    apache_.setRestartPending(true);
    mysql_.setRestartPending(true);
}

void Stack::supervise(bool statusTick)
{
    StackFacts facts = {apache_.state(),         mysql_.state(),  apache_.restartPending(),
                        mysql_.restartPending(), switchPending_,  quitting_,
                        statusTick};
    switch (NextStackStep(facts)) {
    case StepStartApache:
        apache_.start();
        apache_.setRestartPending(false);
        break;
    case StepStartMySql:
        mysql_.start();
        mysql_.setRestartPending(false);
        break;
    case StepSwitchMode:
        switchServices();
        break;
    case StepStopApache:
        // Apache refuses a stop while its configuration fails the check,
        // and asks only once per write of the file.
        apache_.stop();
        break;
    case StepStopMySql:
        mysql_.stop();
        break;
    case StepNone:
        break;
    }
}

void Stack::changed(bool statusTick)
{
    supervise(statusTick);
    view_.stackChanged();
    // A quit that waits for servers still starting goes on once they run.
    if (quitAfterStart_ && !quitMustWait(GetTickCount()))
        view_.stackQuitDue();
}

void Stack::tick()
{
    changed(true);
    watchStops();
}

bool Stack::onMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    Server* server = message == apache_.messageId() ? &apache_ : message == mysql_.messageId() ? &mysql_ : nullptr;
    if (!server)
        return false;
    onServerNotification(server, wParam, lParam);
    return true;
}

void Stack::onServerNotification(Server* server, WPARAM code, LPARAM lParam)
{
    if (code == StateChanged) {
        // A server went from starting to stopped without ever running: why,
        // in words.
        if (LOWORD(lParam) == StartPending && HIWORD(lParam) == Stopped) {
            explainEnd(server);
            if (server == &apache_) {
                explainPortHolder();
            } else {
                // The program on MySQL's port is named (a service of another
                // installation, for one), then what its log says.
                if (!mysql_.serviceMode())
                    namePortHolder(mysql_.port(), SourceMySql);
                logErrorTail(&mysql_);
            }
        }
        changed(false);
        return;
    }
    if (code == ControlDenied) {
        // Said once for both servers.
        if (!controlDeniedTold_) {
            controlDeniedTold_ = true;
            StackQuestion question;
            CopyText(question.text, MaxTextLength + 1, IDS_SERVICES_NEED_ADMIN);
            view_.stackLog(question.text, SourceManager);
            ask(question, MB_OK | MB_ICONINFORMATION);
        }
        return;
    }
    if (server == &apache_) {
        switch (code) {
        case UnexpectedEnd:
            log(IDS_APACHE_UNEXPECTED_END, SourceApache);
            explainEnd(&apache_);
            logErrorTail(&apache_);
            // An Apache that could not bind its port may live just long
            // enough to be seen running: the holder is named all the same.
            explainPortHolder();
            break;
        case ConfigError: {
            StackQuestion question;
            FormatText(question.text, 2261, IDS_APACHE_CONFIG_ERROR,
                       lParam ? reinterpret_cast<const char*>(lParam) : "");
            view_.stackLog(ConfigErrorLine, SourceManager);
            ask(question, MB_YESNO | MB_ICONERROR, ID_CMD_EDIT_APACHE_CONF);
            break;
        }
        case ConfigChanged:
            log(IDS_LOG_CONFIG_CHANGED, SourceApache);
            break;
        default:
            break;
        }
    } else if (server == &mysql_ && code == UnexpectedEnd) {
        log(IDS_MYSQL_UNEXPECTED_END, SourceMySql);
        explainEnd(&mysql_);
        logErrorTail(&mysql_);
    }
}

void Stack::watchStops()
{
    const struct {
        Server* server;
        EventSource source;
    } watched[] = {{&mysql_, SourceMySql}, {&apache_, SourceApache}};
    for (const auto& row : watched) {
        Server& server = *row.server;
        if (!server.stopOverdue(GetTickCount(), stopLimitMs))
            continue;
        int seconds = static_cast<int>(stopLimitMs / 1000);
        StackQuestion question;
        FormatText(question.text, MaxTextLength + 1, IDS_STOP_OVERDUE, server.name(), seconds);
        view_.stackLog(question.text, row.source);
        FormatText(question.text, MaxTextLength + 1, IDS_STOP_OVERDUE_ASK, server.name(), seconds, server.name());
        // The server may end while the question is open: then nothing is
        // ended.
        if (ask(question, MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2) != IDYES || quitting_ ||
            server.state() != StopPending)
            continue;
        if (server.endProcess() > 0) {
            FormatText(question.text, MaxTextLength + 1, IDS_ENDED_BY_USER, server.name());
            view_.stackLog(question.text, row.source);
            continue;
        }
        // Refused (another user's process, no rights): said, not assumed.
        char system[200];
        SystemErrorText(GetLastError(), system, sizeof system);
        FormatText(question.text, MaxTextLength + 1, IDS_NOT_ENDED, server.name(), system);
        view_.stackLog(question.text, row.source);
        ask(question, MB_OK | MB_ICONEXCLAMATION);
    }
}

void Stack::setSwitchTarget(HWND window, UINT message)
{
    switchWindow_ = window;
    switchMessage_ = message;
}

void Stack::switchServices()
{
    if (switching())
        return;
    log(services_ ? IDS_SERVICES_INSTALLING : IDS_SERVICES_REMOVING, SourceManager);
    if (switchWindow_) {
        // The commands run on the job's thread; the view goes on meanwhile,
        // with the commands that would meet the switch waiting.
        ServiceStep steps[2];
        apache_.prepareServiceStep(services_, &steps[0]);
        mysql_.prepareServiceStep(services_, &steps[1]);
        if (serviceJob_.start(switchWindow_, switchMessage_, steps, 2)) {
            view_.stackChanged();
            return;
        }
        // No thread to be had: the steps run here.
        RunServiceSteps(steps, 2);
        completeServiceSwitch(steps);
        return;
    }
    // No window to post to: the drivers switch here, one after the other,
    // and what one did is undone when the other could not.
    bool apacheDone = services_ ? apache_.installService() : apache_.uninstallService();
    bool mysqlDone = services_ ? mysql_.installService() : mysql_.uninstallService();
    if (!apacheDone || !mysqlDone) {
        if (apacheDone)
            services_ ? apache_.uninstallService() : apache_.installService();
        if (mysqlDone)
            services_ ? mysql_.uninstallService() : mysql_.installService();
    }
    finishServiceSwitch(apacheDone, mysqlDone);
}

bool Stack::serviceSwitchDone(LPARAM job)
{
    ServiceStep steps[2];
    if (!serviceJob_.take(job, steps, 2))
        return false;  // a cancelled job's
    completeServiceSwitch(steps);
    // The servers start in their new mode; a quit that waited goes on.
    changed(false);
    return true;
}

void Stack::completeServiceSwitch(ServiceStep steps[2])
{
    // The drivers take up the services the steps left.
    bool apacheDone = apache_.takeServiceStep(&steps[0]);
    bool mysqlDone = mysql_.takeServiceStep(&steps[1]);
    finishServiceSwitch(apacheDone, mysqlDone);
}

void Stack::finishServiceSwitch(bool apacheDone, bool mysqlDone)
{
    bool services = services_;
    switchPending_ = false;
    if (apacheDone && mysqlDone) {
        apache_.setServiceMode(services);
        mysql_.setServiceMode(services);
        apache_.setRestartPending(true);
        mysql_.setRestartPending(true);
        return;
    }
    // Both servers stay as they were (what one switch did has been
    // undone), the option goes back, and the user is told.
    services_ = !services;
    view_.stackServicesChanged(services_);
    StackQuestion question;
    Server& failed = !apacheDone ? apache_ : mysql_;
    if (failed.serviceProblem() == ServiceForeign)
        // Another program's service of that name: named with its program.
        FormatText(question.text, sizeof question.text, IDS_SERVICE_FOREIGN, failed.name(),
                   failed.foreignProgram()[0] ? failed.foreignProgram() : LoadText(IDS_UNKNOWN_PROGRAM));
    else
        FormatText(question.text, sizeof question.text,
                   services ? IDS_SERVICE_INSTALL_FAILED : IDS_SERVICE_REMOVE_FAILED, failed.name());
    // One line in the log.
    char line[sizeof question.text];
    for (int i = 0; (line[i] = question.text[i] == '\n' ? ' ' : question.text[i]) != '\0'; ++i) {
    }
    view_.stackLog(line, SourceManager);
    apache_.setRestartPending(true);
    mysql_.setRestartPending(true);
    ask(question, MB_OK | MB_ICONEXCLAMATION);
}

bool Stack::quitMustWait(DWORD now)
{
    // A service switch under way is let end first (its commands are
    // bounded): services are never left half switched.
    bool switching = this->switching();
    if (!switching && quitAfterStart_ && now - quitRequestedAt_ >= StartWaitMs)
        return false;  // waited long enough: what runs is stopped now
    bool starting = switching || (!apache_.serviceMode() && apache_.state() == StartPending) ||
                    (!mysql_.serviceMode() && mysql_.state() == StartPending);
    if (!starting)
        return false;
    // A process that is starting cannot be told to stop yet: the quit is
    // carried out at the change that sees it running (or gone).
    if (!quitAfterStart_ || switching)
        quitRequestedAt_ = now;
    quitAfterStart_ = true;
    return true;
}

bool Stack::quit()
{
    quitting_ = true;
    if (quitMustWait(GetTickCount()))
        return false;
    quitAfterStart_ = false;
    // The drivers' actual mode decides: an applied switch to services that
    // has not happened yet leaves processes that must end with the manager.
    if (!apache_.serviceMode() || !mysql_.serviceMode()) {
        view_.stackLog(StoppingLine, SourceManager);
        // Without the syntax test: a broken httpd.conf must not keep Apache
        // running after the manager.
        if (!apache_.serviceMode())
            apache_.stopWithoutCheck();
        if (!mysql_.serviceMode())
            mysql_.stop();
    }
    return true;
}

void Stack::endSession(bool reasonGiven)
{
    quitting_ = true;
    quitAfterStart_ = false;
    // The switch's thread is let go: the session ends whatever it does.
    serviceJob_.cancel();
    if (apache_.serviceMode() && mysql_.serviceMode())
        return;
    view_.stackLog(StoppingLine, SourceManager);
    // MySQL first: its data must be written before Windows ends what is
    // left. Then Apache, without its syntax test (a broken httpd.conf must
    // neither keep it running nor open a box now). Starting servers are
    // told too.
    if (!mysql_.serviceMode() && mysql_.state() != Stopped)
        mysql_.shutdownUnchecked();
    if (!apache_.serviceMode() && apache_.state() != Stopped)
        apache_.shutdownUnchecked();
    // Both processes at once, on the drivers' own handles (a started or an
    // adopted server has one): another program of the same name is not
    // waited for. The thread's messages are dispatched meanwhile: Windows
    // shows the reason given instead of "not responding".
    Server* servers[2] = {&mysql_, &apache_};
    WaitForServersPumping(servers, 2, reasonGiven ? SessionEndHeldMs : SessionEndWaitMs);
}

void Stack::logSystemText(DWORD code, EventSource source)
{
    char text[200];
    SystemErrorText(code, text, sizeof text);
    view_.stackLog(text, source);
}

void Stack::explainPortHolder(char* box, size_t boxSize)
{
    // The holder named with its service, HTTP.sys, or a reserved range,
    // with the next step.
    char lines[1][LogTailLineSize];
    if (ExplainPort(apache_.port(), lines, 1) == 0)
        return;
    view_.stackLog(lines[0], SourceApache);
    if (box && boxSize)
        snprintf(box, boxSize, "\n\n%s", lines[0]);
}

void Stack::explainEnd(Server* server)
{
    // A service's end is the service manager's to tell.
    if (server->serviceMode())
        return;
    const Server::ProcessEnd& end = server->lastEnd();
    char lines[8][LogTailLineSize];
    int count = ExplainServerEnd(server == &apache_ ? apacheProgram_ : mysqlProgram_, end.pid, end.exitCode,
                                 end.codeKnown, lines, 8);
    for (int i = 0; i < count; ++i)
        view_.stackLog(lines[i], server == &apache_ ? SourceApache : SourceMySql);
}

void Stack::namePortHolder(int port, EventSource source)
{
    char program[MAX_PATH] = "";
    DWORD pid = 0;
    if (!FindPortHolder(port, program, sizeof program, &pid))
        return;
    char text[MaxTextLength + 1];
    if (program[0])
        FormatText(text, sizeof text, IDS_PORT_HOLDER, port, program, static_cast<unsigned long>(pid));
    else
        // The system names no owner (Wine, for one, gives process id 0).
        FormatText(text, sizeof text, IDS_PORT_HOLDER_UNKNOWN, port);
    view_.stackLog(text, source);
}

void Stack::logErrorTail(Server* server)
{
    char path[MAX_PATH];
    if (server == &apache_)
        snprintf(path, sizeof path, "%sapache\\logs\\error.log", GetInstallDir());
    else
        FindMySqlErrorLog(path, sizeof path);
    char lines[3][LogTailLineSize];
    // MySQL's log is read from its last run's start for what it says in
    // words; the raw tail follows.
    if (server == &mysql_ && ExplainMySqlLog(path, lines, 1) == 1)
        view_.stackLog(lines[0], SourceMySql);
    int count = ReadLogTail(path, lines, 3);
    for (int i = 0; i < count; ++i)
        view_.stackLog(lines[i], server == &apache_ ? SourceApache : SourceMySql);
}
