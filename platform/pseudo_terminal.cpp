#include "platform/pseudo_terminal.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

namespace platform {

bool PseudoTerminal::open(bool nonBlockingMaster) {
    close();
    char name[PATH_MAX] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        master_ = slave_ = -1;
        return false;
    }
    slaveName_ = name;
    termios raw{};
    tcgetattr(slave_, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave_, TCSANOW, &raw);
    if (nonBlockingMaster) fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    return true;
}

bool PseudoTerminal::link(const std::string& path) {
    if (!isOpen()) return false;
    const std::string temporary = path + ".tmp" + std::to_string(getpid());
    ::unlink(temporary.c_str());
    if (::symlink(slaveName_.c_str(), temporary.c_str()) != 0) return false;
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    link_ = path;
    return true;
}

void PseudoTerminal::unlink() {
    if (link_.empty()) return;
    char target[PATH_MAX] = {};
    const ssize_t length = ::readlink(link_.c_str(), target, sizeof target - 1);
    if (length > 0 && slaveName_ == std::string(target, static_cast<std::size_t>(length))) ::unlink(link_.c_str());
    link_.clear();
}

void PseudoTerminal::close() {
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
    master_ = slave_ = -1;
}

}  // namespace platform
