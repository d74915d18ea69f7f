#include "hardware/rs232.h"

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/devices.h"
#include "platform/serial.h"
#include "shell/console/f_graph.h"

namespace {

struct ModeText {
    int baud;
    const char* text;
};

// The line settings of every supported rate; all other rates are refused.
constexpr ModeText kModeTexts[] = {
    {110, "baud=110 data=8 parity=N stop=1"},       {300, "baud=300 data=8 parity=N stop=1"},
    {600, "baud=600 data=8 parity=N stop=1"},       {1200, "baud=1200 data=8 parity=N stop=1"},
    {2400, "baud=2400 data=8 parity=N stop=1"},     {4800, "baud=4800 data=8 parity=N stop=1"},
    {9600, "baud=9600 data=8 parity=N stop=1"},     {19200, "baud=19200 data=8 parity=N stop=1"},
    {38400, "baud=38400 data=8 parity=N stop=1"},   {57600, "baud=57600 data=8 parity=N stop=1"},
    {115200, "baud=115200 data=8 parity=N stop=1"}, {128000, "baud=128000 data=8 parity=N stop=1"},
    {256000, "baud=256000 data=8 parity=N stop=1"},
};

// A device that takes no byte for this long is treated as gone, so that a
// stalled peer can never hold the robot up.
constexpr int kWriteStallMs = 200;
// Real time a reply may take in tests, where the robot's clock is virtual.
constexpr int kVirtualReplyGraceMs = 500;

// A controller plugged back after it vanished is opened again at the next
// command, at most this often (real time: a failed open costs one system call).
constexpr long long kReconnectIntervalMs = 200;

struct Port {
    std::recursive_mutex lock;
    int fd = -1;
    // What the last successful open used, and whether the device vanished
    // since (then commands try to open it again; CloseComport stops that).
    std::string path;
    int baudrate = 0;
    bool vanished = false;
    long long lastReconnectMs = 0;
};

Port ports[kComportCount];
char baudr[64];  // line settings of the last open

Port* portAt(int comport_number) {
    if (static_cast<unsigned>(comport_number) >= static_cast<unsigned>(kComportCount)) return nullptr;
    return &ports[comport_number];
}

const char* modeTextOf(int baudrate) {
    for (const ModeText& mode : kModeTexts)
        if (mode.baud == baudrate) return mode.text;
    return nullptr;
}

void reportLine(const char* text) { gf.printf("%s\n", text); }

// A device that vanished (unplugged, or its far end closed) is closed: later
// commands go nowhere, as for a port that never opened, until the device is
// back (reconnectLocked). Caller holds the lock.
void dropVanished(Port& port) {
    platform::closeSerial(port.fd);
    port.fd = -1;
    port.vanished = true;
}

// A vanished device that is back (the controller plugged in again, the link
// pointing at a live line) takes commands again. Caller holds the lock.
void reconnectLocked(Port& port) {
    if (port.fd >= 0 || !port.vanished) return;
    const long long now = platform::realNowMs();
    if (now - port.lastReconnectMs < kReconnectIntervalMs) return;
    port.lastReconnectMs = now;
    int fd = -1;
    if (platform::openSerial(port.path, port.baudrate, fd) == platform::SerialOpenResult::Opened) {
        port.fd = fd;
        port.vanished = false;
    }
}

void sendLocked(Port& port, const unsigned char* bytes, std::size_t count) {
    if (port.fd < 0 || count == 0) return;
    if (platform::writeSerial(port.fd, bytes, count, kWriteStallMs) < 0 &&
        (platform::serialGoneError(errno) || errno == ETIMEDOUT))
        dropVanished(port);
}

// Bounded, so that a device that never stops talking cannot hold the port.
void drainLocked(Port& port) {
    unsigned char scratch[256];
    for (int dropped = 0; port.fd >= 0 && dropped < kPollLimit;) {
        const long got = platform::readSerial(port.fd, scratch, sizeof scratch);
        if (got < 0) dropVanished(port);
        if (got <= 0) break;
        dropped += static_cast<int>(got);
    }
}

}  // namespace

