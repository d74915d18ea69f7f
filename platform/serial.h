#pragma once
// Serial devices on Linux: one port opened exclusively, 8 data bits, no parity,
// 1 stop bit, raw bytes, no flow control. Reads never wait; writes wait until
// their bytes are handed to the device, but never longer than a bounded time.

#include <cstddef>
#include <string>

namespace platform {

// Why an open failed, in the order the steps are tried.
enum class SerialOpenResult {
    Opened,
    CannotOpen,        // no such device, no permission, or in use by another program
    NotATerminal,      // the path is not a serial device (its line settings cannot be read)
    SettingsRefused,   // the device refused the line settings
    SpeedRefused,      // the device cannot run at the baud rate asked for
    TimeoutsRefused,   // non-waiting reads could not be set up
};

// Opens path for reading and writing as an exclusive serial line at baud
// (any rate: the common ones by their speed codes, others as a custom rate).
// On success fd holds the open descriptor; on failure nothing stays open.
SerialOpenResult openSerial(const std::string& path, int baud, int& fd);

// Releases the exclusive claim and closes the descriptor.
void closeSerial(int fd);

// Reads the bytes that have already arrived, at most size, without waiting.
// Returns the count (0 when none), or -1 when the device is gone (unplugged,
// or the far end of a pseudo-terminal closed).
long readSerial(int fd, unsigned char* buf, std::size_t size);

// Writes all size bytes, waiting for room at most timeoutMs in total.
// Returns the count written, or -1 with errno set: a gone device (serialGoneError),
// or ETIMEDOUT when it stayed full.
long writeSerial(int fd, const unsigned char* buf, std::size_t size, int timeoutMs = 500);

// Called with every block of bytes a serial port has taken whole, on the writing
// thread: a simulated head moves with the commands its controller was sent.
// Set once, before any port is written; null: nobody is told.
using SerialWriteObserver = void (*)(const unsigned char* bytes, std::size_t size);
void observeSerialWrites(SerialWriteObserver observer);

// Waits up to timeoutMs of real time for bytes to arrive; true when a read would
// not wait (bytes are waiting, or the device has gone).
bool waitSerialReadable(int fd, int timeoutMs);

// True when the clear-to-send modem line is on (false when the device has no modem lines).
bool serialCtsOn(int fd);

// True for errno values that mean the device has gone away for good.
bool serialGoneError(int error);

}  // namespace platform
