#pragma once
// TCP sockets for the recogniser connection: the client steps (look-up, socket,
// bind, connect), byte-wise receive, whole sends, the readiness wait of the
// keyboard/socket multiplexer, and the listening side used by the recogniser
// stand-in. Failures leave errno set; windowsSocketError() turns it into the
// error numbers the robot's messages are keyed on.

#include <cstddef>
#include <cstdint>

namespace platform {

// IPv4 address of a host name, in network byte order; false when it is unknown.
bool lookUpHost(const char* host, std::uint32_t& address);

// A new IPv4 stream socket, or -1.
int openTcpSocket();
// Binds to any local address and a port the system chooses.
bool bindAnyLocalPort(int fd);
// Connects to address (network order) and port (host order).
bool connectTcp(int fd, std::uint32_t address, int port);
void closeSocket(int fd);
// Ends both directions of a connection; a reader blocked on it wakes to see it
// closed. The descriptor stays open until closeSocket.
void shutdownSocket(int fd);

// True when fd is an open socket; otherwise false with errno ENOTSOCK or EBADF.
bool isSocket(int fd);

// Sends all bytes (no signal when the other end has gone); false on failure.
bool sendAll(int fd, const char* data, std::size_t count);

// Reads one byte: 1 read, 0 the other end closed, -1 failure (errno set).
// Interrupted reads are retried.
int receiveByte(int fd, char& byte);

// Reads what has arrived, up to count bytes, waiting for at least one: the
// number read, 0 when the other end closed, -1 on failure.
long receiveSome(int fd, char* buffer, std::size_t count);

// Waits up to timeoutMs for fd to become readable (or closed by the other end):
// 1 ready, 0 timed out, -1 failure (errno set). The wait is real; in virtual
// time a wait that times out also moves the robot's clock on by timeoutMs.
int waitReadable(int fd, int timeoutMs);

// Error numbers of the robot's original socket library for an errno value:
// EBADF and ENOTSOCK 10038, EINVAL 10022, EINTR 10004, EFAULT 10014,
// ENETDOWN 10050; 0 for any other.
int windowsSocketError(int errnoValue);

// Server side: a socket listening on 127.0.0.1:port with address reuse on, or -1.
int listenOnLoopback(int port);
// Accepts one client, or -1.
int acceptClient(int listenFd);

}  // namespace platform
