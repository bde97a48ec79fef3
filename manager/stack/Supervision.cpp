#include "Supervision.h"

StackStep NextStackStep(const StackFacts& facts)
{
    if (facts.quitting)
        return StepNone;
    if (facts.apacheRestartPending && facts.apache == Stopped)
        return facts.statusTick ? StepStartApache : StepNone;
    if (facts.mysqlRestartPending && facts.mysql == Stopped)
        return facts.statusTick ? StepStartMySql : StepNone;
    if (facts.apache == Stopped && facts.mysql == Stopped && facts.serviceSwitchPending)
        return facts.statusTick ? StepSwitchMode : StepNone;
    if (facts.mysql == Stopped && facts.apache == Running)
        return StepStopApache;
    if (facts.mysql == Running && facts.apache == Stopped)
        return StepStopMySql;
    return StepNone;
}
