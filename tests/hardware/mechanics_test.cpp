// The mechanics step on its worker thread, and the chassis pulse it drives.

#include <gtest/gtest.h>

#include <set>

#include "platform/clock.h"
#include "tests/hardware/hardware_fixture.h"

namespace {

using hwtest::Lines;
using robotest::Ssc32Simulator;
using MechanicsStep = hwtest::HardwareTest;

const Lines kPinsLow = {"ConfigurePinAsOutput(0,1,0,0)", "ConfigurePinAsOutput(0,1,2,0)"};
const Lines kPinsHigh = {"ConfigurePinAsOutput(0,1,0,1)", "ConfigurePinAsOutput(0,1,2,1)"};

// With a direction set, the steps also pulse the chassis: the first lowers both
// pins, the next (the input query's 3 ms later) raises them again.
TEST_F(MechanicsStep, TwoStepsInARowSendTheSameCommandsFlipTheFlagAndPulseTheChassis) {
    Ssc32Simulator simulator(dir(), "COM2", "1110");
    ASSERT_TRUE(openSimulatorPort(simulator));
    platform::useBoard(board);
    RB0 = RB2 = vazDR = 1;
    const int flagBefore = daviklisePD;
    for (int step = 1; step <= 2; ++step) {
        ASSERT_TRUE(startMechanika());
        EXPECT_FALSE(startMechanika()) << "a second step while one runs";
        joinMechanika();
        EXPECT_FALSE(mechanikaRunning());
        EXPECT_EQ(daviklisePD, step == 1 ? 1 - flagBefore : flagBefore);
        if (step > 1) break;
        EXPECT_EQ(board->calls(), kPinsLow);
        EXPECT_EQ(text(58).substr(3) + "/" + text(59).substr(3), "Daviklis eProDas= " + std::to_string(1 - flagBefore) + "/Daviklis SSC32  = 128");
    }
    EXPECT_EQ(board->level(1, 0) + board->level(1, 2) + RB0 + RB2, 4);
    EXPECT_EQ(simulator.waitForLines(6),
              (Lines{"#7 P1400 S400 |", "#0 P1850 S300 |", "A B C D", "#7 P1400 S400 |", "#0 P1850 S300 |", "A B C D"}));
}

// A mode that goes on writing targets while the step runs: every value the step
// sends is one the mode wrote, and no write of the mode is lost to the clamping.
TEST_F(MechanicsStep, ModeWritingTargetsWhileTheStepRunsLosesNothing) {
    Ssc32Simulator simulator(dir());
    ASSERT_TRUE(openSimulatorPort(simulator));
    for (int round = 0; round < 20; ++round) {
        servo_x = 5000;   // out of range: the step clamps it
        servo_xk = 9000;  // out of range: the step clamps it unless the mode writes first
        ASSERT_TRUE(startMechanika());
        for (int value = 1000; value <= 1100; ++value) servo_xk = value, servo_x = value, servo_greitisX = 300;
        joinMechanika();
        EXPECT_EQ(servo_xk * 10000 + servo_x, 1100 * 10000 + 1100) << "round " << round;
    }
    std::set<std::string> allowedPan = {"#7 P2100 S400 |", "#7 P2100 S300 |"};
    for (int value = 1000; value <= 1100; ++value)
        for (int speed : {300, 400}) allowedPan.insert("#7 P" + std::to_string(value) + " S" + std::to_string(speed) + " |");
    for (const std::string& line : simulator.waitForLines(60))
        if (line.rfind("#7", 0) == 0) EXPECT_TRUE(allowedPan.count(line)) << line;
}

TEST_F(MechanicsStep, ChassisPulseLastsItsDurationAndOnlyDirectionOneDrives) {
    platform::useBoard(board);
    RB0 = RB2 = 1;
    EXPECT_EQ(vaziuokle(0, 1) * 10 + vaziuokle(2, 1), 2);
    EXPECT_TRUE(board->calls().empty());
    const struct {
        int advanceMs, rb0, rb2;  // RB0 and RB2 set before the call (-1: left as they are)
        Lines calls;
        int rb0After;
    } steps[] = {
        {0, -1, -1, kPinsLow, 0}, {4, -1, -1, {}, 0}, {1, -1, -1, kPinsHigh, 1},
        {10, 0, 0, kPinsHigh, 1},  // low pins with an old pulse (the board panel lowered them) rise at once
    };
    for (const auto& step : steps) {
        platform::advanceMs(step.advanceMs);
        if (step.rb0 >= 0) RB0 = step.rb0, RB2 = step.rb2;
        board->clearCalls();
        EXPECT_EQ(vaziuokle(1, 5), 1) << step.advanceMs;
        EXPECT_EQ(board->calls(), step.calls) << step.advanceMs;
        EXPECT_EQ(RB0 * 10 + RB2, step.rb0After * 11) << step.advanceMs;
    }
    EXPECT_EQ(chassis::Status, 0);
    platform::useBoard(nullptr);  // no board: the call fails, the cached level still changes
    vaziuokle(1, 1);
    EXPECT_EQ(RB0 * 1000 + chassis::Status, platform::kNoBoardStatus);
    lptout(lptportas, 0x55);  // no parallel port here: silently nothing
    lptout(12345, 0x55);
}

}  // namespace
