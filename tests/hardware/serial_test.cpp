// The serial layer on a real pseudo-terminal: what goes on the wire, what is
// refused, and what happens when the far end goes away.

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "tests/hardware/hardware_fixture.h"

namespace {

using robotest::PtyPeer;
using SerialPort = hwtest::HardwareTest;

TEST_F(SerialPort, RefusalsAreReportedAndLeaveThePortClosed) {
    PtyPeer peer(dir(), "COM2");
    ASSERT_EQ(symlink("/dev/robotas-no-such-port", "COM3"), 0);
    std::ofstream("COM4") << "not a serial line";
    const struct {
        int port, rate;
        const char* said;
    } refusals[] = {{16, 115200, "illegal comport number"},     {-1, 115200, "illegal comport number"},
                    {1, 14400, "Blogas COM porto greitis"},     {1, 230400, "Blogas COM porto greitis"},  // the line could, the robot does not
                    {2, 115200, "Negaliu atidaryti COM porto"}, {3, 115200, "unable to set comport dcb settings"}};
    for (const auto& r : refusals) {
        EXPECT_EQ(OpenComport(r.port, r.rate), 1) << r.said;
        EXPECT_NE(screen().find(r.said), std::string::npos) << r.said;
        EXPECT_FALSE(ComportOpen(r.port)) << r.said;
    }
    // Commands to a port that never opened go nowhere, quietly.
    unsigned char bytes[] = {'a', 'b'};
    EXPECT_EQ(SendByte(2, 'x') + SendBuf(2, bytes, 2) + IsCTSEnabled(2) + PollComport(-1, nullptr, 10), -1);
    for (int rate : {110, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 128000, 256000}) {
        EXPECT_EQ(OpenComport(1, rate), 0) << rate;
        ASSERT_EQ(OpenComport(1, rate), 0) << "replaces its own handle";
        CloseComport(1);
        EXPECT_FALSE(ComportOpen(1));
    }
}

TEST_F(SerialPort, ExactBytesGoOnTheWireUntilTheDeviceVanishes) {
    PtyPeer peer(dir());
    ASSERT_EQ(OpenComport(1, 115200), 0);
    cprintft(1, "");
    EXPECT_EQ(peer.receive(1, 0), "");
    cprintft(1, "#7 P1400 S400 |");
    SendByte(1, 13);
    unsigned char bytes[] = {0, 255, 13, 10};
    EXPECT_EQ(SendBuf(1, bytes, 4), 4);
    EXPECT_EQ(peer.receive(20), std::string("#7 P1400 S400 |\r\0\xff\r\n", 20));  // raw: no translation of CR or LF
    // The device goes: the port closes and later commands go nowhere.
    peer.close();
    EXPECT_EQ(PollComport(1, bytes, sizeof bytes), 0);
    sendCommand(1, "#7 P1400 S400 |");
    EXPECT_FALSE(ComportOpen(1));
    EXPECT_EQ(SendByte(1, 13) + IsCTSEnabled(1), 0);
    CloseComport(1);  // closing a port that already went is harmless
}

TEST_F(SerialPort, LongInputIsReadOverSeveralPollsWithoutLossOrOverrun) {
    PtyPeer peer(dir());
    ASSERT_EQ(OpenComport(1, 115200), 0);
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
}

TEST_F(SerialPort, CommandsFromTwoThreadsNeverInterleaveOnTheWire) {
    PtyPeer peer(dir());
    ASSERT_EQ(OpenComport(1, 115200), 0);
    constexpr int kCommandsEach = 150;
    const std::string pan = "#7 P1400 S400 |", tilt = "#0 P1850 S300 |";
    auto sender = [&](const std::string& text) {
        for (int i = 0; i < kCommandsEach; ++i) sendCommand(1, text.c_str());
    };
    std::thread a(sender, pan), b(sender, tilt);
    std::istringstream wire(peer.receive(2 * kCommandsEach * (pan.size() + 1), 5000));
    a.join();
    b.join();
    int pans = 0, tilts = 0;
    for (std::string line; std::getline(wire, line, '\r');) {
        ASSERT_TRUE(line == pan || line == tilt) << "mixed command: " << line;
        (line == pan ? pans : tilts)++;
    }
    EXPECT_EQ(pans * 1000 + tilts, kCommandsEach * 1001);
}

}  // namespace
