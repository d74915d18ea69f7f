#include "tools/hear/protocol.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <sstream>

#include "platform/socket.h"

namespace hear {

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

std::string recognitionFailed() { return "<RECOGFAIL/>\n"; }

std::string systemInfo(bool running) {
    return std::string("<SYSINFO PROCESS=\"") + (running ? "ACTIVE" : "SLEEP") + "\"/>\n";
}

std::string engineInfo(const char* type) {
    return std::string("<ENGINEINFO TYPE=\"") + type + "\" VERSION=\"1.0\" CONF=\"\"/>\n";
}

std::string message(const std::string& body) { return body + ".\n"; }

std::vector<std::string> splitWords(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

void LineSplitter::take(const char* data, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const char byte = data[i];
        if (byte == '\n') {
            if (!pending_.empty() && pending_.back() == '\r') pending_.pop_back();
            ready_.push_back(pending_);
            pending_.clear();
        } else {
            pending_.push_back(byte);
            if (pending_.size() >= kMaxCommandLine) {
                ready_.push_back(pending_);
                pending_.clear();
            }
        }
    }
}

bool LineSplitter::next(std::string& line) {
    if (readyAt_ >= ready_.size()) {
        ready_.clear();
        readyAt_ = 0;
        return false;
    }
    line = ready_[readyAt_++];
    return true;
}

LineKind CommandReader::classify(const std::string& line) {
    switch (expect_) {
        case Expect::Argument: expect_ = Expect::Command; return LineKind::Argument;
        case Expect::Dfa:
            if (line == "DFAEND") expect_ = Expect::Dictionary;
            else ++grammarLines_;
            return LineKind::GrammarLine;
        case Expect::Dictionary:
            if (line != "DICEND") {
                ++grammarLines_;
                return LineKind::GrammarLine;
            }
            expect_ = Expect::Command;
            return LineKind::GrammarEnd;
        case Expect::Command: break;
    }
    const std::string command = commandWord(line);
    if (command == "INPUTONCHANGE" || command == "ACTIVATEGRAM" || command == "DEACTIVATEGRAM" ||
        command == "DELGRAM") {
        expect_ = Expect::Argument;
    } else if (command == "ADDGRAM" || command == "CHANGEGRAM") {
        expect_ = Expect::Dfa;
        grammarLines_ = 0;
    }
    return LineKind::Command;
}

std::string CommandReader::commandWord(const std::string& line) { return line.substr(0, line.find(' ')); }

int acceptNextRobot(int listener) {
    for (;;) {
        const int client = platform::acceptClient(listener);
        if (client >= 0) return client;
        if (errno == EINTR || errno == ECONNABORTED) continue;
        std::cerr << "robotas-hear: accept failed: " << std::strerror(errno) << "\n";
        return -1;
    }
}

}  // namespace hear
