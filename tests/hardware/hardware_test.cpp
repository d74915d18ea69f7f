// The hardware layer: the serial line, the servo controller, the mechanics step, the board and its panels.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "hardware/hardware.h"
#include "platform/board.h"
#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/terminal.h"
#include "tests/support/robot_test.h"
#include "tests/support/ssc32_peer.h"

namespace {

using Lines = std::vector<std::string>;
using robotest::PtyPeer;
using robotest::Ssc32Simulator;

// The serial port links live in the test's own folder.
class HardwareTest : public robotest::RobotTest {
protected:
    void SetUp() override {
        RobotTest::SetUp();
        centreAllServoVariables();
        servo_greitisX = 400, servo_greitisY = 300, daviklisSSC = 0, vazDR = 0, StatuseProDas = 0, cport_nr = 1, bdrate = 115200;
        for (int pin = 0; pin < 8; ++pin) cachedPinLevel(pin) = 0;
        platform::useBoard(nullptr);
    }
    void TearDown() override {
        for (int port = 0; port < kComportCount; ++port) CloseComport(port);
        platform::useBoard(nullptr), RobotTest::TearDown();
    }
    // COM2 on a started simulator.
    static bool openSimulatorPort(const Ssc32Simulator& device) { return device.running() && OpenComport(1, bdrate) == 0; }
    std::shared_ptr<platform::SimulatedBoard> board = std::make_shared<platform::SimulatedBoard>();  // not in use until given
    robotest::ScopedWorkDir workDir;
};
using SerialPort = HardwareTest;
using ServoController = HardwareTest;
using MechanicsStep = HardwareTest;
using BoardPanel = HardwareTest;

TEST_F(SerialPort, RefusalsAreReportedAndLeaveThePortClosed) {
    PtyPeer peer(workDir.path(), "COM2");
    ASSERT_EQ(symlink("/dev/robotas-no-such-port", "COM3"), 0);
    std::ofstream("COM4") << "not a serial line";
    const struct { int port, rate; const char* said; } refusals[] = {
        {16, 115200, "illegal comport number"},     {-1, 115200, "illegal comport number"},
        {1, 14400, "Blogas COM porto greitis"},     {1, 230400, "Blogas COM porto greitis"},  // the line could, the robot does not
        {2, 115200, "Negaliu atidaryti COM porto"}, {3, 115200, "unable to set comport dcb settings"}};
    for (const auto& r : refusals) {
        EXPECT_EQ(OpenComport(r.port, r.rate), 1) << r.said;
        EXPECT_TRUE(screen().find(r.said) != std::string::npos && !ComportOpen(r.port)) << r.said;
    }
    // Commands to a port that never opened go nowhere, quietly.
    unsigned char bytes[] = {'a', 'b'};
    EXPECT_EQ(SendByte(2, 'x') + SendBuf(2, bytes, 2) + IsCTSEnabled(2) + PollComport(-1, nullptr, 10), -1);
    for (int rate : {110, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 128000, 256000}) {
        EXPECT_EQ(OpenComport(1, rate), 0) << rate;
        ASSERT_EQ(OpenComport(1, rate), 0) << "replaces its own handle";
        CloseComport(1);
    }
}

TEST_F(SerialPort, TheWireCarriesWholeCommandsLongInputAndExactBytesUntilTheDeviceVanishes) {
    PtyPeer peer(workDir.path());
    ASSERT_EQ(OpenComport(1, 115200), 0);
    constexpr int kCommandsEach = 150;
    const std::string pan = "#7 P1400 S400 |", tilt = "#0 P1850 S300 |";
    auto sender = [&](const std::string& text) {
        for (int i = 0; i < kCommandsEach; ++i) sendCommand(1, text.c_str());
    };
    std::thread a(sender, pan), b(sender, tilt);
    std::istringstream wire(peer.receive(2 * kCommandsEach * (pan.size() + 1), 5000));
    a.join(), b.join();
    int pans = 0, tilts = 0;
    for (std::string line; std::getline(wire, line, '\r');) {
        ASSERT_TRUE(line == pan || line == tilt) << "mixed command: " << line;
        (line == pan ? pans : tilts)++;
    }
    EXPECT_EQ(pans * 1000 + tilts, kCommandsEach * 1001);

    unsigned char buffer[10000];
    EXPECT_EQ(PollComport(1, buffer, sizeof buffer) + PollComport(1, buffer, 0) + PollComport(1, buffer, -5), 0);
    const std::string sent(6000, 'z');
    std::thread device([&] {
        for (std::size_t accepted = 0; accepted < sent.size();)
            if (const std::size_t put = peer.send(sent.substr(accepted)); put > 0) accepted += put;
            else std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    std::size_t total = 0;
    robotest::waitUntil([&] {
        std::fill(std::begin(buffer), std::end(buffer), 0xA5);
        const int got = PollComport(1, buffer, sizeof buffer);
        EXPECT_TRUE(got >= 0 && got <= kPollLimit) << got;
        EXPECT_EQ(buffer[kPollLimit], 0xA5) << "bytes written past the cap";
        total += static_cast<std::size_t>(std::max(got, 0));
        return total >= sent.size();
    }, 3000);
    device.join();
    EXPECT_EQ(total, sent.size());

    cprintft(1, "");
    EXPECT_EQ(peer.receive(1, 0), "");
    cprintft(1, "#7 P1400 S400 |"), SendByte(1, 13);
    unsigned char bytes[] = {0, 255, 13, 10};
    EXPECT_EQ(SendBuf(1, bytes, 4), 4);
    EXPECT_EQ(peer.receive(20), std::string("#7 P1400 S400 |\r\0\xff\r\n", 20));  // raw: no translation of CR or LF
    peer.close();  // the port closes and later commands go nowhere
    EXPECT_EQ(PollComport(1, bytes, sizeof bytes), 0);
    sendCommand(1, "#7 P1400 S400 |");
    EXPECT_TRUE(!ComportOpen(1) && SendByte(1, 13) + IsCTSEnabled(1) == 0);
    CloseComport(1);  // closing a port that already went is harmless
}

// Positions and speeds -> the commands sent, pan first (shown as on the servo-panel screen).
TEST_F(ServoController, HeadCommandsAreClampedShownAndSentPanFirstAndTheShutdownSwitchesThemOff) {
    Ssc32Simulator simulator(workDir.path());
    ASSERT_TRUE(openSimulatorPort(simulator));
    const struct { int x, y, speedX, speedY; Lines sent; } cases[] = {
        {2500, 1850, 400, 300, {"#7 P2100 S400 |", "#0 P1850 S300 |"}},
        {1400, 1000, 100, 5, {"#7 P1400 S200 |", "#0 P1300 S20 |"}},  // no tail of the longer command before
        {1400, 1000, 700, 700, {"#7 P1400 S600 |", "#0 P1300 S600 |"}},
    };
    Lines sent;
    for (const auto& c : cases) {
        servo_x = c.x, servo_yk = 100, servo_xd = 9000, servo_y = c.y, servo_greitisX = c.speedX, servo_greitisY = c.speedY;
        akys_servo();
        sent.insert(sent.end(), c.sent.begin(), c.sent.end());
    }
    EXPECT_EQ(cv::Vec3i(servo_yk, servo_xd, servo_greitisX), cv::Vec3i(1300, 2100, 600));  // the clamped values stay
    platform::useBoard(board), servo_x = 800, servo_y = 2000, servo_greitisX = 400, servo_greitisY = 300;
    const long long before = platform::nowMs();
    shutdownHead();
    EXPECT_GE(platform::nowMs() - before, 2000);
    for (const char* line : {"#7 P1400 S400 |", "#0 P1850 S300 |", "#0 P0 S0 |", "#7 P0 S0 |"}) sent.push_back(line);
    EXPECT_EQ(simulator.waitForLines(10), sent);
    closeHardware();
    EXPECT_TRUE(!ComportOpen(1) && board->calls() == Lines{"CloseHandle()"});
}

TEST_F(ServoController, InputRepliesDecodeIntoTheMaskWithinTheWaitInRealTime) {
    Ssc32Simulator simulator(workDir.path(), "COM2", "1110");
    ASSERT_TRUE(openSimulatorPort(simulator));
    // Each reply in A B C D order ('0' active) after the mask left before it.
    // shown: console row 55 from column 4 ("": not looked at)
    const struct { std::string reply; unsigned char before, mask; const char* shown; } cases[] = {
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
        simulator.setInputs(c.reply), daviklisSSC = c.before;
        EXPECT_EQ(ssc32in() * 1000 + daviklisSSC, c.mask * 1001) << c.reply;
        EXPECT_EQ(row(55).substr(3, std::strlen(c.shown)), c.shown);  // a longer reply's tail may stay
    }
    EXPECT_EQ(attrAt(4, 55), 32);
    // Real time: the controller's answer must come within the robot's 3 ms wait.
    // A loaded machine may miss some; a line that loses replies misses them all.
    simulator.setInputs("1110"), platform::useVirtualTime(false);
    constexpr int kQueries = 30;
    int answered = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kQueries; ++i) daviklisSSC = 0, answered += ssc32in() == 128;
    const auto took = std::chrono::steady_clock::now() - start;
    platform::useVirtualTime(true);
    EXPECT_GE(answered, kQueries / 3);
    // Each query waits for its answer.
    EXPECT_TRUE(took >= std::chrono::milliseconds(3 * kQueries) && took < std::chrono::seconds(5));
}

TEST_F(ServoController, ProbeFindsTheControllerAndCentresTheHeadAndWithoutAPortStartUpGoesOn) {
    const long long before = platform::nowMs();
    sysinitasSerial();
    EXPECT_EQ(text(42).substr(3) + "/" + std::to_string(attrAt(4, 42)), "Negaliu atidaryti COM porto :2/192");
    EXPECT_GE(platform::nowMs() - before, 100);

    platform::Terminal::instance().reset();
    Ssc32Simulator simulator(workDir.path());
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
        robotest::PtyPeer peer(workDir.path());
        peer.send("?");
        std::thread device([&] {
            if (peer.receive(5) == "2ver\r") peer.send(answer);
        });
        sysinitasSerial();
        device.join();
        EXPECT_EQ(text(44).substr(3) + "/" + std::to_string(attrAt(4, 44)), shown + "/192");
        EXPECT_EQ(peer.receive(1, 50), "");
        daviklisSSC = 7;  // a silent controller leaves the mask and the reply row alone
        EXPECT_TRUE(ssc32in() == 7 && peer.receive(8) + text(55) == "A B C D\r");
        CloseComport(1);
    }
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

const Lines kPinsLow = {"ConfigurePinAsOutput(0,1,0,0)", "ConfigurePinAsOutput(0,1,2,0)"};
const Lines kPinsHigh = {"ConfigurePinAsOutput(0,1,0,1)", "ConfigurePinAsOutput(0,1,2,1)"};

// With a direction set, the steps also pulse the chassis: the first lowers both
// pins, the next (the input query's 3 ms later) raises them again.
TEST_F(MechanicsStep, TwoStepsInARowSendTheSameCommandsFlipTheFlagAndPulseTheChassis) {
    Ssc32Simulator simulator(workDir.path(), "COM2", "1110");
    ASSERT_TRUE(openSimulatorPort(simulator));
    platform::useBoard(board), RB0 = RB2 = vazDR = 1;
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

// Every value the step sends is one the mode wrote, and no write is lost to the clamping.
TEST_F(MechanicsStep, ModeWritingTargetsWhileTheStepRunsLosesNothing) {
    Ssc32Simulator simulator(workDir.path());
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
        EXPECT_TRUE(line.rfind("#7", 0) != 0 || allowedPan.count(line)) << line;
}

TEST_F(MechanicsStep, ChassisPulseLastsItsDurationAndOnlyDirectionOneDrives) {
    platform::useBoard(board), RB0 = RB2 = 1;
    EXPECT_TRUE(vaziuokle(0, 1) == 0 && vaziuokle(2, 1) == 2 && board->calls().empty());
    // rb0, rb2: RB0 and RB2 set before the call (-1: left as they are)
    const struct { int advanceMs, rb0, rb2; Lines calls; int rb0After; } steps[] = {
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

TEST_F(BoardPanel, EveryKeyHasItsEffect) {
    // pinCalls: the ConfigurePinAsOutput calls; rowText: row y from column 2
    const struct { const char* keys; int statusBefore, pinStatus; Lines pinCalls; int y; const char* rowText; int servoX;
                   long long minMs; } keys[] = {
        {"33m", 0, 0, {"(0,1,3,1)", "(0,1,3,0)"}, 33, "RB3 = 0 ", 1400, 0},  // each press toggles
        {"5m", 0, 0, {"(0,1,5,1)"}, 35, "RB5 = 1 ", 1400, 0},
        // a failed pin-7 call ends the panel
        {"7", 0, 9, {"(0,1,7,1)"}, 44, "     Neprijungtas eProdas valdiklis  klaida : 9", 1400, 2000},
        // a missing board is shown for two seconds after the first pass, whose head key still ran
        {",", platform::kNoBoardStatus, 0, {}, 44, "     Neprijungtas eProdas valdiklis  klaida : -1", 1390, 2000},
    };
    platform::useBoard(board), board->openHandle();
    for (const auto& k : keys) {
        centreAllServoVariables(), board->clearCalls(), StatuseProDas = k.statusBefore;
        board->setPinStatus(k.pinStatus), platform::scriptKeys(k.keys);
        const long long before = platform::nowMs();
        eproaktyv();
        Lines pinCalls;
        for (const std::string& call : board->calls())
            if (call.rfind("ConfigurePinAsOutput", 0) == 0) pinCalls.push_back(call.substr(20));
        EXPECT_EQ(pinCalls, k.pinCalls) << k.keys;
        EXPECT_EQ(row(k.y).substr(1, std::string(k.rowText).size()), k.rowText) << k.keys;
        const int status = k.statusBefore ? k.statusBefore : k.pinStatus;
        EXPECT_EQ(cv::Vec2i(servo_x, StatuseProDas), cv::Vec2i(k.servoX, status)) << k.keys;
        EXPECT_GE(platform::nowMs() - before, k.minMs) << k.keys;
    }
    EXPECT_TRUE(board->level(1, 5) == 1 && board->level(1, 3) == 0 && board->isOutput(1, 5));
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
    falling->setInputLevels(4, 12), falling->setInputLevels(3, 200), platform::useBoard(falling);
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
    robotest::Ssc32Simulator simulator(workDir.path(), "COM2", "1110");
    ASSERT_TRUE(openSimulatorPort(simulator));
    centreAllServoVariables(), servo_x = 720, platform::scriptKeys(",,,qsm");
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
    // shown: rows 46 and 48 with their colours
    const struct { bool present; int initStatus; Lines calls; std::string shown; } cases[] = {
        {true, 0, initialised, present + "'eProDas' valdiklis inicializavosi/32"},
        {true, 3, opened, present + failed},
        {false, 0, {}, "Neprijungtas 'eProDas', USB vaziuokles valdiklis/192/" + failed},
    };
    for (const auto& c : cases) {
        board = std::make_shared<platform::SimulatedBoard>(), board->setInitializeStatus(c.initStatus);
        platform::useBoard(c.present ? board : nullptr);
        sysinitasBoard();
        EXPECT_EQ(text(46).substr(3) + "/" + std::to_string(attrAt(4, 46)) + "/" + text(48).substr(3) + "/" + std::to_string(attrAt(4, 48)), c.shown);
        const int status = c.present ? c.initStatus : platform::kNoBoardStatus;
        EXPECT_TRUE(board->calls() == c.calls && StatuseProDas == status) << c.shown;
    }
    for (int pin = 0; pin < 8; ++pin) EXPECT_FALSE(board->isOutput(1, pin));
}

}  // namespace
