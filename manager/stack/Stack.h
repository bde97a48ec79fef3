// Apache and MySQL as one stack, apart from any window: start, stop and
// restart of the pair, the supervision on every status tick, the restarts
// after a configuration write, the switch between child processes and
// services, the quit that waits for starting servers, and the safeguard
// for a stop that does not end. It tells its view what happened through a
// narrow interface and never runs inside a driver's call: the drivers post
// their notifications, and the stack handles them when they arrive.
#pragma once

#include <windows.h>

#include "Server.h"
#include "Supervision.h"

// Source of an event-log line; each label is 7 characters wide.
enum EventSource {
    SourceManager = 0,
    SourceMySql = 1,
    SourceApache = 2,
};

// A question for the user. The text is the question's own copy.
struct StackQuestion {
    char text[2300];
    UINT type;            // the message box's buttons and icon (MB_...)
    WPARAM commandOnYes;  // a command of the view carried out on Yes (0: none)
};

// What the stack needs of the program that shows it.
class StackView {
public:
    // The servers' states or the stack's flags changed.
    virtual void stackChanged() = 0;
    virtual void stackLog(const char* text, EventSource source) = 0;
    // Asks at top level, never inside a driver's call, and answers (IDYES,
    // IDNO...); a quit that came meanwhile answers No, Cancel or OK.
    virtual int stackAsk(const StackQuestion& question) = 0;
    // The service option went back: a switch could not be made.
    virtual void stackServicesChanged(bool services) = 0;
    // A quit that waited for starting servers may be carried out now.
    virtual void stackQuitDue() = 0;

protected:
    ~StackView() {}
};

// The stack as the view shows it.
struct StackSnapshot {
    ServerState apache;
    ServerState mysql;
    bool started;  // both Running
    bool settled;  // started, or both Stopped
    // The services are being installed or removed: start, stop, restart
    // and Apply wait.
    bool switching;
};

class Stack {
public:
    Stack(Server& apache, Server& mysql, StackView& view);

    Server& apache() const { return apache_; }
    Server& mysql() const { return mysql_; }
    // The servers' programs, for what is said when one ends at once (null:
    // none known, and only the exit code and console are said).
    void setPrograms(const char* apacheProgram, const char* mysqlProgram)
    {
        apacheProgram_ = apacheProgram;
        mysqlProgram_ = mysqlProgram;
    }
    StackSnapshot snapshot() const;
    bool started() const { return StackStarted(apache_.state(), mysql_.state()); }

    // The service option as applied. setServices sets it and the drivers'
    // mode (at start-up); applyServices is the user's Apply: a change stops
    // a started stack, and the switch is made once both have stopped.
    void setServices(bool services);
    void applyServices(bool services);
    bool services() const { return services_; }
    bool switchPending() const { return switchPending_; }
    // The switch in two halves: the work (install or remove both
    // services, on a thread of its own when a post target is given; a
    // half-done switch is undone there), then its completion with what the
    // work did: the mode changes, or the option goes back and the user is
    // told.
    void switchServices();
    void finishServiceSwitch(bool apacheDone, bool mysqlDone);
    // Where the switch's thread posts its end (the view's window and a
    // message of its own); without one the switch runs on the caller's
    // thread. The message's lParam goes to serviceSwitchDone, which
    // completes the switch (false: not this switch's message).
    void setSwitchTarget(HWND window, UINT message);
    bool serviceSwitchDone(LPARAM job);
    bool switching() const { return serviceJob_.running(); }

    void startAll();
    void stopAll();
    void toggle();
    void restartAll();
    // The view's status timer (every 500 ms).
    void tick();
    // A driver's posted notification, routed by its message; false when
    // the message is no driver's.
    bool onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void onServerNotification(Server* server, WPARAM code, LPARAM lParam);

    // Quit. beginQuit: from here on no step is made. quit: stops the
    // servers that run as programs and returns true, or returns false while
    // a server is still starting (at most 10 s; stackQuitDue follows).
    void beginQuit() { quitting_ = true; }
    bool quitting() const { return quitting_; }
    bool quit();
    // The end of the session: nothing is asked; MySQL is told first, Apache
    // without its syntax test; a bounded wait for both, during which the
    // thread's messages are dispatched. reasonGiven: Windows was told why
    // the session's end is held, and the wait may be longer.
    void endSession(bool reasonGiven = false);
    // The service option to keep at a quit: one applied but not carried
    // out yet does not count.
    bool servicesToKeep() const { return switchPending_ ? apache_.serviceMode() : services_; }

    // How long a stop may take before the user is told (one question a stop).
    DWORD stopLimitMs;

private:
    void supervise(bool statusTick);
    void changed(bool statusTick);
    void startApache();
    void watchStops();
    bool quitMustWait(DWORD now);
    void log(UINT textId, EventSource source);
    int ask(StackQuestion& question, UINT type, WPARAM commandOnYes = 0);
    // The lines that tell why a server did not come up or ended; the
    // port's explanation is also copied to `box` when one is given.
    void explainPortHolder(char* box = nullptr, size_t boxSize = 0);
    void explainEnd(Server* server);
    void namePortHolder(int port, EventSource source);
    // The system's words for a failed launch or service start, in the log.
    void logSystemText(DWORD code, EventSource source);
    void logErrorTail(Server* server);
    void completeServiceSwitch(ServiceStep steps[2]);

    Server& apache_;
    Server& mysql_;
    StackView& view_;
    const char* apacheProgram_;
    const char* mysqlProgram_;
    bool services_;
    bool switchPending_;
    bool quitting_;
    // The user was told that the services cannot be controlled.
    bool controlDeniedTold_;
    bool quitAfterStart_;
    DWORD quitRequestedAt_;
    ServiceJob serviceJob_;
    HWND switchWindow_;
    UINT switchMessage_;

    Stack(const Stack&) = delete;
    Stack& operator=(const Stack&) = delete;
};
