// robotas-ssc32sim: a servo controller on a pseudo-terminal.
//
//   robotas-ssc32sim --dir DIR [--name COM2] [--log FILE] [--stdout]
//                    [--inputs TEXT] [--control FILE] [--version TEXT]
//                    [--state FILE] [--exit-with-parent]
//
// Links DIR/NAME to the terminal, so that a robot started in DIR finds its
// controller on that port. Every command line it receives (ended by CR) is
// logged, one line each, bytes outside printable ASCII written as \xHH.
// Answers:
//   ...ver             the version text and CR (default "SSC32-V2.50")
//   A B C D            the input state: TEXT of --inputs (default 1111; '0' marks
//                      an active input), or the contents of the control file
//                      when it exists (read at every query; may be any bytes;
//                      an empty file: no answer)
//   A, B, C or D alone that input's character
//   QP <ch>            the channel's pulse width / 10 as one byte, where the
//                      servo is now: it moves towards each commanded width at
//                      the command's speed (S, microseconds a second)
//   #<ch> P<pw> S<spd> moves are kept per channel; --state FILE holds them
//                      as lines "#<ch> P<pw> S<spd>"
// Ends on SIGTERM or SIGINT (and with its parent under --exit-with-parent),
// removing the link.

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "faces/camera/scene.h"
#include "platform/clock.h"
#include "platform/pseudo_terminal.h"

namespace {

constexpr std::size_t kLineLimit = 1024;  // longer lines are logged and dropped
constexpr std::size_t kControlLimit = 256;

volatile std::sig_atomic_t stopRequested = 0;
void requestStop(int) { stopRequested = 1; }

struct Options {
    std::string dir;
    std::string name = "COM2";
    std::string logPath;
    bool toStdout = false;
    std::string inputs = "1111";
    std::string controlPath;
    std::string version = "SSC32-V2.50";
    std::string statePath;
    bool exitWithParent = false;
};

struct Servo {
    int position = 0;
    int speed = 0;
};

void usage() {
    std::fprintf(stderr,
                 "usage: robotas-ssc32sim --dir DIR [--name COM2] [--log FILE] [--stdout] [--inputs TEXT]\n"
                 "                        [--control FILE] [--version TEXT] [--state FILE] [--exit-with-parent]\n");
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) return false;
            into = argv[++i];
            return true;
        };
        bool ok = true;
        if (arg == "--dir") ok = value(options.dir);
        else if (arg == "--name") ok = value(options.name);
        else if (arg == "--log") ok = value(options.logPath);
        else if (arg == "--stdout") options.toStdout = true;
        else if (arg == "--inputs") ok = value(options.inputs);
        else if (arg == "--control") ok = value(options.controlPath);
        else if (arg == "--version") ok = value(options.version);
        else if (arg == "--state") ok = value(options.statePath);
        else if (arg == "--exit-with-parent") options.exitWithParent = true;
        else ok = false;
        if (!ok) {
            std::fprintf(stderr, "robotas-ssc32sim: bad argument %s\n", arg.c_str());
            return false;
        }
    }
    if (options.dir.empty() || options.name.empty() || options.name.find('/') != std::string::npos) {
        std::fprintf(stderr, "robotas-ssc32sim: --dir is required and --name must be a plain file name\n");
        return false;
    }
    return true;
}

std::string escaped(const std::string& line) {
    std::string out;
    for (unsigned char c : line) {
        if (c >= 32 && c < 127 && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

void writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
        } else if (put < 0 && errno == EAGAIN) {
            pollfd watch{fd, POLLOUT, 0};
            if (::poll(&watch, 1, 200) <= 0) return;  // nobody reads: drop the rest
        } else if (!(put < 0 && errno == EINTR)) {
            return;
        }
    }
}

class Controller {
public:
    Controller(const Options& options, int master) : options_(options), master_(master) {
        if (!options.logPath.empty())
            logFd_ = ::open(options.logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    }
    ~Controller() {
        if (logFd_ >= 0) ::close(logFd_);
    }

    void take(const unsigned char* bytes, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            const unsigned char c = bytes[i];
            if (c == 13) {
                handleLine(line_);
                line_.clear();
            } else if (line_.size() < kLineLimit) {
                line_ += static_cast<char>(c);
            } else {
                log(line_ + " [too long, dropped]");
                line_.clear();
            }
        }
    }

private:
    void log(const std::string& line) {
        const std::string text = escaped(line) + "\n";
        if (logFd_ >= 0) writeAll(logFd_, text);
        if (options_.toStdout) {
            std::fputs(text.c_str(), stdout);
            std::fflush(stdout);
        }
    }

