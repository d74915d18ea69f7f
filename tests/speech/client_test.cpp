// The recogniser client over a real socket pair: what it parses, what it sends.

#include "speech/client1.h"

#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>

#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/terminal.h"
#include "tests/support/robot_test.h"

namespace {

std::string wordLine(const std::string& word) {
    return "    <WHYPO WORD=\"" + word + "\" CLASSID=\"1\" PHONE=\"l a b a s\" CM=\"0.912\"/>";
}

// The client works on one end of a connected pair; the test is the recogniser.
class RecogniserClient : public robotest::RobotTest {
protected:
    void SetUp() override {
        RobotTest::SetUp();
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends_), 0);
        std::strcpy(recognisedWord(), "");
    }
    void TearDown() override { close(ends_[0]), close(ends_[1]), RobotTest::TearDown(); }
    std::string sent() {  // everything the client has sent so far
        std::string text;
        char chunk[512];
        for (ssize_t got; (got = recv(ends_[1], chunk, sizeof chunk, MSG_DONTWAIT)) > 0;) text.append(chunk, std::size_t(got));
        return text;
    }
    int ends_[2] = {-1, -1};
};

// A line in a buffer of its size (400 unless given), the word before it, the word after it.
TEST_F(RecogniserClient, OnlyWholeWordLinesChangeTheWord) {
    const std::string longer = wordLine("A_MUCH_LONGER_WORD_THAN_THE_NEXT");
    // after nullptr: the 250 letters
    const struct { std::string line; const char *before, *after; int size = 400; } cases[] = {
        {wordLine("LABAS"), "", "LABAS"},
        {wordLine("<s>"), "KAS", "KAS"},          // silence marker
        {"  " + wordLine("NAMO"), "KAS", "KAS"},  // six spaces: '=' is not at 15
        {"<INPUT STATUS=\"LISTEN\" TIME=\"1\"/>", "KAS", "KAS"},
        {wordLine("A"), "KAS", "A"},  // closing quote right after the first letter
        {"    <WHYPO WORD=\"GERO\"/>", "KAS", "GERO"},
        {"    <WHYPO WORD=\"UNFINISHED", "KAS", ""},
        {wordLine(""), "KAS", ""},  // not the text up to the next attribute's quote
        {wordLine(std::string(250, 'W')), "KAS", nullptr},
        {std::string("    <WHYPO WORD=\"AB\0", 20) + longer.substr(20), "KAS", ""},  // a longer line's bytes never close a word
        {"    <WHY", "KAS", "KAS", 10},  // small buffers stay inside themselves
    };
    for (const auto& c : cases) {
        std::strcpy(recognisedWord(), c.before);
        std::vector<char> buffer(c.line.begin(), c.line.end());
        buffer.resize(std::size_t(c.size), '\0');
        EXPECT_EQ(std::string(do_deshifre(buffer.data(), c.size)), c.after ? c.after : std::string(250, 'W')) << c.line;
    }
    EXPECT_STREQ(do_deshifre(nullptr, 256), "KAS");
}