int OpenComport(int comport_number, int baudrate) {
    Port* port = portAt(comport_number);
    if (!port) {
        reportLine("illegal comport number");
        return 1;
    }
    const char* mode = modeTextOf(baudrate);
    if (!mode) {
        reportLine("Blogas COM porto greitis");
        return 1;
    }
    std::snprintf(baudr, sizeof baudr, "%s", mode);

    std::lock_guard<std::recursive_mutex> guard(port->lock);
    if (port->fd >= 0) dropVanished(*port);  // opening again replaces the old handle
    port->vanished = false;
    int fd = -1;
    switch (platform::openSerial(platform::serialPortPath(comport_number), baudrate, fd)) {
        case platform::SerialOpenResult::Opened:
            port->fd = fd;
            port->path = platform::serialPortPath(comport_number);
            port->baudrate = baudrate;
            port->vanished = false;
            return 0;
        case platform::SerialOpenResult::CannotOpen:
            reportLine("Negaliu atidaryti COM porto");
            return 1;
        case platform::SerialOpenResult::NotATerminal:
            reportLine("unable to set comport dcb settings");
            return 1;
        case platform::SerialOpenResult::SettingsRefused:
        case platform::SerialOpenResult::SpeedRefused:
            reportLine("unable to set comport cfg settings");
            return 1;
        case platform::SerialOpenResult::TimeoutsRefused:
            reportLine("unable to set comport time-out settings");
            return 1;
    }
    return 1;
}

int PollComport(int comport_number, unsigned char* buf, int size) {
    Port* port = portAt(comport_number);
    if (!port || !buf || size <= 0) return 0;
    if (size > kPollLimit) size = kPollLimit;
    std::lock_guard<std::recursive_mutex> guard(port->lock);
    const long got = platform::readSerial(port->fd, buf, static_cast<std::size_t>(size));
    if (got < 0) {
        dropVanished(*port);
        return 0;
    }
    return static_cast<int>(got);
}

int SendByte(int comport_number, unsigned char byte) {
    Port* port = portAt(comport_number);
    if (!port) return 0;
    std::lock_guard<std::recursive_mutex> guard(port->lock);
    sendLocked(*port, &byte, 1);
    return 0;
}

int SendBuf(int comport_number, unsigned char* buf, int size) {
    Port* port = portAt(comport_number);
    if (!port || !buf || size < 0) return -1;
    std::lock_guard<std::recursive_mutex> guard(port->lock);
    if (port->fd < 0) return -1;
    const long put = platform::writeSerial(port->fd, buf, static_cast<std::size_t>(size), kWriteStallMs);
    if (put < 0) {
        if (platform::serialGoneError(errno) || errno == ETIMEDOUT) dropVanished(*port);
        return -1;
    }
    return static_cast<int>(put);
}

void CloseComport(int comport_number) {
    Port* port = portAt(comport_number);
    if (!port) return;
    std::lock_guard<std::recursive_mutex> guard(port->lock);
    if (port->fd >= 0) dropVanished(*port);
    port->vanished = false;  // closed on purpose: stays closed
}

int IsCTSEnabled(int comport_number) {
    Port* port = portAt(comport_number);
    if (!port) return 0;
    std::lock_guard<std::recursive_mutex> guard(port->lock);
    return platform::serialCtsOn(port->fd) ? 1 : 0;
}

void cprintft(int comport_number, const char* text) {
    Port* port = portAt(comport_number);
    if (!port || !text) return;
    std::lock_guard<std::recursive_mutex> guard(port->lock);
    for (const char* c = text; *c; ++c) SendByte(comport_number, static_cast<unsigned char>(*c));
}

bool ComportOpen(int comport_number) {
    Port* port = portAt(comport_number);
    if (!port) return false;
    std::lock_guard<std::recursive_mutex> guard(port->lock);
    return port->fd >= 0;
}

void sendCommand(int comport_number, const char* text) {
    Port* port = portAt(comport_number);
    if (!port) return;
    std::lock_guard<std::recursive_mutex> guard(port->lock);
    reconnectLocked(*port);
    cprintft(comport_number, text);
    SendByte(comport_number, 13);
}

void sendQuery(int comport_number, const char* text) {
    Port* port = portAt(comport_number);
    if (!port) return;
    std::lock_guard<std::recursive_mutex> guard(port->lock);
    reconnectLocked(*port);
    drainLocked(*port);
    sendCommand(comport_number, text);
}

int awaitReply(int comport_number, unsigned char* buf, int size, int waitMs, const ReplyComplete& complete) {
    platform::sleepMs(waitMs);
    int got = PollComport(comport_number, buf, size);
    if (!platform::virtualTime()) return got;

    Port* port = portAt(comport_number);
    const long long deadline = platform::realNowMs() + kVirtualReplyGraceMs;
    while (port && got < size && !(complete && complete(buf, got))) {
        const long long left = deadline - platform::realNowMs();
        if (left <= 0) break;
        int fd;
        {
            std::lock_guard<std::recursive_mutex> guard(port->lock);
            fd = port->fd;
        }
        if (fd < 0 || !platform::waitSerialReadable(fd, static_cast<int>(left))) break;
        const int more = PollComport(comport_number, buf + got, size - got);
        if (more == 0 && !ComportOpen(comport_number)) break;
        got += more;
    }
    return got;
}
