// The supervision of the stack as a table: the two states and the flags,
// and the one step the stack carries out next.
#include <gtest/gtest.h>

#include "Supervision.h"

TEST(Supervision, NextStepTable)
{
    const ServerState R = Running, S = Stopped, SP = StartPending, XP = StopPending;
    const struct {
        ServerState apache, mysql;
        bool apacheRestart, mysqlRestart, switchPending, quitting;
        StackStep step;
    } rows[] = {
        {R, R, false, false, false, false, StepNone},
        {S, S, false, false, false, false, StepNone},
        {SP, SP, false, false, false, false, StepNone},
        {S, S, true, true, true, false, StepStartApache},  // Apache first
        {R, S, false, true, true, false, StepStartMySql},
        {XP, S, true, true, false, false, StepStartMySql},  // Apache not Stopped yet
        {S, S, false, false, true, false, StepSwitchMode},
        {S, XP, false, false, true, false, StepNone},       // the switch waits for both
        {R, S, false, false, false, false, StepStopApache},  // the partner ended
        {R, SP, false, false, false, false, StepNone},
        {S, R, false, false, false, false, StepStopMySql},
        {XP, R, false, false, false, false, StepNone},
        {S, R, true, false, false, false, StepStartApache},
        {S, S, true, true, true, true, StepNone},           // a quit is under way
        {R, S, false, false, false, true, StepNone},
    };
    for (const auto& row : rows) {
        StackFacts facts = {row.apache,       row.mysql,         row.apacheRestart,
                            row.mysqlRestart, row.switchPending, row.quitting, true};
        EXPECT_EQ(NextStackStep(facts), row.step)
            << "apache " << row.apache << " mysql " << row.mysql << " restarts " << row.apacheRestart
            << row.mysqlRestart << " switch " << row.switchPending << " quitting " << row.quitting;
        // Told of a change between ticks: the stops at once, the rest waits.
        facts.statusTick = false;
        bool now = row.step == StepStopApache || row.step == StepStopMySql;
        EXPECT_EQ(NextStackStep(facts), now ? row.step : StepNone) << "between ticks, row " << &row - rows;
    }
    EXPECT_TRUE(StackStarted(R, R));
    EXPECT_FALSE(StackStarted(R, SP));
    EXPECT_FALSE(StackStarted(S, R));
}
