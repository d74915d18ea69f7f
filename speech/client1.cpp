#include "speech/client1.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/datafiles.h"
#include "platform/devices.h"
#include "platform/keys.h"
#include "platform/runner.h"
#include "platform/socket.h"
#include "shell/console/f_graph.h"
#include "shell/console/program_end.h"

namespace {

constexpr int kSelectWaitMs = 50;
constexpr int kServerMissingPauseMs = 3000;  // time to read the "start the server" advice

int port = 0;                 // what the last do_connect was asked for
bool connectionLost = false;  // the last read found the connection closed or broken

char zodis[kRecogniserLineSize] = "";  // the last recognised word
char rbuff[kRecogniserLineSize];       // the line being received
char sbuff[kRecogniserLineSize];       // the typed command line
char buff[kRecogniserLineSize];        // grammar file names and lines, id lists

// The robot's console stands in for standard output and standard error.
void reportSystemError(const char* what) {
    const int saved = errno;
    gf.printf("%s: %s\n", what, std::strerror(saved));
}

void putLine(const char* text) { gf.printf("%s\n", text); }

// 1 and -1 are the failure values of do_connect; the standard streams are
// never the recogniser, even when one of them happens to be a socket.
bool isConnection(int sd) {
    if (sd <= 1) {
        errno = sd < 0 ? EBADF : ENOTSOCK;
        return false;
    }
    return platform::isSocket(sd);
}

void sendText(int sd, const char* text, const char* failure) {
    if (!isConnection(sd) || !platform::sendAll(sd, text, std::strlen(text))) reportSystemError(failure);
}

// An id list "1,3" goes out as the line "1 3"; the list is cut so that its LF
// always fits the 255-character command line.
void send_idlist(int sd, const char* ids) {
    std::snprintf(buff, sizeof buff, "%.254s", ids);
    for (char* c = buff; *c; ++c)
        if (*c == ',') *c = ' ';
    do_sendf(sd, "%s\n", buff);
}

// The longest prefix whose "CHANGEGRAM prefix" line, LF included, still fits
// the 255 characters of a command line.
constexpr std::size_t kLongestGrammarPrefix = (kRecogniserLineSize - 1) - (sizeof("CHANGEGRAM \n") - 1);

bool grammarFileName(const char* prefix, const char* extension) {
    const int length = std::snprintf(buff, sizeof buff, "%s%s", prefix, extension);
    if (length < 0 || length >= static_cast<int>(sizeof buff)) {
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

bool check_grammar_path(const char* prefix) {
    if (std::strlen(prefix) > kLongestGrammarPrefix) {
        errno = ENAMETOOLONG;
        return false;
    }
    for (const char* extension : {".dfa", ".dict"}) {
        if (!grammarFileName(prefix, extension)) return false;
        if (!platform::fileReadable(buff)) return false;  // errno from the access check
    }
    return true;
}

// Sends one grammar file line by line, a longer line in chunks of at most 255
// characters, then its end marker.
bool send_grammar(int sd, const char* prefix, const char* extension, const char* endMarker) {
    grammarFileName(prefix, extension);
    std::string text;
    if (!platform::readWholeFile(buff, text)) {
        reportSystemError("komanda_change_grammar");
        return false;
    }
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t lineEnd = text.find('\n', start);
        const std::size_t lineLength = lineEnd == std::string::npos ? text.size() - start : lineEnd + 1 - start;
        const std::size_t chunk = std::min(lineLength, sizeof buff - 1);
        do_send(sd, text.substr(start, chunk).c_str());  // a NUL byte ends what goes of a chunk
        start += chunk;
    }
    do_send(sd, endMarker);
    return true;
}

int uploadGrammar(int sd, const char* command, const char* prefix) {
    if (!check_grammar_path(prefix)) {
        reportSystemError("komanda_change_grammar");
        return -1;
    }
    do_sendf(sd, "%s %s\n", command, prefix);
    if (!send_grammar(sd, prefix, ".dfa", "DFAEND\n")) return -1;
    if (!send_grammar(sd, prefix, ".dict", "DICEND\n")) return -1;
    return 0;
}

[[noreturn]] void lineTooLong(int size) {
    std::fprintf(stderr, "Error: do_receive: line too long (> %d)\n", size);
    throw ProgramEnd{1};
}

// Keyboard commands, compared whole and case-sensitive in this order.
struct KeyboardCommand {
    const char* name;
    void (*plain)(int sd);
    void (*withArgument)(int sd, const char* argument);
};

const KeyboardCommand kKeyboardCommands[] = {
    {"die", komanda_die, nullptr},
    {"version", komanda_get_version, nullptr},
    {"status", komanda_get_status, nullptr},
    {"pause", komanda_pause_recog, nullptr},
    {"terminate", komanda_terminate_recog, nullptr},
    {"resume", komanda_resume_recog, nullptr},
    {"inputparam", nullptr, komanda_set_input_handler_on_change},
    {"changegram", nullptr, [](int sd, const char* prefix) { komanda_change_grammar(sd, prefix); }},
    {"addgram", nullptr, [](int sd, const char* prefix) { komanda_add_grammar(sd, prefix); }},
    {"deletegram", nullptr, komanda_delete_grammar},
    {"activategram", nullptr, komanda_activate_grammar},
    {"deactivategram", nullptr, komanda_deactivate_grammar},
    {"syncgram", komanda_sync_grammar, nullptr},
    {"julius", [](int) { do_julius(); }, nullptr},
};

const char* socketErrorText(int code) {
    switch (code) {
        case 10004:
            return " A blocking Windows Socket 1.1 call was canceled through WSACancelBlockingCall.  ";
        case 10014:
            return " The Windows Sockets implementation was unable to allocate needed resources for its "
                   "internal operations, or the readfds, writefds, exceptfds, or timeval parameters are "
                   "not part of the user address space.  ";
        case 10022: return " The timeout value is not valid, or all three descriptor parameters were NULL.  ";
        case 10036:
            return " A blocking Windows Sockets 1.1 call is in progress, or the service provider is still "
                   "processing a callback function.  ";
        case 10038: return " One of the descriptor sets contains an entry that is not a socket.  ";
        case 10050: return " The network subsystem has failed.  ";
        case 10093: return " A successful WSAStartup must occur before using this function. ";
        default: return nullptr;
    }
}

// What the voice modes show when the recogniser is not there.
void reportWaitFailure() {
    const int saved = errno;
    if (const char* text = socketErrorText(platform::windowsSocketError(saved))) putLine(text);
    errno = saved;
    reportSystemError("Error: select");
    putLine(" ");
    putLine(" ");
    putLine("REIKIA PALEISTI 'JULIUS' SERVERI !!! ");
    platform::sleepMs(kServerMissingPauseMs);
}

int waitForMessage(int sd) {
    if (!isConnection(sd)) return -1;
    return platform::waitReadable(sd, kSelectWaitMs);
}

}  // namespace

void do_julius() {
    // The recogniser lives beside the robot's folder; it is started, not waited for.
    platform::startProgram({"../Julius/bin/julian.exe", "-C", "../Julius/bin/server_robot.jconf", "-input",
                            "mic", "-module"});
}

int do_connect(const char* host, int portnum) {
    port = portnum;
    std::uint32_t address = 0;
    if (!platform::lookUpHost(host, address)) {
        gf.printf("%s: unknown host '%s'\n", "do_connect", host ? host : "");
        return -1;
    }
    const int client = platform::openTcpSocket();
    if (client < 0) {
        reportSystemError("cannot open socket ");
        return -1;
    }
    if (!platform::bindAnyLocalPort(client)) {
        const int saved = errno;
        gf.printf("%s: cannot bind port TCP %u\n", "localhost", static_cast<unsigned>(kRecogniserPort));
        errno = saved;
        reportSystemError("error ");
        platform::closeSocket(client);
        return 1;
    }
    if (!platform::connectTcp(client, address, kRecogniserPort)) {
        reportSystemError("cannot connect ");
        platform::closeSocket(client);
        return 1;
    }
    connectionLost = false;
    return client;
}

void do_disconnect(int sd) { komanda_die(sd); }

char* do_receive(int sd, char* buf, int size) {
    if (!buf || size <= 0 || !isConnection(sd)) return nullptr;
    int position = 0;
    for (;;) {
        char byte = 0;
        const int got = platform::receiveByte(sd, byte);
        connectionLost = got <= 0;
        if (connectionLost) return nullptr;
        buf[position] = byte;
        if (byte == '\n' && position > 0) {  // an LF that starts a line is kept as text
            buf[position] = '\0';
            return buf;
        }
        if (++position >= size) lineTooLong(size);
    }
}

char* do_output(int sd) {
    while (do_receive(sd, rbuff, kRecogniserLineSize)) {
        if (rbuff[0] == '.' && rbuff[1] == '\0') break;
        do_deshifre(rbuff, kRecogniserLineSize);
    }
    return zodis;
}

// A word line: four spaces, `<WHYPO WORD` (not looked at), `="`, then the word up
// to the next quote. Silence markers (<s>, </s>) start with '<' and are skipped.
char* do_deshifre(char* line, int len) {
    constexpr int kWordStart = 17;
    if (!line || len <= kWordStart) return zodis;
    // Bytes after the line's end are left from older, longer lines: blank them
    // so that they can never supply a closing quote.
    const std::size_t end = strnlen(line, static_cast<std::size_t>(len));
    std::memset(line + end, 0, static_cast<std::size_t>(len) - end);

    const bool wordLine = std::strncmp(line, "    ", 4) == 0 && line[15] == '=' && line[16] == '"' &&
                          line[kWordStart] != '<';
    if (!wordLine) return zodis;
    std::memset(line, ' ', kWordStart);

    int quote = 0;
    if (line[kWordStart] == '"') {
        quote = kWordStart;  // an empty word
    } else if (len > 18 && line[18] == '"') {
        quote = 18;
    } else {
        for (int i = 19; i < len; ++i)
            if (line[i] == '"') {
                quote = i;
                break;
            }
    }
    std::memset(line + quote, 0, static_cast<std::size_t>(len - quote));
    if (quote >= kWordStart) {
        for (int i = kWordStart; i <= quote; ++i) {
            line[i - kWordStart] = line[i];
            line[i] = '\0';
        }
    }
    const int copied = len < kRecogniserLineSize ? len : kRecogniserLineSize;
    std::memmove(zodis, line, static_cast<std::size_t>(copied));
    zodis[kRecogniserLineSize - 1] = '\0';
    return zodis;
}

char* recognisedWord() { return zodis; }

bool recogniserLost() { return connectionLost; }

void do_send(int sd, const char* text) {
    if (text) sendText(sd, text, "Error: do_send");
}

void do_sendf(int sd, const char* format, ...) {
    static char line[kRecogniserLineSize];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (length < 0) line[0] = '\0';
    sendText(sd, line, "Error: do_sendf");
}

void komanda_sync_grammar(int sd) { do_send(sd, "SYNCGRAM\n"); }
void komanda_resume_recog(int sd) { do_send(sd, "RESUME\n"); }
void komanda_terminate_recog(int sd) { do_send(sd, "TERMINATE\n"); }
void komanda_pause_recog(int sd) { do_send(sd, "PAUSE\n"); }
void komanda_get_status(int sd) { do_send(sd, "STATUS\n"); }
void komanda_get_version(int sd) { do_send(sd, "VERSION\n"); }
void komanda_die(int sd) { do_send(sd, "DIE\n"); }

void komanda_set_input_handler_on_change(int sd, const char* mode) {
    if (!mode) return;
    do_sendf(sd, "INPUTONCHANGE\n%.240s\n", mode);
}

void komanda_deactivate_grammar(int sd, const char* ids) {
    if (!ids) return;
    do_send(sd, "DEACTIVATEGRAM\n");
    send_idlist(sd, ids);
}

void komanda_activate_grammar(int sd, const char* ids) {
    if (!ids) return;
    do_send(sd, "ACTIVATEGRAM\n");
    send_idlist(sd, ids);
}

void komanda_delete_grammar(int sd, const char* ids) {
    if (!ids) return;
    do_send(sd, "DELGRAM\n");
    send_idlist(sd, ids);
}

int komanda_add_grammar(int sd, const char* prefix) {
    return prefix ? uploadGrammar(sd, "ADDGRAM", prefix) : -1;
}

int komanda_change_grammar(int sd, const char* prefix) {
    return prefix ? uploadGrammar(sd, "CHANGEGRAM", prefix) : -1;
}

void do_command(int sd) {
    char* rest = nullptr;
    const char* command = strtok_r(sbuff, " \t\n", &rest);
    if (!command) return;
    const char* argument = strtok_r(nullptr, " \t\n", &rest);
    for (const KeyboardCommand& known : kKeyboardCommands) {
        if (std::strcmp(command, known.name) != 0) continue;
        if (known.plain) {
            known.plain(sd);
        } else if (argument) {
            known.withArgument(sd, argument);
        } else {
            gf.printf("Command %s needs an argument\n", command);
        }
        return;
    }
    gf.printf("No such command: [%s]\n", command);
}

void do_command_line(int sd, const char* line) {
    std::snprintf(sbuff, sizeof sbuff, "%s", line ? line : "");
    do_command(sd);
}

bool TypedLine::take(int key) {
    const bool endOfLine = key == '\r' || key == '\n';
    if (endOfLine) {
        text_[length_] = '\n';
        text_[length_ + 1] = '\0';
        return true;
    }
    if (length_ < kRecogniserLineSize - 2) text_[length_++] = static_cast<char>(key);
    return false;
}

void TypedLine::clear() {
    length_ = 0;
    text_[0] = '\0';
}

void command_loop(int sd, int once) {
    gf.printf("'JULIUS' serverio, klijento Nr. =  %i \r \n", sd);
    connectionLost = false;
    TypedLine typed;
    for (;;) {
        const int ready = waitForMessage(sd);
        if (ready < 0) {
            reportWaitFailure();
            return;
        }
        bool keyboardEnded = false;
        if (ready > 0) {
            do_output(sd);
        } else if (platform::_kbhit()) {
            const int key = platform::_getch();
            keyboardEnded = key == platform::kEndOfInput;
            if (!keyboardEnded && typed.take(key)) {
                std::memcpy(sbuff, typed.text(), sizeof sbuff);
                do_command(sd);
                typed.clear();
            }
        }
        if (once) return;
        if (keyboardEnded || connectionLost) return;
        gf.printf("JULIUS:>> %s\n", zodis);
    }
}
