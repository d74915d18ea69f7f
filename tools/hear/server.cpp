#include "tools/hear/server.h"

#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "platform/socket.h"
#include "tools/hear/protocol.h"

namespace hear {
namespace {

constexpr int kOwnGrammarId = 0;  // the robot's built-in grammar
constexpr long kChunkSamples = 1024;  // 64 ms: utterance ends are noticed promptly

void say(const std::string& text) { std::cout << "robotas-hear: " << text << std::endl; }

// What the network side and the audio side share.
class Session : public UtteranceListener {
public:
    void connected(int client) {
        std::lock_guard<std::mutex> guard(lock_);
        client_ = client;
        running_ = true;  // a new client finds recognition running, as with the original recogniser
        everConnected_ = true;
        changed_.notify_all();
    }

    void disconnected() {
        std::lock_guard<std::mutex> guard(lock_);
        platform::closeSocket(client_);
        client_ = -1;
    }

    void waitForFirstClient() {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait(guard, [&] { return everConnected_; });
    }

    // True when sound should be decoded now; sound heard otherwise is dropped.
    bool listening() {
        std::lock_guard<std::mutex> guard(lock_);
        return listeningLocked();
    }

    void setRunning(bool running) {
        std::lock_guard<std::mutex> guard(lock_);
        running_ = running;
        if (running) sendLocked(inputStatus("LISTEN"));
    }

    void setGrammarActive(bool active) {
        std::lock_guard<std::mutex> guard(lock_);
        grammarActive_ = active;
    }

    bool running() {
        std::lock_guard<std::mutex> guard(lock_);
        return running_;
    }

    void send(const std::string& body) {
        std::lock_guard<std::mutex> guard(lock_);
        sendLocked(body);
    }

    void speechStarted() override {
        std::lock_guard<std::mutex> guard(lock_);
        if (listeningLocked()) sendLocked(inputStatus("STARTREC"));
    }

    // A result decoded while the robot paused recognition is dropped too.
    void heard(const std::vector<std::string>& words) override {
        std::lock_guard<std::mutex> guard(lock_);
        if (!listeningLocked()) return;
        sendLocked(inputStatus("ENDREC"));
        std::string why;
        const std::string result = words.empty() ? "" : resultMessage(words, why);
        if (result.empty()) {
            say("heard nothing of the grammar");
            sendLocked(recognitionFailed());
            return;
        }
        std::string spoken;
        for (const std::string& word : words) spoken += " " + word;
        say("heard" + spoken);
        sendLocked(result);
    }

private:
    bool listeningLocked() const { return client_ >= 0 && running_ && grammarActive_; }

    void sendLocked(const std::string& body) {
        if (client_ < 0) return;
        const std::string text = message(body);
        platform::sendAll(client_, text.data(), text.size());  // a gone client is noticed by the reader
    }

    std::mutex lock_;
    std::condition_variable changed_;
    int client_ = -1;
    bool running_ = false;
    bool grammarActive_ = true;
    bool everConnected_ = false;
};

// Decodes the sound for as long as there is any.
void listen(Session& session, AudioSource& sound, Decoder& decoder) {
    session.waitForFirstClient();
    sound.start();
    std::int16_t chunk[kChunkSamples];
    for (;;) {
        const long got = sound.read(chunk, kChunkSamples);
        if (got <= 0) {
            if (session.listening()) decoder.finish(session);
            say(got == 0 ? "the sound has ended" : "the sound cannot be read: " + std::string(std::strerror(errno)));
            return;
        }
        if (session.listening()) decoder.process(chunk, got, session);
        else decoder.drop();
    }
}

bool mentionsOwnGrammar(const std::string& ids) {
    for (const std::string& id : splitWords(ids))
        if (id == std::to_string(kOwnGrammarId)) return true;
    return false;
}

// Obeys one client's commands until it goes (false) or says DIE (true).
class CommandHandler {
public:
    explicit CommandHandler(Session& session) : session_(session) {}

    bool serve(int client) {
        LineSplitter lines;
        char chunk[512];
        for (;;) {
            const long got = platform::receiveSome(client, chunk, sizeof chunk);
            if (got <= 0) return false;
            lines.take(chunk, static_cast<std::size_t>(got));
            for (std::string line; lines.next(line);)
                if (handleLine(line)) return true;
        }
    }

private:
    bool handleLine(const std::string& line) {
        switch (reader_.classify(line)) {
            case LineKind::GrammarLine: return false;
            case LineKind::Argument: applyArgument(line); return false;
            case LineKind::GrammarEnd:
                // Uploaded grammars are in the original recogniser's phone set, which this one lacks.
                say("a grammar upload was refused: only the built-in grammar is used");
                session_.send("<GRAMMAR STATUS=\"ERROR\" REASON=\"UPLOADED GRAMMARS ARE NOT SUPPORTED\"/>\n");
                return false;
            case LineKind::Command: break;
        }
        lastCommand_ = CommandReader::commandWord(line);
        return obey(lastCommand_);
    }

    void applyArgument(const std::string& ids) {
        if (lastCommand_ == "INPUTONCHANGE") return;  // the input is always cut at once when paused
        if (!mentionsOwnGrammar(ids)) {
            session_.send("<GRAMMAR STATUS=\"ERROR\" REASON=\"NO SUCH GRAMMAR\"/>\n");
        } else if (lastCommand_ == "ACTIVATEGRAM") {
            session_.setGrammarActive(true);
        } else if (lastCommand_ == "DEACTIVATEGRAM") {
            session_.setGrammarActive(false);
        } else {
            session_.send("<GRAMMAR STATUS=\"ERROR\" REASON=\"THE BUILT-IN GRAMMAR CANNOT BE DELETED\"/>\n");
        }
    }

    bool obey(const std::string& command) {
        if (command == "PAUSE" || command == "TERMINATE") {
            session_.setRunning(false);
            say("recognition paused");
        } else if (command == "RESUME") {
            session_.setRunning(true);
            say("recognition running");
        } else if (command == "STATUS") {
            session_.send(systemInfo(session_.running()));
        } else if (command == "VERSION") {
            session_.send(engineInfo("robotas-hear"));
        } else if (command == "DIE") {
            return true;
        } else if (command != "INPUTONCHANGE" && command != "ACTIVATEGRAM" && command != "DEACTIVATEGRAM" &&
                   command != "DELGRAM" && command != "ADDGRAM" && command != "CHANGEGRAM" &&
                   command != "SYNCGRAM") {
            say("unknown command: " + command.substr(0, 40));
        }
        return false;
    }

    Session& session_;
    CommandReader reader_;
    std::string lastCommand_;
};

}  // namespace

int runListeningRecogniser(int port, std::unique_ptr<AudioSource> sound, std::unique_ptr<Decoder> decoder) {
    const int listener = platform::listenOnLoopback(port);
    if (listener < 0) {
        std::cerr << "robotas-hear: cannot listen on port " << port << ": " << std::strerror(errno) << "\n";
        return 2;
    }
    say("listening on 127.0.0.1:" + std::to_string(port));
    Session session;
    std::thread audio([&] { listen(session, *sound, *decoder); });
    audio.detach();  // it may be waiting for sound when DIE ends the program
    for (;;) {
        const int client = acceptNextRobot(listener);
        if (client < 0) return 2;
        say("a client is connected");
        session.connected(client);
        CommandHandler handler(session);
        const bool died = handler.serve(client);
        session.disconnected();
        if (died) {
            say("DIE received, ending");
            std::cout.flush();
            _exit(0);  // the audio thread may be blocked in a read
        }
        say("the client has gone; waiting for the next");
    }
}

}  // namespace hear