// What the recogniser sends -> the word the client keeps, read by do_output
// twice (loop -1) or by one pass (1) or the continuous loop (0) of command_loop.
TEST_F(RecogniserClient, MessagesEndAtTheDotLineAndKeepTheirLastWord) {
    std::string garbage;
    for (int i = 1; i <= 1000; ++i) garbage += i % 200 == 0 ? '\n' : static_cast<char>((i * 37) % 256 == '\n' ? 0 : (i * 37) % 256);
    const struct { std::string sends; bool closes; int loop; const char* word; } cases[] = {
        // a message without words keeps the word
        {"<RECOGOUT>\n  <SHYPO RANK=\"1\">\n" + wordLine("<s>") + "\n" + wordLine("SVEIKAS") + "\n" + wordLine("PIRMYN") +
             "\n" + wordLine("</s>") + "\n  </SHYPO>\n</RECOGOUT>\n.\n<INPUT STATUS=\"LISTEN\" TIME=\"5\"/>\n.\n",
         false, -1, "PIRMYN"},
        {wordLine("NAMO") + "\n.\n" + garbage + "\n" + std::string(3, '\0') + "\n.\n", false, -1, "NAMO"},
        {"<RECOGOUT>\n" + wordLine("KAS") + "\n" + wordLine("NAMO"), true, -1, "KAS"},  // no LF, no "." line
        {wordLine("NAMO") + "\n.\n", false, 1, "NAMO"},
        {wordLine("TU") + "\n.\n", true, 0, "TU"},  // the loop ends when the recogniser goes
    };
    char line[kRecogniserLineSize];
    // A line of 255 characters fits, a leading line feed is kept, a longer line ends the program.
    const std::string lines = std::string(255, 'x') + "\n\nAB\n" + std::string(256, 'x') + "\n";
    ASSERT_EQ(write(ends_[1], lines.data(), lines.size()), ssize_t(lines.size()));
    for (const std::string& expected : {std::string(255, 'x'), std::string("\nAB")}) {
        ASSERT_TRUE(do_receive(ends_[0], line, sizeof line) != nullptr && line == expected) << line;
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(robotest::programEndStatus([&] { do_receive(ends_[0], line, sizeof line); }), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: do_receive: line too long (> 256)\n");
    for (const auto& c : cases) {
        TearDown(), SetUp();
        ASSERT_EQ(write(ends_[1], c.sends.data(), c.sends.size()), ssize_t(c.sends.size()));
        if (c.closes) close(ends_[1]), ends_[1] = -1;
        if (c.loop >= 0) command_loop(ends_[0], c.loop);
        for (int read = 0; read < 2; ++read) EXPECT_STREQ(c.loop >= 0 ? recognisedWord() : do_output(ends_[0]), c.word) << c.sends;
        EXPECT_TRUE(!c.closes || do_receive(ends_[0], line, sizeof line) == nullptr) << c.sends;
    }
}

// What the robot does -> exactly what goes to the recogniser, and what the console says.
TEST_F(RecogniserClient, CommandsGoOutAsTheirExactLines) {
    const std::string grammar = "0 1 1 0 0\n1 -1 -1 1 0\nDFAEND\n0\t[SVEIKAS]\ts v e i k a s\n1\t[KAS]\tk a sDICEND\n";
    // said: on the console ("": not looked at)
    const struct { std::function<void(int)> run; std::string sent; const char* said; } cases[] = {
        {[](int sd) {
             komanda_pause_recog(sd), komanda_resume_recog(sd), komanda_terminate_recog(sd), komanda_get_status(sd);
             komanda_get_version(sd), komanda_sync_grammar(sd), komanda_set_input_handler_on_change(sd, "pause");
             komanda_activate_grammar(sd, "2"), komanda_delete_grammar(sd, "4,5"), do_sendf(sd, "%s-%d\n", "X", 7);
             do_disconnect(sd);
         }, "PAUSE\nRESUME\nTERMINATE\nSTATUS\nVERSION\nSYNCGRAM\nINPUTONCHANGE\npause\nACTIVATEGRAM\n2\nDELGRAM\n4 5\nX-7\nDIE\n", ""},
        {[](int sd) { do_sendf(sd, "%s", std::string(400, 'z').c_str()); }, std::string(255, 'z'), ""},
        {[](int sd) { do_command_line(sd, "deactivategram 1,2,3 ignored\n"); }, "DEACTIVATEGRAM\n1 2 3\n", ""},
        // keyboard commands are whole lower-case words
        {[](int sd) { do_command_line(sd, "Pause\n"), do_command_line(sd, " \t\n"), do_command_line(sd, "\tresume\n"); },
         "RESUME\n", "No such command: [Pause]"},
        {[](int sd) { do_command_line(sd, "pauses\n"); }, "", "No such command: [pauses]"},
        {[](int sd) {
             for (const char* word : {"activategram", "deactivategram", "deletegram", "addgram", "changegram", "inputparam"}) do_command_line(sd, word);
         }, "", "Command activategram needs an argument"},
        {[](int sd) {  // no dictionary yet
             std::ofstream("robot.dfa") << "0 1 1 0 0\n1 -1 -1 1 0\n";
             EXPECT_EQ(komanda_add_grammar(sd, "robot"), -1);
             do_command_line(sd, "changegram robot");
         }, "", "komanda_change_grammar: No such file or directory"},
        {[](int sd) {  // the dictionary's last line without LF
             std::ofstream("robot.dict") << "0\t[SVEIKAS]\ts v e i k a s\n1\t[KAS]\tk a s";
             EXPECT_EQ(komanda_add_grammar(sd, "robot") + komanda_change_grammar(sd, "robot"), 0);
         }, "ADDGRAM robot\n" + grammar + "CHANGEGRAM robot\n" + grammar, ""},
        // "CHANGEGRAM " + prefix + LF would not fit 255
        {[](int sd) { EXPECT_EQ(komanda_change_grammar(sd, std::string(244, 'g').c_str()), -1); }, "", "File name too long"},
        {[](int sd) { platform::scriptKeys("pause\r"), command_loop(sd, 0); }, "PAUSE\n", "JULIUS:>>"},
        // Sends to something that is not a connection say so and write nothing; standard input is never read.
        {[](int) { komanda_resume_recog(1); }, "", "Error: do_send: Socket operation on non-socket"},
        {[](int) {
             char line[kRecogniserLineSize];
             do_sendf(-1, "RESUME\n");
             EXPECT_EQ(do_receive(0, line, sizeof line), nullptr);
         }, "", "Error: do_sendf: Bad file descriptor"},
    };
    robotest::ScopedWorkDir folder;
    for (const auto& c : cases) {
        platform::Terminal::instance().reset(), c.run(ends_[0]);
        EXPECT_EQ(sent(), c.sent) << c.said;
        EXPECT_NE(screen().find(c.said), std::string::npos) << c.said;
    }
    TypedLine typed;  // a typed line keeps 254 characters and its line feed
    for (int i = 0; i < 300; ++i) EXPECT_FALSE(typed.take('k'));
    EXPECT_TRUE(typed.take('\r') && typed.text() == std::string(254, 'k') + "\n");
    typed.clear();
    EXPECT_TRUE(!typed.take('a') && typed.take('\n') && typed.text() == std::string("a\n"));
}

// On the connection one pass waits 50 ms, in real time too; on what is not a socket, 3 s.
TEST_F(RecogniserClient, SinglePassWaitsForAMessageOrReportsWhatIsNotASocket) {
    const int closed = dup(ends_[0]);
    close(closed);
    for (int sd : {ends_[0], 1, -1, closed}) {
        platform::Terminal::instance().reset();
        const long long start = platform::nowMs();
        const auto realStart = std::chrono::steady_clock::now();
        command_loop(sd, 1);
        const long long realMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - realStart).count();
        if (sd == ends_[0]) {
            EXPECT_TRUE(platform::nowMs() - start == 50 && realMs >= 50 && realMs < 1000) << realMs;
            // The CR sends the cursor back: the blank after it covers the first quote.
            EXPECT_EQ(text(1) + "/" + text(2) + "/" + sent(), " JULIUS' serverio, klijento Nr. =  " + std::to_string(sd) + "//");
            continue;
        }
        EXPECT_EQ(platform::nowMs() - start, 3000) << sd;
        EXPECT_EQ(text(2) + "/" + text(3).substr(0, 15) + "/" + text(4) + "/" + text(5) + "/" + text(6),
                  " One of the descriptor sets contains an entry that is not a socket./Error: select: //"
                  "/REIKIA PALEISTI 'JULIUS' SERVERI !!!") << sd;
    }
}

}  // namespace
