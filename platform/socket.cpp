#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/clock.h"

namespace platform {
namespace {

// Command lines and messages are short and answered at once: send each as it is
// written instead of holding it back for the previous one's acknowledgement.
void sendWithoutDelay(int fd) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace

bool lookUpHost(const char* host, std::uint32_t& address) {
    if (!host) return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) return false;
    address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(found);
    return true;
}

int openTcpSocket() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0 || fd > STDERR_FILENO) return fd;
    // With a standard stream closed the socket could get number 0..2; the robot
    // reads 1 as "not connected", so keep sockets above the standard streams.
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    close(fd);
    return moved;
}

bool bindAnyLocalPort(int fd) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = 0;
    return bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
}

bool connectTcp(int fd, std::uint32_t address, int port) {
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_addr.s_addr = address;
    remote.sin_port = htons(static_cast<std::uint16_t>(port));
    for (;;) {
        if (connect(fd, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0) {
            sendWithoutDelay(fd);
            return true;
        }
        if (errno != EINTR) return false;
    }
}

void closeSocket(int fd) {
    if (fd >= 0) close(fd);
}

void shutdownSocket(int fd) {
    if (fd >= 0) shutdown(fd, SHUT_RDWR);
}

bool isSocket(int fd) {
    if (fd < 0) {
        errno = EBADF;
        return false;
    }
    int type = 0;
    socklen_t length = sizeof type;
    return getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) == 0;
}

bool sendAll(int fd, const char* data, std::size_t count) {
    while (count > 0) {
        const ssize_t sent = send(fd, data, count, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        data += sent;
        count -= static_cast<std::size_t>(sent);
    }
    return true;
}

int receiveByte(int fd, char& byte) {
    for (;;) {
        const ssize_t got = recv(fd, &byte, 1, 0);
        if (got == 1) return 1;
        if (got == 0) return 0;
        if (errno != EINTR) return -1;
    }
}

long receiveSome(int fd, char* buffer, std::size_t count) {
    for (;;) {
        const ssize_t got = recv(fd, buffer, count, 0);
        if (got >= 0 || errno != EINTR) return static_cast<long>(got);
    }
}

int waitReadable(int fd, int timeoutMs) {
    if (!isSocket(fd)) return -1;
    if (timeoutMs < 0) {
        errno = EINVAL;
        return -1;
    }
    pollfd watch{fd, POLLIN, 0};
    const int ready = poll(&watch, 1, timeoutMs);
    if (ready < 0) return -1;
    if (ready == 0) {
        advanceMs(timeoutMs);
        return 0;
    }
    if (watch.revents & POLLNVAL) {
        errno = EBADF;
        return -1;
    }
    return 1;
}

int windowsSocketError(int errnoValue) {
    switch (errnoValue) {
        case EBADF:
        case ENOTSOCK: return 10038;
        case EINVAL: return 10022;
        case EINTR: return 10004;
        case EFAULT: return 10014;
        case ENETDOWN: return 10050;
        default: return 0;
    }
}

int listenOnLoopback(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return -1;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    local.sin_port = htons(static_cast<std::uint16_t>(port));
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 || listen(fd, 1) != 0) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

int acceptClient(int listenFd) {
    for (;;) {
        const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) sendWithoutDelay(fd);
        if (fd >= 0 || errno != EINTR) return fd;
    }
}

}  // namespace platform
