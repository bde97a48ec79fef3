#include "Supervision.h"

StackStep nextStackStep(const StackFacts& facts)
{
    if (facts.quitting)
        return StepNone;
    if (facts.apacheRestartPending && facts.apache == Stopped)
        return StepStartApache;
    if (facts.mysqlRestartPending && facts.mysql == Stopped)
        return StepStartMySql;
    if (facts.apache == Stopped && facts.mysql == Stopped && facts.serviceSwitchPending)
        return StepSwitchMode;
    if (facts.mysql == Stopped && facts.apache == Running)
        return StepStopApache;
    if (facts.mysql == Running && facts.apache == Stopped)
        return StepStopMySql;
    return StepNone;
}
