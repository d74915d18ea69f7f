// The hardware test panels and the board's start-up, with the simulated board
// and scripted keys.

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <vector>

#include "platform/clock.h"
#include "platform/keys.h"
#include "tests/hardware/hardware_fixture.h"

namespace {

using hwtest::HardwareTest;
using robotest::Ssc32Simulator;
using Lines = std::vector<std::string>;

class BoardPanel : public HardwareTest {
protected:
    void SetUp() override {
        HardwareTest::SetUp();
        platform::useBoard(board);
        board->openHandle();
    }
    std::shared_ptr<platform::SimulatedBoard> board = std::make_shared<platform::SimulatedBoard>();
};

TEST_F(BoardPanel, PinKeyTogglesItsPortBPinAndShowsItsLevel) {
    platform::scriptKeys("3");
    board->clearCalls();
    platform::scriptKeys("3m");
    eproaktyv();
    const Lines calls = board->calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[0], "ConfigurePinAsOutput(0,1,3,1)");
    EXPECT_NE(std::find(calls.begin(), calls.end(), "ConfigurePinAsOutput(0,1,3,0)"), calls.end());
    EXPECT_EQ(row(33).substr(1, 8), "RB3 = 0 ");
    EXPECT_EQ(RB3, 0);
    EXPECT_EQ(board->level(1, 3), 0);
    EXPECT_TRUE(board->isOutput(1, 3));
    EXPECT_NE(screen().find("[0-7] - eProDas"), std::string::npos);
}

TEST_F(BoardPanel, FirstPressRaisesThePin) {
    platform::scriptKeys("5m");
    eproaktyv();
    EXPECT_EQ(row(35).substr(1, 7), "RB5 = 1");
    EXPECT_EQ(board->level(1, 5), 1);
    EXPECT_EQ(InitialState, 1);
    EXPECT_EQ(Pin, 5);
}

// Ports E and D read 12 and 200 at first, then 5 (bits 2 and 0) and 4 (bit 2).
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
    EXPECT_EQ(row(33).substr(42, 21), "Porto 4  reiksme: 5  ");  // no digits left from 12
    EXPECT_EQ(row(33).substr(11, 21), "Porto 3  reiksme: 4  ");
    EXPECT_EQ(charAt(43, 35), '0');
    EXPECT_EQ(charAt(47, 35), '1');
    EXPECT_EQ(charAt(51, 35), '0');
    EXPECT_EQ(charAt(55, 35), '1');
    EXPECT_EQ(attrAt(20, 40), 96);
    EXPECT_EQ(attrAt(40, 50), 96);
    EXPECT_EQ(attrAt(40, 40), 64);
    EXPECT_EQ(attrAt(22, 50), 64);
    EXPECT_EQ(row(52).substr(28, 7), "PRIEKIS");
    EXPECT_EQ(attrAt(29, 52), 32);
    std::string portD;
    for (int x = 12; x <= 26; x += 2) portD += static_cast<char>(charAt(x, 35));
    EXPECT_EQ(portD, "00000100");
    EXPECT_EQ(eProInputE, 5);
}

TEST_F(BoardPanel, MissingBoardIsShownForTwoSecondsAfterTheFirstPass) {
    StatuseProDas = platform::kNoBoardStatus;
    platform::scriptKeys(",");
    const long long before = platform::nowMs();
    eproaktyv();
    EXPECT_EQ(text(44).substr(6), "Neprijungtas eProdas valdiklis  klaida : -1");
    EXPECT_GE(platform::nowMs() - before, 2000);
    EXPECT_EQ(servo_x, 1390);  // the head key of that pass still ran
}

TEST_F(BoardPanel, FailedPin7ToggleEndsThePanel) {
    board->setPinStatus(9);
    platform::scriptKeys("7");
    eproaktyv();
    EXPECT_EQ(StatuseProDas, 9);
    EXPECT_NE(row(44).find("klaida : 9"), std::string::npos);
}

class ServoPanel : public HardwareTest {};

