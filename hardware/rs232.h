#pragma once
// The robot's RS-232 layer: sixteen ports by index (0 = COM1), each opened at
// 8-N-1 and one of the table's baud rates. Reads never wait; writes complete.
// Port index n is ./COM<n+1> in the working directory when that exists
// (ln -s /dev/ttyUSB0 COM2), otherwise /dev/ttyS<n>.
//
// One lock per port: a command and its CR (sendCommand) go on the wire as one
// unit even when the mechanics thread and the main thread both send.

#include <functional>

constexpr int kComportCount = 16;
constexpr int kPollLimit = 4096;  // most bytes one PollComport hands back

// 0 when the port is open and configured, 1 on any failure (with a line on the console).
int OpenComport(int comport_number, int baudrate);
// Bytes already arrived, at most size and never more than 4096; 0 when none.
int PollComport(int comport_number, unsigned char* buf, int size);
// Writes one byte; always 0 (a port that is not open swallows it).
int SendByte(int comport_number, unsigned char byte);
// Writes size bytes; the count written, or -1 when the write failed.
int SendBuf(int comport_number, unsigned char* buf, int size);
void CloseComport(int comport_number);
// 1 when the port's CTS input is on, else 0.
int IsCTSEnabled(int comport_number);
// Sends the bytes of text one by one (no terminating zero, no line end).
void cprintft(int comport_number, const char* text);

// True while the port is open. A vanished device closes it; once the device is
// back (plugged in again), the next command opens it again with the same settings.
bool ComportOpen(int comport_number);

// One command text followed by CR, as one unit on the wire.
void sendCommand(int comport_number, const char* text);
// Like sendCommand, first dropping bytes left over from earlier replies, so that
// the reply read next belongs to this query.
void sendQuery(int comport_number, const char* text);

// When a reply counts as complete (bytes so far, their count).
using ReplyComplete = std::function<bool(const unsigned char* reply, int count)>;

// The robot's request/reply wait: sleeps waitMs on the robot's clock, then takes
// what has arrived (at most size bytes). In virtual time (tests) the clock passes
// at once while a real device still needs real time, so the reply then gets a
// bounded real grace until complete() says it is whole.
int awaitReply(int comport_number, unsigned char* buf, int size, int waitMs, const ReplyComplete& complete);
