// The mechanics step on its worker thread, and the chassis pulse it drives.

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "platform/clock.h"
#include "tests/hardware/hardware_fixture.h"

namespace {

using hwtest::HardwareTest;
using robotest::Ssc32Simulator;
using Lines = std::vector<std::string>;

class MechanicsStep : public HardwareTest {};

void runOneStep() {
    ASSERT_TRUE(startMechanika());
    EXPECT_FALSE(startMechanika()) << "a second step while one runs";
    joinMechanika();
    EXPECT_FALSE(mechanikaRunning());
}

TEST_F(MechanicsStep, TwoStepsInARowSendTheSameCommandsAndFlipTheFlag) {
    Ssc32Simulator simulator(dir(), "COM2", "1110");
    ASSERT_TRUE(openSimulatorPort(simulator));
    const int flagBefore = daviklisePD;
    runOneStep();
    EXPECT_EQ(daviklisePD, 1 - flagBefore);
    EXPECT_EQ(text(58).substr(3), "Daviklis eProDas= " + std::to_string(1 - flagBefore));
    EXPECT_EQ(text(59).substr(3), "Daviklis SSC32  = 128");
    runOneStep();
    EXPECT_EQ(daviklisePD, flagBefore);
    const Lines step = {"#7 P1400 S400 |", "#0 P1850 S300 |", "A B C D"};
    Lines both = step;
    both.insert(both.end(), step.begin(), step.end());
    EXPECT_EQ(simulator.waitForLines(6), both);
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
        for (int value = 1000; value <= 1100; ++value) {
            servo_xk = value;
            servo_x = value;
            servo_greitisX = 300;
        }
        joinMechanika();
        EXPECT_EQ(servo_xk, 1100) << "round " << round;
        EXPECT_EQ(servo_x, 1100) << "round " << round;
    }
    std::set<std::string> allowedPan = {"#7 P2100 S400 |", "#7 P2100 S300 |"};
    for (int value = 1000; value <= 1100; ++value)
        for (int speed : {300, 400}) allowedPan.insert("#7 P" + std::to_string(value) + " S" + std::to_string(speed) + " |");
    for (const std::string& line : simulator.waitForLines(60))
        if (line.rfind("#7", 0) == 0) {
            EXPECT_TRUE(allowedPan.count(line)) << line;
        }
}

TEST_F(MechanicsStep, StepsPulseTheChassisWhenADirectionIsSet) {
    auto board = std::make_shared<platform::SimulatedBoard>();
    platform::useBoard(board);
    RB0 = 1;
    RB2 = 1;
    vazDR = 1;
    runOneStep();  // lowers both pins; the pulse has not lasted 1 ms yet
    EXPECT_EQ(board->calls(), (Lines{"ConfigurePinAsOutput(0,1,0,0)", "ConfigurePinAsOutput(0,1,2,0)"}));
    runOneStep();  // the input query's 3 ms have passed: both pins go high again
    EXPECT_EQ(board->level(1, 0), 1);
    EXPECT_EQ(board->level(1, 2), 1);
    EXPECT_EQ(RB0, 1);
    EXPECT_EQ(RB2, 1);
}

class ChassisDrive : public HardwareTest {
protected:
    void SetUp() override {
        HardwareTest::SetUp();
        platform::useBoard(board);
    }
    std::shared_ptr<platform::SimulatedBoard> board = std::make_shared<platform::SimulatedBoard>();
};

TEST_F(ChassisDrive, PulseLastsAtLeastItsDuration) {
    RB0 = 1;
    RB2 = 1;
    EXPECT_EQ(vaziuokle(1, 5), 1);
    EXPECT_EQ(board->calls(), (Lines{"ConfigurePinAsOutput(0,1,0,0)", "ConfigurePinAsOutput(0,1,2,0)"}));
    EXPECT_EQ(RB0, 0);
    board->clearCalls();
    platform::advanceMs(4);
    vaziuokle(1, 5);
    EXPECT_TRUE(board->calls().empty());
    platform::advanceMs(1);
    vaziuokle(1, 5);
    EXPECT_EQ(board->calls(), (Lines{"ConfigurePinAsOutput(0,1,0,1)", "ConfigurePinAsOutput(0,1,2,1)"}));
    EXPECT_EQ(RB0, 1);
    EXPECT_EQ(RB2, 1);
    EXPECT_EQ(chassis::Status, 0);
}

TEST_F(ChassisDrive, LowPinsWithAnOldPulseRiseAtOnce) {
    RB0 = 1;
    RB2 = 1;
    vaziuokle(1, 1);
    platform::advanceMs(10);
    vaziuokle(1, 1);
    board->clearCalls();
    RB0 = 0;  // the board panel lowered both meanwhile
    RB2 = 0;
    vaziuokle(1, 1);
    EXPECT_EQ(board->calls(), (Lines{"ConfigurePinAsOutput(0,1,0,1)", "ConfigurePinAsOutput(0,1,2,1)"}));
}

TEST_F(ChassisDrive, OtherDirectionsAndMissingBoardChangeNothingHarmful) {
    RB0 = 1;
    EXPECT_EQ(vaziuokle(0, 1), 0);
    EXPECT_EQ(vaziuokle(2, 1), 2);
    EXPECT_TRUE(board->calls().empty());

    platform::useBoard(nullptr);  // no board: the call fails, the cached level still changes
    vaziuokle(1, 1);
    EXPECT_EQ(RB0, 0);
    EXPECT_EQ(chassis::Status, platform::kNoBoardStatus);
    lptout(lptportas, 0x55);  // no parallel port here: silently nothing
    lptout(12345, 0x55);
}

}  // namespace
