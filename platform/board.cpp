#include "platform/board.h"

#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <initializer_list>

namespace platform {
namespace {

constexpr int kSimulatedPinFault = 2;  // status of a call naming a pin the board lacks

std::mutex backendLock;
std::shared_ptr<BoardBackend>& currentBackend() {
    static std::shared_ptr<BoardBackend> backend = std::make_shared<NoBoard>();
    return backend;
}

std::string callText(const char* name, std::initializer_list<int> args) {
    std::string text = std::string(name) + "(";
    bool first = true;
    for (int arg : args) {
        if (!first) text += ",";
        text += std::to_string(arg);
        first = false;
    }
    return text + ")";
}

}  // namespace

std::shared_ptr<BoardBackend> board() {
    std::lock_guard<std::mutex> guard(backendLock);
    return currentBackend();
}

void useBoard(std::shared_ptr<BoardBackend> backend) {
    std::lock_guard<std::mutex> guard(backendLock);
    currentBackend() = backend ? std::move(backend) : std::make_shared<NoBoard>();
}

// --- simulated board ---

bool SimulatedBoard::validPin(int device, int port, int pin) const {
    return device == 0 && port >= 0 && port < kPorts && pin >= 0 && pin < 8;
}

void SimulatedBoard::record(const std::string& call) { calls_.push_back(call); }

int SimulatedBoard::openHandle() {
    std::lock_guard<std::mutex> guard(lock_);
    record("OpenHandle()");
    if (openStatus_ == 0) opened_ = true;
    return openStatus_;
}

int SimulatedBoard::initialize(int device) {
    std::lock_guard<std::mutex> guard(lock_);
    record(callText("Initialize", {device}));
    if (!opened_ || device != 0) return kSimulatedPinFault;
    return initializeStatus_;
}

int SimulatedBoard::configurePinAsOutput(int device, int port, int pin, int level) {
    std::lock_guard<std::mutex> guard(lock_);
    record(callText("ConfigurePinAsOutput", {device, port, pin, level}));
    if (!validPin(device, port, pin)) return kSimulatedPinFault;
    if (pinStatus_ != 0) return pinStatus_;
    const unsigned char bit = static_cast<unsigned char>(1u << pin);
    outputs_[port] |= bit;
    driven_[port] = level ? (driven_[port] | bit) : (driven_[port] & ~bit);
    return 0;
}

int SimulatedBoard::configurePinAsInput(int device, int port, int pin) {
    std::lock_guard<std::mutex> guard(lock_);
    record(callText("ConfigurePinAsInput", {device, port, pin}));
    if (!validPin(device, port, pin)) return kSimulatedPinFault;
    if (pinStatus_ != 0) return pinStatus_;
    outputs_[port] &= static_cast<unsigned char>(~(1u << pin));
    return 0;
}

int SimulatedBoard::readPort(int device, int port, unsigned char* value) {
    std::lock_guard<std::mutex> guard(lock_);
    record(callText("ReadPort", {device, port}));
    if (!validPin(device, port, 0) || value == nullptr) return kSimulatedPinFault;
    *value = static_cast<unsigned char>((driven_[port] & outputs_[port]) | (inputs_[port] & ~outputs_[port]));
    return 0;
}

int SimulatedBoard::closeHandle() {
    std::lock_guard<std::mutex> guard(lock_);
    record("CloseHandle()");
    opened_ = false;
    return 0;
}

void SimulatedBoard::setOpenStatus(int status) {
    std::lock_guard<std::mutex> guard(lock_);
    openStatus_ = status;
}

void SimulatedBoard::setInitializeStatus(int status) {
    std::lock_guard<std::mutex> guard(lock_);
    initializeStatus_ = status;
}

void SimulatedBoard::setPinStatus(int status) {
    std::lock_guard<std::mutex> guard(lock_);
    pinStatus_ = status;
}

void SimulatedBoard::setInputLevels(int port, unsigned char levels) {
    std::lock_guard<std::mutex> guard(lock_);
    if (port >= 0 && port < kPorts) inputs_[port] = levels;
}

bool SimulatedBoard::opened() const {
    std::lock_guard<std::mutex> guard(lock_);
    return opened_;
}

bool SimulatedBoard::isOutput(int port, int pin) const {
    std::lock_guard<std::mutex> guard(lock_);
    return validPin(0, port, pin) && (outputs_[port] >> pin & 1);
}

int SimulatedBoard::level(int port, int pin) const {
    std::lock_guard<std::mutex> guard(lock_);
    return validPin(0, port, pin) ? (driven_[port] >> pin & 1) : 0;
}

std::vector<std::string> SimulatedBoard::calls() const {
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
}

void SimulatedBoard::clearCalls() {
    std::lock_guard<std::mutex> guard(lock_);
    calls_.clear();
}

// --- parallel port ---

bool writeParallelPort(int index, unsigned char value) {
    if (index < 0) return false;
    const std::string path = "/dev/parport" + std::to_string(index);
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    bool written = false;
    if (ioctl(fd, PPCLAIM) == 0) {
        written = ioctl(fd, PPWDATA, &value) == 0;
        ioctl(fd, PPRELEASE);
    }
    ::close(fd);
    return written;
}

}  // namespace platform