TEST_F(ServoPanel, HeadKeysMoveByTenUntilTheLimitAndCentreAtFullSpeed) {
    Ssc32Simulator simulator(dir(), "COM2", "1110");
    ASSERT_TRUE(openSimulatorPort(simulator));
    servo_x = 720;
    platform::scriptKeys(",,,qsm");
    ssc32inDemo();
    EXPECT_EQ(servo_x, 1400);
    const Lines lines = simulator.waitForLines(15);
    const Lines expected = {"#7 P710 S400 |",  "#0 P1850 S300 |", "A B C D", "#7 P700 S400 |",
                            "#0 P1850 S300 |", "A B C D",         "#7 P700 S400 |", "#0 P1850 S300 |",
                            "A B C D",         "#7 P700 S400 |",  "#0 P1840 S300 |", "A B C D",
                            "#7 P1400 S600 |", "#0 P1850 S500 |", "A B C D"};
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(daviklisSSC, 128);
    EXPECT_NE(screen().find("[0-7] - SSC32"), std::string::npos);
    EXPECT_EQ(servo_greitisX, 600);
}

TEST_F(ServoPanel, RunsWithoutControllerOrCameras) {
    platform::scriptKeys(".am");
    ssc32inDemo();
    EXPECT_EQ(servo_x, 1410);
    EXPECT_EQ(servo_y, 1860);
    EXPECT_EQ(text(55), "");
    EXPECT_EQ(row(12).substr(30, 24), " Rezoliucija :  320x240.");
    const std::string library = cv::format(" OpenCV  %s (%d.%d.%d)", CV_VERSION, CV_VERSION_MAJOR, CV_VERSION_MINOR,
                                           CV_VERSION_REVISION);
    EXPECT_EQ(row(13).substr(30, library.size()), library);
}

class BoardStartUp : public HardwareTest {
protected:
    std::shared_ptr<platform::SimulatedBoard> board = std::make_shared<platform::SimulatedBoard>();
};

TEST_F(BoardStartUp, OpensInitialisesAndLeavesPortBAsInputs) {
    platform::useBoard(board);
    sysinitasBoard();
    EXPECT_EQ(text(46).substr(3), "Prijungtas 'eProDas', USB vaziuokles valdiklis");
    EXPECT_EQ(attrAt(4, 46), 32);
    EXPECT_EQ(text(48).substr(3), "'eProDas' valdiklis inicializavosi");
    EXPECT_EQ(StatuseProDas, 0);
    Lines expected = {"OpenHandle()", "Initialize(0)"};
    for (int pin = 0; pin < 8; ++pin) expected.push_back("ConfigurePinAsOutput(0,1," + std::to_string(pin) + ",1)");
    for (int pin = 0; pin < 4; ++pin) expected.push_back("ConfigurePinAsInput(0,4," + std::to_string(pin) + ")");
    for (int pin = 0; pin < 8; ++pin) expected.push_back("ConfigurePinAsInput(0,1," + std::to_string(pin) + ")");
    EXPECT_EQ(board->calls(), expected);
    for (int pin = 0; pin < 8; ++pin) EXPECT_FALSE(board->isOutput(1, pin));
}

TEST_F(BoardStartUp, MissingBoardIsReportedOnBothRows) {
    sysinitasBoard();
    EXPECT_EQ(text(46).substr(3), "Neprijungtas 'eProDas', USB vaziuokles valdiklis");
    EXPECT_EQ(attrAt(4, 46), 192);
    EXPECT_EQ(text(48).substr(3), "'eProdas' valdiklio inicializacijos KLAIDA");
    EXPECT_EQ(attrAt(4, 48), 192);
    EXPECT_NE(StatuseProDas, 0);
}

TEST_F(BoardStartUp, FailedInitialisationSkipsThePins) {
    board->setInitializeStatus(3);
    platform::useBoard(board);
    sysinitasBoard();
    EXPECT_EQ(StatuseProDas, 3);
    EXPECT_EQ(board->calls(), (Lines{"OpenHandle()", "Initialize(0)"}));
    EXPECT_NE(row(48).find("KLAIDA"), std::string::npos);
}

}  // namespace
