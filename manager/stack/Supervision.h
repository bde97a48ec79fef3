// The supervision of the stack as a decision: from the two servers' states
// and the stack's flags, the one step the stack carries out next.
#pragma once

#include "Server.h"

// What the supervision reads.
struct StackFacts {
    ServerState apache;
    ServerState mysql;
    bool apacheRestartPending;
    bool mysqlRestartPending;
    bool serviceSwitchPending;  // an applied change of the service option
    bool quitting;              // a quit has come and not been carried out
    bool statusTick;            // called on the 500 ms status timer
};

enum StackStep {
    StepNone = 0,
    StepStartApache,    // start Apache, then clear its restartPending
    StepStartMySql,     // start MySQL, then clear its restartPending
    StepSwitchMode,     // install or remove the services, switch both modes, restart both
    StepStopApache,     // Apache runs without MySQL
    StepStopMySql,      // MySQL runs without Apache
};

// At most one step per call, in this order of precedence: Apache's pending
// restart, MySQL's, the service switch once both are stopped, then keeping
// the two servers in step. Nothing between a quit and its carrying out.
// Restarts and the switch are made on status ticks only, one a tick: a
// server that has just been seen to stop may still leave its process (a
// service's, an adopted one's) a moment longer, and a start then would
// take that process for a running server.
StackStep NextStackStep(const StackFacts& facts);

// The servers count as started: both are Running. The one definition the
// whole manager follows.
inline bool StackStarted(ServerState apache, ServerState mysql)
{
    return apache == Running && mysql == Running;
}
