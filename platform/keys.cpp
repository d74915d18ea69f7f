#include "platform/keys.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <deque>
#include <mutex>

#include "platform/terminal.h"

namespace platform {
namespace {

constexpr int kCtrlD = 4;

std::mutex keyLock;
bool scripted = false;
std::deque<int> script;
bool stdinEnded = false;

bool savedModeValid = false;
termios savedMode{};

bool stdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

// Raw keys: no line buffering and no echo, but Ctrl-C still stops the program.
void enterRawMode() {
    if (!stdinIsTerminal()) return;
    if (!savedModeValid) {
        if (tcgetattr(STDIN_FILENO, &savedMode) != 0) return;
        savedModeValid = true;
        std::atexit(restoreTerminalMode);
    }
    termios raw = savedMode;
    raw.c_lflag &= ~(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
}

bool stdinReady(int timeoutMs) {
    pollfd fd{STDIN_FILENO, POLLIN, 0};
    return poll(&fd, 1, timeoutMs) > 0;
}

// Waits for a key; a terminal resized meanwhile is drawn again at once.
void waitForStdin() {
    Terminal& terminal = Terminal::instance();
    for (;;) {
        terminal.refreshIfResized();
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {terminal.resizeWakeFd(), POLLIN, 0}};
        const int ready = poll(fds, 2, -1);
        if (ready < 0 && errno != EINTR) return;
        if (ready > 0 && fds[0].revents != 0) return;
    }
}

int readStdinByte() {
    if (stdinEnded) return kEndOfInput;
    enterRawMode();
    waitForStdin();
    unsigned char byte = 0;
    for (;;) {
        const ssize_t got = read(STDIN_FILENO, &byte, 1);
        if (got == 1) return byte;
        if (got < 0 && errno == EINTR) continue;
        stdinEnded = true;
        return kEndOfInput;
    }
}

int nextKey() {
    {
        std::lock_guard<std::mutex> guard(keyLock);
        if (scripted) {
            if (script.empty()) return kEndOfInput;
            const int key = script.front();
            script.pop_front();
            return key;
        }
    }
    return readStdinByte();
}

void echo(int key) {
    if (key == kEndOfInput) return;
    const char c = static_cast<char>(key);
    Terminal::instance().write(&c, 1);
}

}  // namespace

void restoreTerminalMode() {
    if (savedModeValid) tcsetattr(STDIN_FILENO, TCSANOW, &savedMode);
}

int _getch() { return nextKey(); }

int _kbhit() {
    {
        std::lock_guard<std::mutex> guard(keyLock);
        if (scripted) return 1;  // a key, or the end of the script, is ready at once
    }
    if (stdinEnded) return 1;
    enterRawMode();
    return stdinReady(0) ? 1 : 0;
}

int _getche() {
    const int key = nextKey();
    echo(key);
    return key;
}

bool readLine(std::string& line) {
    line.clear();
    for (;;) {
        const int key = nextKey();
        if (key == kEndOfInput) return !line.empty();
        // Ctrl-D: the raw terminal hands it over as a byte. On an empty line it ends
        // the input there, as a closed standard input does; within a line it is no answer.
        if (key == kCtrlD) {
            if (line.empty()) return false;
            continue;
        }
        if (key == '\r' || key == '\n') {
            echo('\n');
            return true;
        }
        if (key == 127 || key == '\b') {
            if (!line.empty()) {
                line.pop_back();
                Terminal::instance().write("\b \b");
            }
            continue;
        }
        line += static_cast<char>(key);
        echo(key);
    }
}

void scriptKeys(const std::string& keys) {
    std::lock_guard<std::mutex> guard(keyLock);
    scripted = true;
    for (unsigned char c : keys) script.push_back(c);
}

void useTerminalKeys() {
    std::lock_guard<std::mutex> guard(keyLock);
    scripted = false;
    script.clear();
}

bool scriptedKeys() {
    std::lock_guard<std::mutex> guard(keyLock);
    return scripted;
}

}  // namespace platform
