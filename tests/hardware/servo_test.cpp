// The servo controller protocol against the simulator on a real pseudo-terminal:
// head commands, input readings, the start-up probe and the shutdown.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/clock.h"
#include "platform/terminal.h"
#include "tests/hardware/hardware_fixture.h"

namespace {

using hwtest::Lines;
using robotest::Ssc32Simulator;
using ServoController = hwtest::HardwareTest;

// Positions and speeds -> the commands shown on rows 50..53 and sent, pan first.
TEST_F(ServoController, HeadCommandsAreClampedShownAndSentPanFirst) {
    Ssc32Simulator simulator(dir());
    ASSERT_TRUE(openSimulatorPort(simulator));
    const struct {
        int x, y, speedX, speedY;
        Lines sent;
    } cases[] = {
        {2500, 1850, 400, 300, {"#7 P2100 S400 |", "#0 P1850 S300 |"}},
        {1400, 1000, 100, 5, {"#7 P1400 S200 |", "#0 P1300 S20 |"}},  // no tail of the longer command before
        {1400, 1000, 700, 700, {"#7 P1400 S600 |", "#0 P1300 S600 |"}},
    };
    Lines sent;
    for (const auto& c : cases) {
        servo_x = c.x, servo_yk = 100, servo_xd = 9000, servo_y = c.y, servo_greitisX = c.speedX, servo_greitisY = c.speedY;
        akys_servo();
        sent.insert(sent.end(), c.sent.begin(), c.sent.end());
        const std::string shown = "Servo X = " + c.sent[0].substr(4, 4) + "/" + c.sent[0] + "/Servo Y = " + c.sent[1].substr(4, 4) + "/" + c.sent[1];
        EXPECT_EQ(text(50).substr(6) + "/" + text(51).substr(6) + "/" + text(52).substr(6) + "/" + text(53).substr(6), shown);
    }
    EXPECT_EQ(cv::Vec3i(servo_yk, servo_xd, servo_greitisX), cv::Vec3i(1300, 2100, 600));  // the clamped values stay
    EXPECT_EQ(simulator.waitForLines(6), sent);
}

TEST_F(ServoController, InputRepliesDecodeIntoTheMaskWithinTheWaitInRealTime) {
    Ssc32Simulator simulator(dir(), "COM2", "1110");
    ASSERT_TRUE(openSimulatorPort(simulator));
    // Each reply in A B C D order ('0' active) after the mask left before it.
    const struct {
        std::string reply;
        unsigned char before, mask;
        const char* shown;  // console row 55 from column 4 ("": not looked at)
    } cases[] = {
        {"1110", 0, 128, "A B C D : 1110     'SSC32' atsakymas: 4 baitai."},  // only D
        {"0000", 128, 240, ""},
        {"0111", 0, 1, ""},    // only A
        {"1101", 1, 5, ""},    // C without D adds to what is there
        {"1010", 5, 160, ""},  // D rebuilds the mask: B and D
        {"\x1b[2J\x9b", 0, 0, "A B C D : .[2J.     'SSC32' atsakymas: 5 baitai."},
        {std::string(40, '0'), 0, 240, "A B C D : 00000000     'SSC32' atsakymas: 8 baitai."},
        {"1110", 0, 128, ""},  // the rest of the long reply is not this reading
        {"00", 0, 3, "A B C D : 00     'SSC32' atsakymas: 2 baitai."},  // missing bytes: not active
        {"", 0, 0, ""},  // no answer: the old reply is not decoded again
    };
    for (const auto& c : cases) {
        simulator.setInputs(c.reply);
        daviklisSSC = c.before;
        EXPECT_EQ(ssc32in() * 1000 + daviklisSSC, c.mask * 1001) << c.reply;
        EXPECT_EQ(row(55).substr(3, std::strlen(c.shown)), c.shown);  // a longer reply's tail may stay
    }
    EXPECT_EQ(attrAt(4, 55), 32);
    EXPECT_EQ(simulator.waitForLines(10), Lines(10, "A B C D"));
    // Real time: the controller's answer must come within the robot's 3 ms wait.
    // A loaded machine may miss some; a line that loses replies misses them all.
    simulator.setInputs("1110");
    platform::useVirtualTime(false);
    constexpr int kQueries = 30;
    int answered = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kQueries; ++i) daviklisSSC = 0, answered += ssc32in() == 128;
    const auto took = std::chrono::steady_clock::now() - start;
    platform::useVirtualTime(true);
    EXPECT_GE(answered, kQueries / 3);
    EXPECT_GE(took, std::chrono::milliseconds(3 * kQueries)) << "each query waits for its answer";
    EXPECT_LT(took, std::chrono::seconds(5));
}

