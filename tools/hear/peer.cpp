// Script and input lines of the typed-word peer:
//   WORD [WORD...]   an utterance (sent once a robot is connected and
//                    recognition runs)
//   status           an input-status message without words
//   sleep MS         waits MS milliseconds
//   wait COMMAND     waits until the robot sends COMMAND (RESUME, PAUSE, ...);
//                    the n-th wait for a command waits for its n-th arrival
//   close            closes the robot's connection, as a recogniser that went
//                    away would; the peer waits for the next robot
//   # ...            a comment
// The peer serves one robot at a time and stays when the robot goes, so that a
// robot re-initialising its devices connects again; DIE from the robot ends it.
// The log file gets every line the robot sends, one per line.

#include "tools/hear/peer.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "tools/hear/protocol.h"

namespace hear {
namespace {

void say(const std::string& text) {
    std::cout << "robotas-hear: " << text << std::endl;  // flushed: a person or a test is reading
}

class TypedPeer {
public:
    explicit TypedPeer(const std::string& logPath) {
        if (!logPath.empty()) log_ = std::fopen(logPath.c_str(), "w");
    }

    // Reads one robot's command lines until it goes (or is closed), then lets
    // it go; ends the program when the robot says DIE.
    void serve(int client) {
        connected(client);
        LineSplitter lines;
        char chunk[512];
        for (;;) {
            const long got = platform::receiveSome(client, chunk, sizeof chunk);
            if (got <= 0) break;
            lines.take(chunk, static_cast<std::size_t>(got));
            for (std::string line; lines.next(line);) handleLine(line);
        }
        disconnected();
    }

    // Sends an utterance's messages once a robot listens.
    void hear(const std::vector<std::string>& words) {
        std::string why;
        const std::string result = resultMessage(words, why);
        if (result.empty()) {
            say("not sent: " + why);
            return;
        }
        std::unique_lock<std::mutex> guard(lock_);
        waitUntilListened(guard);
        send(inputStatus("STARTREC"));
        send(result);
    }

    void hearNothing() {
        std::unique_lock<std::mutex> guard(lock_);
        waitUntilListened(guard);
        send(inputStatus("ENDREC"));
    }

    // The n-th wait for a command returns once the command has come n times.
    void waitFor(const std::string& command) {
        std::unique_lock<std::mutex> guard(lock_);
        const int wanted = ++waited_[command];
        changed_.wait(guard, [&] { return received_[command] >= wanted; });
    }

    // Ends the robot's connection; the reader of serve() sees it end.
    void closeConnection() {
        std::lock_guard<std::mutex> guard(lock_);
        if (client_ < 0) {
            say("no robot is connected");
            return;
        }
        say("closing the connection");
        platform::shutdownSocket(client_);
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
    void connected(int client) {
        std::lock_guard<std::mutex> guard(lock_);
        client_ = client;
        running_ = true;  // a new robot finds recognition running, as with the real recogniser
        reader_ = CommandReader();
        say("the robot is connected");
        changed_.notify_all();
    }

    void disconnected() {
        std::lock_guard<std::mutex> guard(lock_);
        platform::closeSocket(client_);
        client_ = -1;
        say("the robot has gone; waiting for the next (words typed now wait for it)");
    }

    void waitUntilListened(std::unique_lock<std::mutex>& guard) {
        if (client_ < 0) say("no robot is connected: the words wait for the next one");
        else if (!running_) say("recognition is paused: the words wait for RESUME");
        changed_.wait(guard, [&] { return client_ >= 0 && running_; });
    }

    // Caller holds lock_.
    void send(const std::string& body) {
        const std::string text = message(body);
        platform::sendAll(client_, text.data(), text.size());  // a gone robot is noticed by serve()
    }

    void handleLine(const std::string& line) {
        std::unique_lock<std::mutex> guard(lock_);
        if (log_) {
            std::fprintf(log_, "%s\n", line.c_str());
            std::fflush(log_);
        }
        switch (reader_.classify(line)) {
            case LineKind::Argument:
            case LineKind::GrammarLine: return;
            case LineKind::GrammarEnd: {
                const std::string lines = std::to_string(reader_.grammarLines());
                send("<GRAMMAR STATUS=\"RECEIVED\" LINES=\"" + lines + "\"/>\n");
                say("grammar received (" + lines + " lines)");
                return;
            }
            case LineKind::Command: break;
        }
        const std::string command = CommandReader::commandWord(line);
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
            send(systemInfo(running_));
        } else if (command == "VERSION") {
            send(engineInfo("robotas-hear"));
        } else if (command != "INPUTONCHANGE" && command != "ACTIVATEGRAM" && command != "DEACTIVATEGRAM" &&
                   command != "DELGRAM" && command != "ADDGRAM" && command != "CHANGEGRAM" &&
                   command != "SYNCGRAM" && command != "DIE") {
            say("unknown command: " + command);
        }
    }

    int client_ = -1;
    std::FILE* log_ = nullptr;
    std::mutex lock_;
    std::condition_variable changed_;
    bool running_ = true;
    CommandReader reader_;
    std::map<std::string, int> received_;
    std::map<std::string, int> waited_;
};

void feed(TypedPeer& peer, std::istream& in) {
    for (std::string line; std::getline(in, line);) {
        const std::vector<std::string> words = splitWords(line);
        if (words.empty() || words[0][0] == '#') continue;
        if (words[0] == "sleep" && words.size() == 2) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atoll(words[1].c_str())));
        } else if (words[0] == "wait" && words.size() == 2) {
            peer.waitFor(words[1]);
        } else if (words[0] == "status" && words.size() == 1) {
            peer.hearNothing();
        } else if (words[0] == "close" && words.size() == 1) {
            peer.closeConnection();
        } else {
            peer.hear(words);
        }
    }
}

}  // namespace

int runTypedPeer(const PeerOptions& options) {
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
    if (options.script.empty()) say("type words and Enter: each line is heard as one utterance");

    TypedPeer peer(options.log);
    std::istream& words = options.script.empty() ? std::cin : static_cast<std::istream&>(script);
    std::thread feeder([&] { feed(peer, words); });
    feeder.detach();  // it may be waiting for a word when DIE ends the program
    for (;;) {
        const int client = acceptNextRobot(listener);
        if (client < 0) return 2;
        peer.serve(client);
    }
}

}  // namespace hear
