#pragma once
// The chassis I/O board behind a small backend, and the PC's parallel port.
// There is no Linux library for the robot's USB board, so the default backend
// reports "no board"; tests plug in the simulated board below.

#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

// The board's six operations; every result is a status, 0 = success.
class BoardBackend {
public:
    virtual ~BoardBackend() = default;
    virtual int openHandle() = 0;
    virtual int initialize(int device) = 0;
    virtual int configurePinAsOutput(int device, int port, int pin, int level) = 0;
    virtual int configurePinAsInput(int device, int port, int pin) = 0;
    virtual int readPort(int device, int port, unsigned char* value) = 0;
    virtual int closeHandle() = 0;
};

// Status of every call when no board is present.
constexpr int kNoBoardStatus = -1;

class NoBoard : public BoardBackend {
public:
    int openHandle() override { return kNoBoardStatus; }
    int initialize(int) override { return kNoBoardStatus; }
    int configurePinAsOutput(int, int, int, int) override { return kNoBoardStatus; }
    int configurePinAsInput(int, int, int) override { return kNoBoardStatus; }
    int readPort(int, int, unsigned char*) override { return kNoBoardStatus; }
    int closeHandle() override { return kNoBoardStatus; }
};

// A board in memory: five ports of eight pins, each an input or an output with
// a level; inputs read the levels a test sets. Every call is recorded, e.g.
// "ConfigurePinAsOutput(0,1,3,1)". Safe to call from several threads.
class SimulatedBoard : public BoardBackend {
public:
    static constexpr int kPorts = 5;  // A, B, C, D, E

    int openHandle() override;
    int initialize(int device) override;
    int configurePinAsOutput(int device, int port, int pin, int level) override;
    int configurePinAsInput(int device, int port, int pin) override;
    int readPort(int device, int port, unsigned char* value) override;
    int closeHandle() override;

    // Test controls.
    void setOpenStatus(int status);
    void setInitializeStatus(int status);
    void setPinStatus(int status);  // result of the pin calls
    void setInputLevels(int port, unsigned char levels);

    // What the board looks like now.
    bool opened() const;
    bool isOutput(int port, int pin) const;
    int level(int port, int pin) const;  // driven level of an output pin
    std::vector<std::string> calls() const;
    void clearCalls();

private:
    bool validPin(int device, int port, int pin) const;
    void record(const std::string& call);

    mutable std::mutex lock_;
    bool opened_ = false;
    int openStatus_ = 0;
    int initializeStatus_ = 0;
    int pinStatus_ = 0;
    std::array<unsigned char, kPorts> outputs_{};  // bit n set: pin n is an output
    std::array<unsigned char, kPorts> driven_{};   // levels of the output pins
    std::array<unsigned char, kPorts> inputs_{};   // levels seen on the input pins
    std::vector<std::string> calls_;
};

// The backend the robot talks to (NoBoard until another is installed).
std::shared_ptr<BoardBackend> board();
// Installs a backend; nullptr goes back to NoBoard.
void useBoard(std::shared_ptr<BoardBackend> backend);

// Writes value to the data lines of parallel port index (0 = /dev/parport0)
// through the kernel's parport interface; false, silently, when it cannot.
bool writeParallelPort(int index, unsigned char value);

}  // namespace platform
