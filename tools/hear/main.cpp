// robotas-hear: stands in for the robot's speech recogniser. It listens on
// 127.0.0.1:10500, takes one client (the robot), obeys its module-protocol
// commands and, while recognition runs, reports each utterance it is given as
// a result message. Utterances come from a script file or are typed on
// standard input, one line each; the words of a line form one utterance.
//
//   robotas-hear [--port N] [--script FILE] [--log FILE]
//
// Script and input lines:
//   WORD [WORD...]   an utterance (sent once recognition runs)
//   status           an input-status message without words
//   sleep MS         waits MS milliseconds
//   wait COMMAND     waits until the robot sends COMMAND (RESUME, PAUSE, ...);
//                    the n-th wait for a command waits for its n-th arrival
//   close            closes the connection and ends
//   # ...            a comment
// --log FILE gets every line the robot sends, one per line.

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace {

constexpr int kDefaultPort = 10500;
constexpr std::size_t kLongestLine = 255;  // the robot's line buffer holds 255 characters and a NUL

struct Options {
    int port = kDefaultPort;
    std::string script;
    std::string log;
};

void say(const std::string& text) {
    std::cout << "robotas-hear: " << text << std::endl;  // flushed: a person or a test is reading
}

long long msSinceStart() {
    static const auto start = std::chrono::steady_clock::now();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

std::string inputStatus(const char* status) {
    return "<INPUT STATUS=\"" + std::string(status) + "\" TIME=\"" + std::to_string(msSinceStart()) + "\"/>\n";
}

std::string wordLine(const std::string& word, int classId) {
    return "    <WHYPO WORD=\"" + word + "\" CLASSID=\"" + std::to_string(classId) + "\" CM=\"1.000\"/>\n";
}

std::vector<std::string> splitWords(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

// The result message of one utterance, between the silence words; empty (with
// the reason in why) when a word would not fit the robot's line or has a quote.
std::string resultMessage(const std::vector<std::string>& words, std::string& why) {
    std::string body = "<RECOGOUT>\n  <SHYPO RANK=\"1\" SCORE=\"-1000.000000\">\n";
    body += wordLine("<s>", 0);
    int classId = 1;
    for (const std::string& word : words) {
        if (word.find('"') != std::string::npos) {
            why = "a word cannot hold a quote: " + word;
            return "";
        }
        const std::string line = wordLine(word, classId++);
        if (line.size() - 1 > kLongestLine) {
            why = "word too long for the robot's 255-character lines: " + word.substr(0, 20) + "...";
            return "";
        }
        body += line;
    }
    body += wordLine("</s>", classId);
    body += "  </SHYPO>\n</RECOGOUT>\n";
    return body;
}

class Recogniser {
public:
    Recogniser(int client, const std::string& logPath) : client_(client) {
        if (!logPath.empty()) log_ = std::fopen(logPath.c_str(), "w");
    }

    // Reads the robot's command lines until it goes or says DIE.
    void serve() {
        std::string pending;
        char chunk[512];
        for (;;) {
            const long got = platform::receiveSome(client_, chunk, sizeof chunk);
            if (got <= 0) finish("the robot has gone");
            pending.append(chunk, static_cast<std::size_t>(got));
            for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
                std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                handleLine(line);
            }
        }
    }

    // Sends an utterance's messages once recognition runs.
    void hear(const std::vector<std::string>& words) {
        std::string why;
        const std::string result = resultMessage(words, why);
        if (result.empty()) {
            say("not sent: " + why);
            return;
        }
        std::unique_lock<std::mutex> guard(lock_);
        waitUntilRunning(guard);
        send(inputStatus("STARTREC"));
        send(result);
    }

    void hearNothing() {
        std::unique_lock<std::mutex> guard(lock_);
        waitUntilRunning(guard);
        send(inputStatus("ENDREC"));
    }

    // The n-th wait for a command returns once the command has come n times.
    void waitFor(const std::string& command) {
        std::unique_lock<std::mutex> guard(lock_);
        const int wanted = ++waited_[command];
        changed_.wait(guard, [&] { return received_[command] >= wanted; });
    }

    [[noreturn]] void finish(const std::string& why) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (log_) std::fflush(log_);
        }
        say(why);
        std::fflush(stdout);
        _exit(0);
    }

private:
    enum class Expect { Command, Argument, Dfa, Dictionary };

    void waitUntilRunning(std::unique_lock<std::mutex>& guard) {
        if (!running_) say("recognition is paused: the words wait for RESUME");
        changed_.wait(guard, [&] { return running_; });
    }

    // Caller holds lock_. One message: its lines, then the "." line.
    void send(const std::string& body) {
        const std::string message = body + ".\n";
        platform::sendAll(client_, message.data(), message.size());
    }

    void handleLine(const std::string& line) {
        std::unique_lock<std::mutex> guard(lock_);
        if (log_) {
            std::fprintf(log_, "%s\n", line.c_str());
            std::fflush(log_);
        }
        switch (expect_) {
            case Expect::Argument: expect_ = Expect::Command; return;
            case Expect::Dfa:
                if (line == "DFAEND") expect_ = Expect::Dictionary;
                else ++grammarLines_;
                return;
            case Expect::Dictionary:
                if (line != "DICEND") {
                    ++grammarLines_;
                    return;
                }
                expect_ = Expect::Command;
                send("<GRAMMAR STATUS=\"RECEIVED\" LINES=\"" + std::to_string(grammarLines_) + "\"/>\n");
                say("grammar received (" + std::to_string(grammarLines_) + " lines)");
                return;
            case Expect::Command: break;
        }
        const std::string command = line.substr(0, line.find(' '));
        obey(command);
        ++received_[command];
        changed_.notify_all();
        if (command == "DIE") {
            guard.unlock();
            finish("DIE received, ending");
        }
    }

    // Caller holds lock_.
    void obey(const std::string& command) {
        if (command == "PAUSE" || command == "TERMINATE") {
            running_ = false;
            say("recognition paused");
        } else if (command == "RESUME") {
            running_ = true;
            send(inputStatus("LISTEN"));
            say("recognition running");
        } else if (command == "STATUS") {
            send(std::string("<SYSINFO PROCESS=\"") + (running_ ? "ACTIVE" : "SLEEP") + "\"/>\n");
        } else if (command == "VERSION") {
            send("<ENGINEINFO TYPE=\"robotas-hear\" VERSION=\"1.0\" CONF=\"\"/>\n");
        } else if (command == "INPUTONCHANGE" || command == "ACTIVATEGRAM" || command == "DEACTIVATEGRAM" ||
                   command == "DELGRAM") {
            expect_ = Expect::Argument;
        } else if (command == "ADDGRAM" || command == "CHANGEGRAM") {
            expect_ = Expect::Dfa;
            grammarLines_ = 0;
        } else if (command != "SYNCGRAM" && command != "DIE") {
            say("unknown command: " + command);
        }
    }

    int client_;
    std::FILE* log_ = nullptr;
    std::mutex lock_;
    std::condition_variable changed_;
    bool running_ = true;  // the recogniser listens from the start, as the real one does
    Expect expect_ = Expect::Command;
    int grammarLines_ = 0;
    std::map<std::string, int> received_;
    std::map<std::string, int> waited_;
};

