// The hardware test panels and the board's start-up, with the simulated board
// and scripted keys.

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/keys.h"
#include "tests/hardware/hardware_fixture.h"

namespace {

using hwtest::Lines;

class BoardPanel : public hwtest::HardwareTest {
protected:
    void SetUp() override {
        HardwareTest::SetUp();
        platform::useBoard(board);
        board->openHandle();
    }
};

// One key -> its effect on the board panel: the pin calls, the row it writes, the head.
TEST_F(BoardPanel, EveryKeyHasItsEffect) {
    const struct {
        const char* keys;
        int statusBefore, pinStatus;
        Lines pinCalls;  // the ConfigurePinAsOutput calls
        int y;
        const char* rowText;  // row y from column 2
        int servoX;
        long long minMs;
    } keys[] = {
        {"33m", 0, 0, {"(0,1,3,1)", "(0,1,3,0)"}, 33, "RB3 = 0 ", 1400, 0},  // each press toggles
        {"5m", 0, 0, {"(0,1,5,1)"}, 35, "RB5 = 1 ", 1400, 0},
        // a failed pin-7 call ends the panel
        {"7", 0, 9, {"(0,1,7,1)"}, 44, "     Neprijungtas eProdas valdiklis  klaida : 9", 1400, 2000},
        // a missing board is shown for two seconds after the first pass, whose head key still ran
        {",", platform::kNoBoardStatus, 0, {}, 44, "     Neprijungtas eProdas valdiklis  klaida : -1", 1390, 2000},
    };
    for (const auto& k : keys) {
        centreAllServoVariables();
        board->clearCalls();
        StatuseProDas = k.statusBefore;
        board->setPinStatus(k.pinStatus);
        platform::scriptKeys(k.keys);
        const long long before = platform::nowMs();
        eproaktyv();
        Lines pinCalls;
        for (const std::string& call : board->calls())
            if (call.rfind("ConfigurePinAsOutput", 0) == 0) pinCalls.push_back(call.substr(20));
        EXPECT_EQ(pinCalls, k.pinCalls) << k.keys;
        EXPECT_EQ(row(k.y).substr(1, std::string(k.rowText).size()), k.rowText) << k.keys;
        EXPECT_EQ(servo_x, k.servoX) << k.keys;
        EXPECT_GE(platform::nowMs() - before, k.minMs) << k.keys;
        EXPECT_EQ(StatuseProDas, k.statusBefore ? k.statusBefore : k.pinStatus) << k.keys;
    }
    EXPECT_EQ(board->level(1, 5) * 10 + board->level(1, 3), 10);
    EXPECT_TRUE(board->isOutput(1, 5));
}

// Ports E and D read 12 and 200 at first, then 5 (bits 2 and 0) and 4 (bit 2):
// no digits stay from the first values.
class FallingInputs : public platform::SimulatedBoard {
public:
    int readPort(int device, int port, unsigned char* value) override {
        const int status = SimulatedBoard::readPort(device, port, value);
        setInputLevels(port, port == 4 ? 5 : 4);
        return status;
    }
};

TEST_F(BoardPanel, PortsEAndDAreShownAsDigitsAndLamps) {
    auto falling = std::make_shared<FallingInputs>();
    falling->setInputLevels(4, 12);
    falling->setInputLevels(3, 200);
    platform::useBoard(falling);
    platform::scriptKeys("xxm");
    eproaktyv();
    robotest::expectScreen("board-panel");
    const int lamps[][3] = {{40, 40, 64}, {20, 40, 96}, {22, 50, 64}, {40, 50, 96}, {29, 52, 32}};  // bits 3 2 1 0 of port E, then PRIEKIS
    for (const auto& lamp : lamps) EXPECT_EQ(attrAt(lamp[0], lamp[1]), lamp[2]) << lamp[0] << "," << lamp[1];
    EXPECT_EQ(eProInputE, 5);
}

TEST_F(BoardPanel, ServoPanelHeadKeysMoveByTenUntilTheLimitAndCentreAtFullSpeed) {
    platform::scriptKeys(".am");  // without controller or cameras
    ssc32inDemo();
    EXPECT_EQ(servo_x * 10000 + servo_y, 1410 * 10000 + 1860);
    robotest::expectScreen("servo-panel");
    robotest::Ssc32Simulator simulator(dir(), "COM2", "1110");
    ASSERT_TRUE(openSimulatorPort(simulator));
    centreAllServoVariables();
    servo_x = 720;
    platform::scriptKeys(",,,qsm");
    ssc32inDemo();
    EXPECT_EQ(cv::Vec3i(servo_x, daviklisSSC, servo_greitisX), cv::Vec3i(1400, 128, 600));
    EXPECT_EQ(simulator.waitForLines(15),
              (Lines{"#7 P710 S400 |", "#0 P1850 S300 |", "A B C D", "#7 P700 S400 |", "#0 P1850 S300 |", "A B C D",
                     "#7 P700 S400 |", "#0 P1850 S300 |", "A B C D", "#7 P700 S400 |", "#0 P1840 S300 |", "A B C D",
                     "#7 P1400 S600 |", "#0 P1850 S500 |", "A B C D"}));
}

TEST_F(BoardPanel, StartUpOpensInitialisesAndLeavesPortBAsInputs) {
    Lines opened = {"OpenHandle()", "Initialize(0)"}, initialised = opened;
    for (int pin = 0; pin < 8; ++pin) initialised.push_back("ConfigurePinAsOutput(0,1," + std::to_string(pin) + ",1)");
    for (int pin = 0; pin < 4; ++pin) initialised.push_back("ConfigurePinAsInput(0,4," + std::to_string(pin) + ")");
    for (int pin = 0; pin < 8; ++pin) initialised.push_back("ConfigurePinAsInput(0,1," + std::to_string(pin) + ")");
    const std::string present = "Prijungtas 'eProDas', USB vaziuokles valdiklis/32/", failed = "'eProdas' valdiklio inicializacijos KLAIDA/192";
    const struct {
        bool present;
        int initStatus;
        Lines calls;
        std::string shown;  // rows 46 and 48 with their colours
    } cases[] = {
        {true, 0, initialised, present + "'eProDas' valdiklis inicializavosi/32"},
        {true, 3, opened, present + failed},
        {false, 0, {}, "Neprijungtas 'eProDas', USB vaziuokles valdiklis/192/" + failed},
    };
    for (const auto& c : cases) {
        board = std::make_shared<platform::SimulatedBoard>();
        board->setInitializeStatus(c.initStatus);
        platform::useBoard(c.present ? board : nullptr);
        sysinitasBoard();
        EXPECT_EQ(text(46).substr(3) + "/" + std::to_string(attrAt(4, 46)) + "/" + text(48).substr(3) + "/" + std::to_string(attrAt(4, 48)), c.shown);
        EXPECT_EQ(board->calls(), c.calls) << c.shown;
        EXPECT_EQ(StatuseProDas, c.present ? c.initStatus : platform::kNoBoardStatus) << c.shown;
    }
    for (int pin = 0; pin < 8; ++pin) EXPECT_FALSE(board->isOutput(1, pin));
}

}  // namespace