TEST_F(ServoController, ProbeFindsTheControllerAndCentresTheHeadAndWithoutAPortStartUpGoesOn) {
    const long long before = platform::nowMs();
    sysinitasSerial();
    EXPECT_EQ(text(42).substr(3) + "/" + std::to_string(attrAt(4, 42)), "Negaliu atidaryti COM porto :2/192");
    EXPECT_GE(platform::nowMs() - before, 100);
    akys_servo();  // goes nowhere, quietly
    EXPECT_EQ(row(50).substr(6, 14), "Servo X = 1400");

    platform::Terminal::instance().reset();
    Ssc32Simulator simulator(dir());
    ASSERT_TRUE(simulator.running());
    servo_x = 1700;
    sysinitasSerial();
    EXPECT_EQ(text(42).substr(3) + "/" + std::to_string(attrAt(4, 42)), "RS232 portas com 2/32");
    EXPECT_EQ(text(44).substr(3), "Servo ID: SSC32-V2.50.     'SSC32' atsakymas i 'RS232': 12 baitu.");
    EXPECT_EQ(simulator.waitForLines(3), (Lines{"2ver", "#7 P1400 S400 |", "#0 P1850 S300 |"}));
}

// No answer, or one that is not the version (a byte from before the probe is not
// taken as its answer either): reported, and no head command follows.
TEST_F(ServoController, ProbeWithoutTheVersionLeavesTheHeadAlone) {
    const std::string refused = "Neprijungtas 'SSC32', servo valdiklis";
    for (const auto& [answer, shown] : {std::pair<std::string, std::string>{"", refused}, {"xx\r", refused + " 'RS232': 3 baitu."}}) {
        robotest::PtyPeer peer(dir());
        peer.send("?");
        std::thread device([&] {
            if (peer.receive(5) == "2ver\r") peer.send(answer);
        });
        sysinitasSerial();
        device.join();
        EXPECT_EQ(text(44).substr(3) + "/" + std::to_string(attrAt(4, 44)), shown + "/192");
        EXPECT_EQ(peer.receive(1, 50), "");
        daviklisSSC = 7;  // a silent controller leaves the mask and the reply row alone
        EXPECT_EQ(ssc32in(), 7);
        EXPECT_EQ(peer.receive(8) + text(55), "A B C D\r");
        CloseComport(1);
    }
}

TEST_F(ServoController, ShutdownCentresWaitsAndSwitchesBothServosOff) {
    Ssc32Simulator simulator(dir());
    ASSERT_TRUE(openSimulatorPort(simulator));
    platform::useBoard(board);
    servo_x = 800, servo_y = 2000;
    const long long before = platform::nowMs();
    shutdownHead();
    EXPECT_GE(platform::nowMs() - before, 2000);
    EXPECT_EQ(simulator.waitForLines(4), (Lines{"#7 P1400 S400 |", "#0 P1850 S300 |", "#0 P0 S0 |", "#7 P0 S0 |"}));
    closeHardware();
    EXPECT_FALSE(ComportOpen(1));
    EXPECT_EQ(board->calls(), (Lines{"CloseHandle()"}));
}

TEST(ServoRandomLook, StaysBetweenTheLimitsAndNeverAboveTheCentre) {
    platform::seedRand15(7);
    int lowestY = 1 << 30, highestY = 0;
    for (int i = 0; i < 2000; ++i) {
        (i % 2 ? rndservo : paieska_servo)();
        ASSERT_TRUE(servo_x >= 700 && servo_x <= 2100 && servo_y >= 750 && servo_y <= 1850) << servo_x << " " << servo_y;
        ASSERT_EQ(cv::Point(servo_xk, servo_ydsen), cv::Point(servo_x, servo_y));
        lowestY = std::min(lowestY, servo_y.load()), highestY = std::max(highestY, servo_y.load());
    }
    EXPECT_TRUE(lowestY < 800 && highestY > 1800) << "the whole range is reached: " << lowestY << ".." << highestY;
    centreAllServoVariables();
}

}  // namespace
