#include "platform/serial.h"

// The kernel's own line-settings record (termios2) carries any baud rate, so
// that 128000 and 256000, which have no speed code, can be asked for as well.
// Its header clashes with <termios.h>, so this file uses it alone.
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>

namespace platform {
namespace {

struct SpeedCode {
    int baud;
    unsigned code;
};

constexpr SpeedCode kSpeedCodes[] = {
    {110, B110},       {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
    {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

// A custom rate is accepted when the device runs within 3 % of it.
constexpr int kCustomRateTolerancePercent = 3;

unsigned speedCodeOf(int baud) {
    for (const SpeedCode& entry : kSpeedCodes)
        if (entry.baud == baud) return entry.code;
    return BOTHER;
}

// Raw bytes: no line editing, no echo, no translation, no signals, no flow control.
void makeRaw(termios2& settings) {
    settings.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    settings.c_oflag &= ~OPOST;
    settings.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
}

void setSpeed(termios2& settings, int baud) {
    const unsigned code = speedCodeOf(baud);
    settings.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    settings.c_cflag |= code | (code << IBSHIFT);
    settings.c_ispeed = static_cast<speed_t>(baud);
    settings.c_ospeed = static_cast<speed_t>(baud);
}

bool speedClose(speed_t actual, int wanted) {
    const long difference = std::labs(static_cast<long>(actual) - wanted);
    return difference * 100 <= static_cast<long>(wanted) * kCustomRateTolerancePercent;
}

// A write to a vanished peer must not end the robot's program.
void ignoreBrokenPipes() {
    struct sigaction current {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        std::signal(SIGPIPE, SIG_IGN);
}

SerialOpenResult configure(int fd, int baud) {
    termios2 settings{};
    if (ioctl(fd, TCGETS2, &settings) != 0) return SerialOpenResult::NotATerminal;
    makeRaw(settings);
    setSpeed(settings, baud);
    // Reads return at once with whatever has arrived (the descriptor is non-blocking too).
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (ioctl(fd, TCSETS2, &settings) != 0)
        return speedCodeOf(baud) == BOTHER ? SerialOpenResult::SpeedRefused : SerialOpenResult::SettingsRefused;

    termios2 applied{};
    if (ioctl(fd, TCGETS2, &applied) != 0) return SerialOpenResult::SettingsRefused;
    if (speedCodeOf(baud) == BOTHER && !speedClose(applied.c_ospeed, baud)) return SerialOpenResult::SpeedRefused;
    if (applied.c_cc[VMIN] != 0 || applied.c_cc[VTIME] != 0) return SerialOpenResult::TimeoutsRefused;
    ioctl(fd, TCFLSH, TCIOFLUSH);  // forget bytes from before the open
    return SerialOpenResult::Opened;
}

long long realMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

bool serialGoneError(int error) {
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF || error == EPIPE;
}

SerialOpenResult openSerial(const std::string& path, int baud, int& fd) {
    fd = -1;
    ignoreBrokenPipes();
    const int opened = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (opened < 0) return SerialOpenResult::CannotOpen;
    const SerialOpenResult result = configure(opened, baud);
    if (result != SerialOpenResult::Opened) {
        ::close(opened);
        return result;
    }
    ioctl(opened, TIOCEXCL);  // nobody else may open the line while the robot uses it
    fd = opened;
    return result;
}

void closeSerial(int fd) {
    if (fd < 0) return;
    ioctl(fd, TIOCNXCL);  // the claim outlives the descriptor when another holder keeps the line open
    ::close(fd);
}

long readSerial(int fd, unsigned char* buf, std::size_t size) {
    if (fd < 0 || size == 0) return 0;
    for (;;) {
        const ssize_t got = ::read(fd, buf, size);
        if (got >= 0) return static_cast<long>(got);
        if (errno == EINTR) continue;
        return serialGoneError(errno) ? -1 : 0;
    }
}

namespace {
std::atomic<SerialWriteObserver> writeObserver{nullptr};

long writeAll(int fd, const unsigned char* buf, std::size_t size, int timeoutMs) {
    if (fd < 0) return -1;
    const long long deadline = realMs() + timeoutMs;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t put = ::write(fd, buf + done, size - done);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno != EAGAIN) return -1;
        const long long left = deadline - realMs();
        if (left <= 0) {
            errno = ETIMEDOUT;
            return -1;
        }
        pollfd watch{fd, POLLOUT, 0};
        if (::poll(&watch, 1, static_cast<int>(left)) < 0 && errno != EINTR) return -1;
        if (watch.revents & (POLLERR | POLLHUP | POLLNVAL)) {
            errno = EIO;
            return -1;
        }
    }
    return static_cast<long>(done);
}
}  // namespace

void observeSerialWrites(SerialWriteObserver observer) { writeObserver = observer; }

long writeSerial(int fd, const unsigned char* buf, std::size_t size, int timeoutMs) {
    const long written = writeAll(fd, buf, size, timeoutMs);
    const SerialWriteObserver observer = writeObserver.load();
    if (observer && written == static_cast<long>(size)) observer(buf, size);
    return written;
}

bool waitSerialReadable(int fd, int timeoutMs) {
    if (fd < 0) return false;
    pollfd watch{fd, POLLIN, 0};
    const int ready = ::poll(&watch, 1, timeoutMs < 0 ? 0 : timeoutMs);
    // A hang-up counts as readable: the next read reports the device gone.
    return ready > 0 && (watch.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL));
}

bool serialCtsOn(int fd) {
    int lines = 0;
    if (fd < 0 || ioctl(fd, TIOCMGET, &lines) != 0) return false;
    return (lines & TIOCM_CTS) != 0;
}

}  // namespace platform
