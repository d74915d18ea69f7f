// The recogniser client over a real socket pair: what it parses, what it sends.

#include "speech/client1.h"

#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <utility>

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
    void TearDown() override {
        close(ends_[0]);
        closeRecogniser();
        RobotTest::TearDown();
    }
    int client() const { return ends_[0]; }
    void recogniserSends(const std::string& text) {
        ASSERT_EQ(write(ends_[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    void closeRecogniser() { close(std::exchange(ends_[1], -1)); }
    std::string sent() {  // everything the client has sent so far
        std::string text;
        char chunk[512];
        for (ssize_t got; (got = recv(ends_[1], chunk, sizeof chunk, MSG_DONTWAIT)) > 0;)
            text.append(chunk, static_cast<std::size_t>(got));
        return text;
    }
    int ends_[2] = {-1, -1};
};

// A line in a fresh buffer, the word before it, the word after it.
TEST_F(RecogniserClient, OnlyWholeWordLinesChangeTheWord) {
    const struct {
        std::string line;
        const char* before;
        const char* after;
    } cases[] = {
        {wordLine("LABAS"), "", "LABAS"},
        {wordLine("<s>"), "KAS", "KAS"},                 // silence marker
        {"  " + wordLine("NAMO"), "KAS", "KAS"},         // six spaces: '=' is not at 15
        {"<INPUT STATUS=\"LISTEN\" TIME=\"1\"/>", "KAS", "KAS"},
        {wordLine("A"), "KAS", "A"},                     // closing quote right after the first letter
        {"    <WHYPO WORD=\"GERO\"/>", "KAS", "GERO"},
        {"    <WHYPO WORD=\"UNFINISHED", "KAS", ""},
        {wordLine(""), "KAS", ""},                       // not the text up to the next attribute's quote
        {wordLine(std::string(250, 'W')), "KAS", nullptr},  // nullptr: the 250 letters
    };
    for (const auto& c : cases) {
        std::strcpy(recognisedWord(), c.before);
        std::vector<char> buffer(c.line.begin(), c.line.end());
        buffer.resize(400, '\0');
        EXPECT_EQ(std::string(do_deshifre(buffer.data(), static_cast<int>(buffer.size()))),
                  c.after ? c.after : std::string(250, 'W')) << c.line;
    }
    // Bytes left from a longer line in the same buffer never close a word.
    char buffer[kRecogniserLineSize] = {};
    std::strcpy(buffer, wordLine("A_MUCH_LONGER_WORD_THAN_THE_NEXT").c_str());
    std::strcpy(buffer, "    <WHYPO WORD=\"AB");
    EXPECT_STREQ(do_deshifre(buffer, sizeof buffer), "");
    char tiny[10] = "    <WHY";  // small buffers stay inside themselves
    std::strcpy(recognisedWord(), "KAS");
    EXPECT_STREQ(do_deshifre(tiny, sizeof tiny), "KAS");
    EXPECT_STREQ(do_deshifre(nullptr, 256), "KAS");
}

// Random bytes, some shaped like word lines: the word stays a terminated
// string inside its buffer and only word lines change it.
TEST_F(RecogniserClient, GarbageLinesNeverBreakTheWordBuffer) {
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        const int len = 1 + static_cast<int>(random() % 300);
        std::vector<char> line(static_cast<std::size_t>(len));
        for (char& c : line) c = static_cast<char>(random() % 256);
        const bool shaped = round % 2 == 0 && len > 18;
        if (shaped) std::memcpy(line.data(), "    <WHYPO WORD=\"", 17);
        std::strcpy(recognisedWord(), "KEEP");
        const char* word = do_deshifre(line.data(), len);
        ASSERT_LT(strnlen(word, kRecogniserLineSize), static_cast<std::size_t>(kRecogniserLineSize));
        if (!shaped && (len < 4 || std::memcmp(line.data(), "    ", 4) != 0)) {
            ASSERT_STREQ(word, "KEEP");
        }
    }
}

// What the recogniser sends -> the word the client keeps, read by do_output
// twice (loop -1) or by one pass (1) or the continuous loop (0) of command_loop.
TEST_F(RecogniserClient, MessagesEndAtTheDotLineAndKeepTheirLastWord) {
    std::string garbage;
    for (int i = 1; i <= 1000; ++i) garbage += i % 200 == 0 ? '\n' : static_cast<char>((i * 37) % 256 == '\n' ? 0 : (i * 37) % 256);
    const struct {
        std::string sends;
        bool closes;
        int loop;
        const char* word;
    } cases[] = {
        // a message without words keeps the word
        {"<RECOGOUT>\n  <SHYPO RANK=\"1\">\n" + wordLine("<s>") + "\n" + wordLine("SVEIKAS") + "\n" + wordLine("PIRMYN") +
             "\n" + wordLine("</s>") + "\n  </SHYPO>\n</RECOGOUT>\n.\n<INPUT STATUS=\"LISTEN\" TIME=\"5\"/>\n.\n",
         false, -1, "PIRMYN"},
        {wordLine("NAMO") + "\n.\n" + garbage + "\n" + std::string(3, '\0') + "\n.\n", false, -1, "NAMO"},
        {"<RECOGOUT>\n" + wordLine("KAS") + "\n" + wordLine("NAMO"), true, -1, "KAS"},  // no LF, no "." line
        {wordLine("NAMO") + "\n.\n", false, 1, "NAMO"},
        {wordLine("TU") + "\n.\n", true, 0, "TU"},  // the loop ends when the recogniser goes
    };
    for (const auto& c : cases) {
        TearDown();
        SetUp();
        recogniserSends(c.sends);
        if (c.closes) closeRecogniser();
        if (c.loop >= 0) command_loop(client(), c.loop);
        const char* first = c.loop >= 0 ? recognisedWord() : do_output(client());
        EXPECT_STREQ(first, c.word) << c.sends;
        EXPECT_STREQ(c.loop >= 0 ? recognisedWord() : do_output(client()), c.word) << c.sends;
        char line[kRecogniserLineSize];
        EXPECT_TRUE(!c.closes || do_receive(client(), line, sizeof line) == nullptr) << c.sends;
    }
}

TEST_F(RecogniserClient, LineOf255CharactersFitsAndLeadingLineFeedIsKeptButLongerEndsTheProgram) {
    char line[kRecogniserLineSize];
    recogniserSends(std::string(255, 'x') + "\n\nAB\n" + std::string(256, 'x') + "\n");
    ASSERT_NE(do_receive(client(), line, sizeof line), nullptr);
    EXPECT_EQ(std::string(line), std::string(255, 'x'));
    ASSERT_NE(do_receive(client(), line, sizeof line), nullptr);
    EXPECT_EQ(std::string(line), "\nAB");
    testing::internal::CaptureStderr();
    EXPECT_EQ(robotest::programEndStatus([&] { do_receive(client(), line, sizeof line); }), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: do_receive: line too long (> 256)\n");
}

// What the robot does -> exactly what goes to the recogniser, and what the console says.
TEST_F(RecogniserClient, CommandsGoOutAsTheirExactLines) {
    const struct {
        std::function<void(int)> run;
        std::string sent;
        const char* said;  // on the console ("": not looked at)
    } cases[] = {
        {[](int sd) {
             komanda_pause_recog(sd), komanda_resume_recog(sd), komanda_terminate_recog(sd), komanda_get_status(sd);
             komanda_get_version(sd), komanda_sync_grammar(sd), komanda_set_input_handler_on_change(sd, "pause");
             komanda_activate_grammar(sd, "2"), komanda_delete_grammar(sd, "4,5"), do_sendf(sd, "%s-%d\n", "X", 7);
             do_disconnect(sd);
         },
         "PAUSE\nRESUME\nTERMINATE\nSTATUS\nVERSION\nSYNCGRAM\nINPUTONCHANGE\npause\nACTIVATEGRAM\n2\nDELGRAM\n4 5\nX-7\nDIE\n", ""},
        {[](int sd) { do_sendf(sd, "%s", std::string(400, 'z').c_str()); }, std::string(255, 'z'), ""},
        {[](int sd) { do_command_line(sd, "deactivategram 1,2,3 ignored\n"); }, "DEACTIVATEGRAM\n1 2 3\n", ""},
        // keyboard commands are whole lower-case words
        {[](int sd) { do_command_line(sd, "Pause\n"), do_command_line(sd, " \t\n"), do_command_line(sd, "\tresume\n"); },
         "RESUME\n", "No such command: [Pause]"},
        {[](int sd) { do_command_line(sd, "pauses\n"); }, "", "No such command: [pauses]"},
        {[](int sd) {
             for (const char* command : {"activategram", "deactivategram", "deletegram", "addgram", "changegram", "inputparam"})
                 do_command_line(sd, command);
         },
         "", "Command activategram needs an argument"},
        {[](int sd) {
             std::ofstream("robot.dfa") << "0 1 1 0 0\n1 -1 -1 1 0\n";  // no dictionary yet
             EXPECT_EQ(komanda_add_grammar(sd, "robot"), -1);
             do_command_line(sd, "changegram robot");
         },
         "", "komanda_change_grammar: No such file or directory"},
        {[](int sd) {
             std::ofstream("robot.dict") << "0\t[SVEIKAS]\ts v e i k a s\n1\t[KAS]\tk a s";  // last line without LF
             EXPECT_EQ(komanda_add_grammar(sd, "robot") + komanda_change_grammar(sd, "robot"), 0);
         },
         "ADDGRAM robot\n0 1 1 0 0\n1 -1 -1 1 0\nDFAEND\n0\t[SVEIKAS]\ts v e i k a s\n1\t[KAS]\tk a sDICEND\n"
         "CHANGEGRAM robot\n0 1 1 0 0\n1 -1 -1 1 0\nDFAEND\n0\t[SVEIKAS]\ts v e i k a s\n1\t[KAS]\tk a sDICEND\n",
         ""},
        // "CHANGEGRAM " + prefix + LF would not fit 255
        {[](int sd) { EXPECT_EQ(komanda_change_grammar(sd, std::string(244, 'g').c_str()), -1); }, "", "File name too long"},
        {[](int sd) { platform::scriptKeys("pause\r"), command_loop(sd, 0); }, "PAUSE\n", "JULIUS:>>"},
        // Sends to something that is not a connection say so and write nothing; standard input is never read.
        {[](int) { komanda_resume_recog(1); }, "", "Error: do_send: Socket operation on non-socket"},
        {[](int) {
             char line[kRecogniserLineSize];
             do_sendf(-1, "RESUME\n");
             EXPECT_EQ(do_receive(0, line, sizeof line), nullptr);
         },
         "", "Error: do_sendf: Bad file descriptor"},
    };
    robotest::ScopedWorkDir folder;
    for (const auto& c : cases) {
        platform::Terminal::instance().reset();
        c.run(client());
        EXPECT_EQ(sent(), c.sent) << c.said;
        EXPECT_NE(screen().find(c.said), std::string::npos) << c.said;
    }
}

TEST_F(RecogniserClient, TypedLineKeeps254CharactersAndItsLineFeed) {
    TypedLine typed;
    for (int i = 0; i < 300; ++i) EXPECT_FALSE(typed.take('k'));
    EXPECT_TRUE(typed.take('\r'));
    EXPECT_EQ(std::string(typed.text()), std::string(254, 'k') + "\n");
    typed.clear();
    typed.take('a');
    EXPECT_TRUE(typed.take('\n'));
    EXPECT_STREQ(typed.text(), "a\n");
}

// One pass: on the connection it waits 50 ms, in real time too, for a message; on
// something that is not a socket it says so and waits 3 s.
TEST_F(RecogniserClient, SinglePassWaitsForAMessageOrReportsWhatIsNotASocket) {
    const int closed = dup(client());
    close(closed);
    for (int sd : {client(), 1, -1, closed}) {
        platform::Terminal::instance().reset();
        const long long start = platform::nowMs();
        const auto realStart = std::chrono::steady_clock::now();
        command_loop(sd, 1);
        const auto realMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - realStart);
        if (sd == client()) {
            EXPECT_EQ(platform::nowMs() - start, 50);
            EXPECT_TRUE(realMs.count() >= 50 && realMs.count() < 1000) << realMs.count();
            // The CR sends the cursor back: the blank after it covers the first quote.
            EXPECT_EQ(text(1) + "/" + text(2), " JULIUS' serverio, klijento Nr. =  " + std::to_string(sd) + "/");
            EXPECT_EQ(sent(), "");
            continue;
        }
        EXPECT_EQ(platform::nowMs() - start, 3000) << sd;
        EXPECT_EQ(text(2) + "/" + text(3).substr(0, 15) + "/" + text(4) + "/" + text(5) + "/" + text(6),
                  " One of the descriptor sets contains an entry that is not a socket./Error: select: //"
                  "/REIKIA PALEISTI 'JULIUS' SERVERI !!!") << sd;
    }
}

}  // namespace