    void reply(const std::string& bytes) { writeAll(master_, bytes); }

    static std::vector<std::string> words(const std::string& line) {
        std::istringstream in(line);
        std::vector<std::string> out;
        for (std::string word; in >> word;) out.push_back(word);
        return out;
    }

    static std::string upper(std::string text) {
        for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return text;
    }

    std::string inputState() const {
        if (options_.controlPath.empty()) return options_.inputs;
        const int fd = ::open(options_.controlPath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return options_.inputs;
        char buffer[kControlLimit];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        ::close(fd);
        if (got < 0) return options_.inputs;
        std::string text(buffer, static_cast<std::size_t>(got));
        if (!text.empty() && text.back() == '\n') text.pop_back();
        return text;
    }

    void handleLine(const std::string& line) {
        log(line);
        const std::string command = upper(line);
        const std::vector<std::string> parts = words(command);
        if (command.size() >= 3 && command.compare(command.size() - 3, 3, "VER") == 0) {
            reply(options_.version + "\r");
        } else if (command == "A B C D") {
            reply(inputState());
        } else if (parts.size() == 1 && parts[0].size() == 1 && parts[0][0] >= 'A' && parts[0][0] <= 'D') {
            const std::string state = inputState();
            const std::size_t index = static_cast<std::size_t>(parts[0][0] - 'A');
            if (index < state.size()) reply(std::string(1, state[index]));
        } else if (parts.size() == 2 && parts[0] == "QP") {
            const int channel = std::atoi(parts[1].c_str());
            const int now = static_cast<int>(head_.pulse(channel, 0, platform::realNowMs()));
            reply(std::string(1, static_cast<char>(now / 10 & 0xFF)));
        } else if (!parts.empty() && parts[0][0] == '#') {
            head_.take(command + "\r", platform::realNowMs());
            moveServos(parts);
        }
    }

    // "#7 P1400 S400 |" and groups of several channels in one line.
    void moveServos(const std::vector<std::string>& parts) {
        int channel = -1;
        for (const std::string& part : parts) {
            if (part.size() < 2) continue;
            const int value = std::atoi(part.c_str() + 1);
            if (part[0] == '#') channel = value;
            else if (part[0] == 'P' && channel >= 0) servos_[channel].position = value;
            else if (part[0] == 'S' && channel >= 0) servos_[channel].speed = value;
        }
        saveState();
    }

    void saveState() const {
        if (options_.statePath.empty()) return;
        std::string text;
        for (const auto& [channel, servo] : servos_)
            text += "#" + std::to_string(channel) + " P" + std::to_string(servo.position) + " S" +
                    std::to_string(servo.speed) + "\n";
        const std::string temporary = options_.statePath + ".tmp";
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return;
        writeAll(fd, text);
        ::close(fd);
        std::rename(temporary.c_str(), options_.statePath.c_str());
    }

    const Options& options_;
    int master_;
    int logFd_ = -1;
    std::string line_;
    std::map<int, Servo> servos_;
    scene::Head head_;  // where the servos are on their way to the commanded widths
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        usage();
        return 2;
    }
    if (options.exitWithParent) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() == 1) return 0;
    }
    struct sigaction stop {};
    stop.sa_handler = requestStop;
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGHUP, &stop, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    platform::PseudoTerminal terminal;
    if (!terminal.open(true)) {
        std::perror("robotas-ssc32sim: openpty");
        return 1;
    }
    const int master = terminal.master();
    const char* terminalName = terminal.slaveName().c_str();

    const std::string link = options.dir + "/" + options.name;
    if (!terminal.link(link)) {
        std::fprintf(stderr, "robotas-ssc32sim: cannot link %s to %s\n", link.c_str(), terminalName);
        return 1;
    }
    if (options.toStdout) {
        std::printf("robotas-ssc32sim: %s -> %s\n", link.c_str(), terminalName);
        std::fflush(stdout);
    }

    Controller controller(options, master);
    unsigned char buffer[512];
    while (!stopRequested) {
        pollfd watch{master, POLLIN, 0};
        if (::poll(&watch, 1, 200) <= 0) continue;
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got > 0) controller.take(buffer, static_cast<std::size_t>(got));
        else if (got < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) break;
    }
    terminal.unlink();
    return 0;
}