void feed(Recogniser& recogniser, std::istream& in) {
    for (std::string line; std::getline(in, line);) {
        const std::vector<std::string> words = splitWords(line);
        if (words.empty() || words[0][0] == '#') continue;
        if (words[0] == "sleep" && words.size() == 2) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atoll(words[1].c_str())));
        } else if (words[0] == "wait" && words.size() == 2) {
            recogniser.waitFor(words[1]);
        } else if (words[0] == "status" && words.size() == 1) {
            recogniser.hearNothing();
        } else if (words[0] == "close" && words.size() == 1) {
            recogniser.finish("closing the connection");
        } else {
            recogniser.hear(words);
        }
    }
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) return false;
        const std::string value = argv[++i];
        if (option == "--port") {
            char* end = nullptr;
            const long port = std::strtol(value.c_str(), &end, 10);
            if (*end != '\0' || port <= 0 || port > 65535) return false;
            options.port = static_cast<int>(port);
        } else if (option == "--script") {
            options.script = value;
        } else if (option == "--log") {
            options.log = value;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::cerr << "usage: robotas-hear [--port N] [--script FILE] [--log FILE]\n";
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);  // a robot that has gone must not end us mid-write

    std::ifstream script;
    if (!options.script.empty()) {
        script.open(options.script);
        if (!script) {
            std::cerr << "robotas-hear: cannot read " << options.script << "\n";
            return 2;
        }
    }
    const int listener = platform::listenOnLoopback(options.port);
    if (listener < 0) {
        std::cerr << "robotas-hear: cannot listen on port " << options.port << ": " << std::strerror(errno) << "\n";
        return 2;
    }
    say("listening on 127.0.0.1:" + std::to_string(options.port));
    const int client = platform::acceptClient(listener);
    platform::closeSocket(listener);
    if (client < 0) {
        std::cerr << "robotas-hear: accept failed: " << std::strerror(errno) << "\n";
        return 2;
    }
    say("the robot is connected");
    if (options.script.empty()) say("type words and Enter: each line is heard as one utterance");

    Recogniser recogniser(client, options.log);
    std::istream& words = options.script.empty() ? std::cin : static_cast<std::istream&>(script);
    std::thread feeder([&] { feed(recogniser, words); });
    feeder.detach();
    recogniser.serve();
}
