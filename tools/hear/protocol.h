#pragma once
// The recogniser's module protocol as robotas-hear speaks it: the messages it
// sends (each a few lines closed by a "." line) and the reading of the robot's
// command lines, including the grammar uploads that follow ADDGRAM and
// CHANGEGRAM. Shared by the typed-word peer and the listening recogniser.

#include <cstddef>
#include <string>
#include <vector>

namespace hear {

// The robot's line buffer holds 255 characters and a NUL.
constexpr std::size_t kLongestLine = 255;

// Milliseconds since the program started (the TIME of input-status messages).
long long msSinceStart();

// Message bodies (without the closing "." line).
std::string inputStatus(const char* status);
std::string wordLine(const std::string& word, int classId);
// The result of one utterance, between the silence words; empty (with the
// reason in why) when a word would not fit the robot's line or holds a quote.
std::string resultMessage(const std::vector<std::string>& words, std::string& why);
std::string recognitionFailed();
std::string systemInfo(bool running);
std::string engineInfo(const char* type);

// A body closed by its "." line, ready to send.
std::string message(const std::string& body);

std::vector<std::string> splitWords(const std::string& line);

// The next robot to connect to the listening socket, or -1 (said on standard
// error) when accepting has failed for good.
int acceptNextRobot(int listener);

// Cuts the received bytes into lines. CR before LF is dropped, so commands may
// end in CR LF and may arrive split across any number of reads. A line longer
// than kMaxCommandLine is cut there (its rest starts a new line) so that a
// client sending no LF cannot make the server hold unbounded data.
class LineSplitter {
public:
    static constexpr std::size_t kMaxCommandLine = 4096;
    void take(const char* data, std::size_t count);
    // The next complete line; false when none is waiting.
    bool next(std::string& line);

private:
    std::string pending_;
    std::vector<std::string> ready_;
    std::size_t readyAt_ = 0;
};

// What a received line is, given the lines before it: a command, the argument
// line of INPUTONCHANGE and the grammar id commands, a line of a grammar
// upload, or the DICEND that completes an upload.
enum class LineKind { Command, Argument, GrammarLine, GrammarEnd };

class CommandReader {
public:
    LineKind classify(const std::string& line);
    // Lines of the DFA and dictionary of the upload that just ended.
    int grammarLines() const { return grammarLines_; }
    // The command word of a command line ("ADDGRAM robot" gives ADDGRAM).
    static std::string commandWord(const std::string& line);

private:
    enum class Expect { Command, Argument, Dfa, Dictionary };
    Expect expect_ = Expect::Command;
    int grammarLines_ = 0;
};

}  // namespace hear
