// The recogniser client over a real socket pair: what it parses, what it sends.

#include "speech/client1.h"

#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <random>
#include <string>

#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/terminal.h"
#include "tests/support/robot_test.h"

namespace {

std::string trimmed(std::string text) {
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

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
        closeClient();
        closeRecogniser();
        RobotTest::TearDown();
    }

    int client() const { return ends_[0]; }
    void recogniserSends(const std::string& text) {
        ASSERT_EQ(write(ends_[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    void closeRecogniser() {
        if (ends_[1] >= 0) close(ends_[1]);
        ends_[1] = -1;
    }
    void closeClient() {
        if (ends_[0] >= 0) close(ends_[0]);
        ends_[0] = -1;
    }
    // Everything the client has sent so far.
    std::string sent() {
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

TEST_F(RecogniserClient, MessageEndsAtTheDotLineAndKeepsItsLastWord) {
    recogniserSends("<RECOGOUT>\n  <SHYPO RANK=\"1\">\n" + wordLine("<s>") + "\n" + wordLine("SVEIKAS") + "\n" +
                    wordLine("PIRMYN") + "\n" + wordLine("</s>") + "\n  </SHYPO>\n</RECOGOUT>\n.\n" +
                    "<INPUT STATUS=\"LISTEN\" TIME=\"5\"/>\n.\n");
    EXPECT_STREQ(do_output(client()), "PIRMYN");
    EXPECT_STREQ(do_output(client()), "PIRMYN");  // a message without words keeps the word
}

TEST_F(RecogniserClient, LineOf255CharactersFitsAndLeadingLineFeedIsKept) {
    char line[kRecogniserLineSize];
    recogniserSends(std::string(255, 'x') + "\n" + "\nAB\n");
    ASSERT_NE(do_receive(client(), line, sizeof line), nullptr);
    EXPECT_EQ(std::string(line), std::string(255, 'x'));
    ASSERT_NE(do_receive(client(), line, sizeof line), nullptr);
    EXPECT_EQ(std::string(line), "\nAB");
}

TEST_F(RecogniserClient, LineOf256CharactersEndsTheProgram) {
    recogniserSends(std::string(256, 'x') + "\n");
    char line[kRecogniserLineSize];
    testing::internal::CaptureStderr();
    EXPECT_EQ(robotest::programEndStatus([&] { do_receive(client(), line, sizeof line); }), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: do_receive: line too long (> 256)\n");
}

TEST_F(RecogniserClient, BinaryGarbageBetweenMessagesChangesNothing) {
    std::string garbage;
    for (int i = 1; i <= 1000; ++i) garbage += i % 200 == 0 ? '\n' : static_cast<char>((i * 37) % 256 == '\n' ? 0 : (i * 37) % 256);
    recogniserSends(wordLine("NAMO") + "\n.\n" + garbage + "\n" + std::string(3, '\0') + "\n.\n");
    EXPECT_STREQ(do_output(client()), "NAMO");
    EXPECT_STREQ(do_output(client()), "NAMO");
}

TEST_F(RecogniserClient, ClosedConnectionEndsReadingWithTheWordSoFar) {
    recogniserSends("<RECOGOUT>\n" + wordLine("KAS") + "\n" + wordLine("NAMO"));  // no LF, no "." line
    closeRecogniser();
    EXPECT_STREQ(do_output(client()), "KAS");
    char line[kRecogniserLineSize];
    EXPECT_EQ(do_receive(client(), line, sizeof line), nullptr);
}

TEST_F(RecogniserClient, CommandsGoOutAsTheirExactLines) {
    komanda_pause_recog(client());
    komanda_resume_recog(client());
    komanda_terminate_recog(client());
    komanda_get_status(client());
    komanda_get_version(client());
    komanda_sync_grammar(client());
    komanda_set_input_handler_on_change(client(), "pause");
    komanda_activate_grammar(client(), "2");
    komanda_delete_grammar(client(), "4,5");
    do_sendf(client(), "%s-%d\n", "X", 7);
    do_disconnect(client());
    EXPECT_EQ(sent(),
              "PAUSE\nRESUME\nTERMINATE\nSTATUS\nVERSION\nSYNCGRAM\nINPUTONCHANGE\npause\n"
              "ACTIVATEGRAM\n2\nDELGRAM\n4 5\nX-7\nDIE\n");
}

TEST_F(RecogniserClient, FormattedCommandIsCutTo255Characters) {
    do_sendf(client(), "%s", std::string(400, 'z').c_str());
    EXPECT_EQ(sent(), std::string(255, 'z'));
}

TEST_F(RecogniserClient, IdListTypedWithCommasGoesOutWithSpaces) {
    do_command_line(client(), "deactivategram 1,2,3 ignored\n");
    EXPECT_EQ(sent(), "DEACTIVATEGRAM\n1 2 3\n");
}

TEST_F(RecogniserClient, KeyboardCommandsAreWholeLowerCaseWords) {
    do_command_line(client(), "Pause\n");
    do_command_line(client(), "pauses\n");
    do_command_line(client(), " \t\n");
    EXPECT_EQ(sent(), "");
    EXPECT_NE(screen().find("No such command: [Pause]"), std::string::npos);
    EXPECT_NE(screen().find("No such command: [pauses]"), std::string::npos);
    do_command_line(client(), "\tresume\n");
    EXPECT_EQ(sent(), "RESUME\n");
}

TEST_F(RecogniserClient, GrammarCommandWithoutArgumentSendsNothing) {
    for (const char* command : {"activategram", "deactivategram", "deletegram", "addgram", "changegram", "inputparam"})
        do_command_line(client(), command);
    EXPECT_EQ(sent(), "");
    EXPECT_NE(screen().find("Command activategram needs an argument"), std::string::npos);
}

TEST_F(RecogniserClient, GrammarWithMissingDictionaryIsNotSent) {
    robotest::ScopedWorkDir folder;
    std::ofstream("robot.dfa") << "0 1 1 0 0\n";
    EXPECT_EQ(komanda_add_grammar(client(), "robot"), -1);
    do_command_line(client(), "changegram robot");
    EXPECT_EQ(sent(), "");
    EXPECT_NE(row(1).find("komanda_change_grammar: No such file or directory"), std::string::npos);
}

TEST_F(RecogniserClient, GrammarUploadSendsBothFilesWithTheirEndMarkers) {
    robotest::ScopedWorkDir folder;
    std::ofstream("robot.dfa") << "0 1 1 0 0\n1 -1 -1 1 0\n";
    std::ofstream("robot.dict") << "0\t[SVEIKAS]\ts v e i k a s\n1\t[KAS]\tk a s";  // last line without LF
    EXPECT_EQ(komanda_add_grammar(client(), "robot"), 0);
    EXPECT_EQ(sent(),
              "ADDGRAM robot\n0 1 1 0 0\n1 -1 -1 1 0\nDFAEND\n"
              "0\t[SVEIKAS]\ts v e i k a s\n1\t[KAS]\tk a sDICEND\n");
    EXPECT_EQ(komanda_change_grammar(client(), "robot"), 0);
    EXPECT_EQ(sent().substr(0, 17), "CHANGEGRAM robot\n");
}

TEST_F(RecogniserClient, GrammarPrefixTooLongForItsCommandLineIsRefused) {
    const std::string prefix(244, 'g');  // "CHANGEGRAM " + prefix + LF would not fit 255
    EXPECT_EQ(komanda_change_grammar(client(), prefix.c_str()), -1);
    EXPECT_EQ(sent(), "");
    EXPECT_NE(screen().find("File name too long"), std::string::npos);
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

TEST_F(RecogniserClient, SendsToSomethingThatIsNotAConnectionReportAndWriteNothing) {
    komanda_resume_recog(1);  // standard output: never written to
    EXPECT_NE(row(1).find("Error: do_send: Socket operation on non-socket"), std::string::npos);
    do_sendf(-1, "RESUME\n");
    EXPECT_NE(row(2).find("Error: do_sendf: Bad file descriptor"), std::string::npos);
    char line[kRecogniserLineSize];
    EXPECT_EQ(do_receive(0, line, sizeof line), nullptr);  // standard input is never read
}

TEST_F(RecogniserClient, SinglePassWithNothingArrivingWaits50Ms) {
    platform::scriptKeys("");
    const long long virtualStart = platform::nowMs();
    const auto start = std::chrono::steady_clock::now();
    command_loop(client(), 1);
    const auto realMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_GE(realMs.count(), 50);
    EXPECT_LT(realMs.count(), 1000);
    EXPECT_EQ(platform::nowMs() - virtualStart, 50);
    // The CR sends the cursor back: the blank after it covers the first quote.
    EXPECT_EQ(trimmed(row(1)), " JULIUS' serverio, klijento Nr. =  " + std::to_string(client()));
    EXPECT_EQ(trimmed(row(2)), "");
    EXPECT_EQ(sent(), "");
}

TEST_F(RecogniserClient, SinglePassReadsAWaitingMessage) {
    recogniserSends(wordLine("NAMO") + "\n.\n");
    command_loop(client(), 1);
    EXPECT_STREQ(recognisedWord(), "NAMO");
}

TEST_F(RecogniserClient, PassOnSomethingThatIsNotASocketReportsItAndWaits3s) {
    const int closed = dup(client());
    close(closed);
    for (int notASocket : {1, -1, closed}) {
        SCOPED_TRACE(notASocket);
        platform::Terminal::instance().reset();
        const long long start = platform::nowMs();
        command_loop(notASocket, 1);
        EXPECT_EQ(platform::nowMs() - start, 3000);
        EXPECT_EQ(trimmed(row(2)), " One of the descriptor sets contains an entry that is not a socket.");
        EXPECT_EQ(trimmed(row(3)).substr(0, 15), "Error: select: ");
        EXPECT_EQ(trimmed(row(4)), "");
        EXPECT_EQ(trimmed(row(5)), "");
        EXPECT_EQ(trimmed(row(6)), "REIKIA PALEISTI 'JULIUS' SERVERI !!!");
    }
}

TEST_F(RecogniserClient, ContinuousLoopRunsATypedCommandAndEndsWithTheKeyboard) {
    platform::scriptKeys("pause\r");
    command_loop(client(), 0);
    EXPECT_EQ(sent(), "PAUSE\n");
    EXPECT_NE(screen().find("JULIUS:>>"), std::string::npos);
}

TEST_F(RecogniserClient, ContinuousLoopEndsWhenTheRecogniserGoes) {
    platform::scriptKeys("");
    recogniserSends(wordLine("TU") + "\n.\n");
    closeRecogniser();
    command_loop(client(), 0);
    EXPECT_STREQ(recognisedWord(), "TU");
}

}  // namespace
