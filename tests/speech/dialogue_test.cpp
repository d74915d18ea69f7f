// The voice dialogue modes against the recogniser stand-in on port 10500, with
// virtual time: the robot's sleeps pass at once, the socket is real.
//
// The stand-in answers every RESUME with an input-status message, and sends an
// utterance as two messages (an input status, then the result). Scripted keys
// are always "waiting", so a mode takes exactly one key after every message.

#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/runner.h"
#include "shell/console/f_graph.h"
#include "speech/speech.h"
#include "tests/support/hear_peer.h"
#include "tests/support/robot_test.h"

namespace {

using Lines = std::vector<std::string>;

const char* const kWhatToDo = "eSpeak.exe -v lv+m4 kaaa......daa`ryi`tiii";
const char* const kHello = "eSpeak.exe -v lv+m4  la'ba'sz";
const std::string kEsc = "\x1b";

std::string trimmed(std::string text) {
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

// n keys that mean nothing to the modes, one for each message before the one that matters.
std::string otherKeys(int n) { return std::string(static_cast<std::size_t>(n), 'x'); }

class VoiceDialogue : public robotest::RobotTest {
protected:
    void TearDown() override {
        if (prisijungimas > 1) close(prisijungimas);
        prisijungimas = 0;
        keyPressed = 0;
        peer_.reset();
        RobotTest::TearDown();
    }

    // Connects as start-up does (connect, pause) to a stand-in running script.
    void startRecogniser(const std::string& script) {
        peer_ = std::make_unique<robotest::HearPeer>(script);
        ASSERT_TRUE(peer_->listening()) << peer_->startOutput();
        prisijungimas = do_connect("localhost", 10500);
        ASSERT_GT(prisijungimas, 1);
        komanda_pause_recog(prisijungimas);
        waitForStatusReply();
        std::strcpy(recognisedWord(), "");
        keyPressed = kKeyMenuRead;
        start_ = platform::nowMs();
    }

    // A status reply waiting in the socket is what the mode's single pass of the
    // multiplexer reads, so that pass never takes a scripted key.
    void waitForStatusReply() {
        komanda_get_status(prisijungimas);
        pollfd watch{prisijungimas, POLLIN, 0};
        ASSERT_EQ(poll(&watch, 1, 3000), 1);
    }

    // Shutdown's disconnect; then everything the stand-in received.
    Lines endRecogniser() {
        do_disconnect(prisijungimas);
        EXPECT_TRUE(peer_->waitForExit());
        return peer_->receivedLines();
    }

    long long elapsedMs() const { return platform::nowMs() - start_; }
    static Lines spoken() { return platform::recordedCommands(); }

    std::unique_ptr<robotest::HearPeer> peer_;
    long long start_ = 0;
};

TEST_F(VoiceDialogue, ConnectAlwaysGoesToPort10500AndTheRecogniserStaysForTheNextConnection) {
    peer_ = std::make_unique<robotest::HearPeer>("wait VERSION\nKAS\n");
    ASSERT_TRUE(peer_->listening()) << peer_->startOutput();
    prisijungimas = do_connect("localhost", 4711);
    ASSERT_GT(prisijungimas, 1);
    komanda_pause_recog(prisijungimas);
    // Re-initialisation drops the connection and connects anew.
    close(prisijungimas);
    prisijungimas = do_connect("localhost", 10500);
    ASSERT_GT(prisijungimas, 1);
    komanda_get_version(prisijungimas);
    for (int message = 0; message < 3; ++message) do_output(prisijungimas);  // version, input status, result
    EXPECT_STREQ(recognisedWord(), "KAS");
    EXPECT_EQ(endRecogniser(), (Lines{"PAUSE", "VERSION", "DIE"}));
}

TEST_F(VoiceDialogue, ConnectWithoutRecogniserReturnsOne) {
    EXPECT_EQ(do_connect("localhost", 10500), 1);
    EXPECT_NE(screen().find("cannot connect : Connection refused"), std::string::npos);
}

TEST_F(VoiceDialogue, GreetingWaitsForSveikasAndGreetsBack) {
    startRecogniser("wait RESUME\nKAS\nSVEIKAS\n");
    EXPECT_EQ(Pradzia(), 1);
    EXPECT_EQ(spoken(), Lines{kHello});
    EXPECT_EQ(elapsedMs(), 2000 + 500 + 500);
    EXPECT_EQ(trimmed(row(58)), " Atpazintas  zodis : SVEIKAS");
    EXPECT_EQ(trimmed(row(52)), " Pasisveikink su robotu:");
    EXPECT_EQ(attrAt(2, 52), 96);
    EXPECT_EQ(trimmed(row(56)), " Iseiti spausti 'esc' ir + bet koks garsas");
    EXPECT_EQ(attrAt(2, 56), 72);
    EXPECT_STREQ(recognisedWord(), "+");
    EXPECT_EQ(endRecogniser(), (Lines{"PAUSE", "STATUS", "RESUME", "PAUSE", "RESUME", "PAUSE", "DIE"}));
}

TEST_F(VoiceDialogue, GreetingTurnsAHandledWordIdleOnce) {
    startRecogniser("wait RESUME\nstatus\nSVEIKAS\n");
    std::strcpy(recognisedWord(), "+");
    EXPECT_EQ(Pradzia(), 1);
    EXPECT_EQ(elapsedMs(), 500 + 2000 + 500 + 500);  // "+" became "-" once, not again
}

TEST_F(VoiceDialogue, GreetingLeftWithEscAfterAnySound) {
    startRecogniser("wait RESUME\nstatus\n");
    platform::scriptKeys(kEsc);
    EXPECT_EQ(Pradzia(), 1);
    EXPECT_EQ(spoken(), Lines{kHello});
    EXPECT_EQ(endRecogniser(), (Lines{"PAUSE", "STATUS", "RESUME", "PAUSE", "RESUME", "PAUSE", "DIE"}));
}

TEST_F(VoiceDialogue, GrammarUploadReachesTheRecogniserWhole) {
    robotest::ScopedWorkDir folder;
    std::ofstream("robot.dfa") << "0 1 1 0 0\nRESUME\n";  // grammar lines are never taken for commands
    std::ofstream("robot.dict") << "0\t[KAS]\tk a s\n";
    startRecogniser("");
    EXPECT_EQ(komanda_add_grammar(prisijungimas, "robot"), 0);
    komanda_get_status(prisijungimas);
    do_output(prisijungimas);  // the status reply of the start
    do_output(prisijungimas);  // the grammar receipt
    char line[kRecogniserLineSize];
    ASSERT_NE(do_receive(prisijungimas, line, sizeof line), nullptr);
    EXPECT_STREQ(line, "<SYSINFO PROCESS=\"SLEEP\"/>");  // still paused
    EXPECT_EQ(endRecogniser(), (Lines{"PAUSE", "STATUS", "ADDGRAM robot", "0 1 1 0 0", "RESUME", "DFAEND",
                                      "0\t[KAS]\tk a s", "DICEND", "STATUS", "DIE"}));
}

TEST_F(VoiceDialogue, WithoutRecogniserTheDialoguesReturnAtOnce) {
    for (int failedConnection : {1, -1}) {  // a refused connect, and no socket at all
        prisijungimas = failedConnection;
        EXPECT_EQ(Pradzia(), -1);
        EXPECT_EQ(DialogasRobRezimas(), 0);
    }
    EXPECT_TRUE(spoken().empty());
    EXPECT_EQ(screen().find_first_not_of(" \n"), std::string::npos);
}

TEST_F(VoiceDialogue, DemoWithoutRecogniserAdvisesStartingItAndLeavesOnEsc) {
    prisijungimas = 1;  // the demonstration does not check the connection
    platform::scriptKeys("x" + kEsc);
    const long long start = platform::nowMs();
    KalboaAtpazinimas_demo();
    EXPECT_EQ(platform::nowMs() - start, 3000 + 500 + 500);
    EXPECT_NE(screen().find("REIKIA PALEISTI 'JULIUS' SERVERI !!!"), std::string::npos);
    EXPECT_NE(screen().find("Error: do_send: Socket operation on non-socket"), std::string::npos);
    EXPECT_TRUE(spoken().empty());
}

struct WorkModeCase {
    const char* word;
    const char* reply;
    int speechMs;
    int mode;
};

class WorkModeChoice : public VoiceDialogue, public testing::WithParamInterface<WorkModeCase> {};

TEST_P(WorkModeChoice, SpokenWordChoosesTheRobotMode) {
    const WorkModeCase& choice = GetParam();
    startRecogniser(std::string("wait RESUME\nCIA\n") + choice.word + "\n");
    EXPECT_EQ(DialogasRobRezimas(), choice.mode);
    EXPECT_EQ(spoken(), (Lines{kWhatToDo, choice.reply}));
    EXPECT_EQ(elapsedMs(), 1000 + 2000 + choice.speechMs + 500 + 500);
    EXPECT_EQ(trimmed(row(10)), "Isrink roboto darbo rezima:");
    // The multiplexer's client line follows on the same row, as on the robot's console.
    EXPECT_EQ(row(57).rfind("            arba  pasakyti dar karta zodi  'SVEIKAS''JULIUS'", 0), 0u);
    EXPECT_EQ(endRecogniser(), (Lines{"PAUSE", "STATUS", "RESUME", "PAUSE", "RESUME", "PAUSE", "DIE"}));
}

INSTANTIATE_TEST_SUITE_P(
    VoiceDialogue, WorkModeChoice,
    testing::Values(WorkModeCase{"KAS", "eSpeak.exe -v lv+m4  kaasz", 1000, 1},
                    WorkModeCase{"SURASK", "eSpeak.exe -v de+m4  ijeaschkauu", 3000, 2},
                    WorkModeCase{"PIRMYN", "eSpeak.exe -v lv+m4  eyjnuu", 1400, 3},
                    WorkModeCase{"SVEIKAS", "eSpeak.exe -v lv+m4 naa...daarr...la'ba'sz", 3000, 0}));

TEST_F(VoiceDialogue, KeyMIsActedOnAfterTheNextMessage) {
    startRecogniser("wait RESUME\nCIA\nKAS\n");
    // After the input status: m. The next message (CIA) ends the dialogue; KAS is never taken.
    platform::scriptKeys("xm");
    EXPECT_EQ(DialogasRobRezimas(), 0);
    EXPECT_EQ(trimmed(row(58)), " Atpazintas  zodis : CIA");
    EXPECT_EQ(spoken(), (Lines{kWhatToDo, "eSpeak.exe -v lv+m4 naa...daarr...la'ba'sz"}));
    EXPECT_EQ(keyPressed, kKeyLeaveMode);
}

TEST_F(VoiceDialogue, DemoAnswersEveryKnownWordEachTimeItComes) {
    startRecogniser(
        "wait RESUME\nKAS\nwait RESUME\nKAS\nwait RESUME\nSTOK\nwait RESUME\nSTOP\n"
        "wait RESUME\nCIA\nstatus\nstatus\n");
    // Messages: status; then 3 for each answered word (status, result, status after
    // the answer), 2 for CIA; Esc comes with the first lone status.
    platform::scriptKeys(otherKeys(1 + 4 * 3 + 2) + kEsc);
    KalboaAtpazinimas_demo();
    const Lines expected{"eSpeak.exe -v lv+m4  kaasz", "eSpeak.exe -v lv+m4  kaasz", "eSpeak.exe -v lv+m4 sztooopp",
                         "eSpeak.exe -v lv+m4 sztooopp"};
    EXPECT_EQ(spoken(), expected);  // CIA is not CHIA: no answer
    EXPECT_EQ(elapsedMs(), (1000 + 500) * 2 + (1500 + 500) * 2 + 500 + 500);
    EXPECT_EQ(trimmed(row(46)), " Atpazintas  zodis : CIA");
    EXPECT_EQ(trimmed(row(1)), " NAUDOJAMI ZODZIAI :");
    EXPECT_EQ(trimmed(row(2)), " APLINK");
    EXPECT_EQ(trimmed(row(31)), " ZHEMYN");
    EXPECT_EQ(attrAt(2, 31), 100);
    EXPECT_EQ(trimmed(row(40)), "     Iseiti is 'DEMO' spausti 'esc' ir + bet koks garsas");
    const Lines heard = endRecogniser();
    EXPECT_EQ(heard.front(), "PAUSE");
    EXPECT_EQ(heard[heard.size() - 2], "PAUSE");  // the demonstration leaves recognition paused
}

TEST_F(VoiceDialogue, DemoWithAnswersOffStillShowsTheWord) {
    startRecogniser("wait RESUME\nKAS\nstatus\n");
    platform::scriptKeys("dx" + kEsc);
    KalboaAtpazinimas_demo();
    EXPECT_TRUE(spoken().empty());
    EXPECT_EQ(trimmed(row(46)), " Atpazintas  zodis : KAS");
}

TEST_F(VoiceDialogue, DemoAnswersAgainAfterSecondD) {
    startRecogniser("wait RESUME\nKAS\nGERO\nwait RESUME\nstatus\nstatus\n");
    // d after the first status (off), d after KAS (on again). The next message,
    // an input status, still holds KAS: answered now, then GERO.
    platform::scriptKeys("dxdxxx" + kEsc);
    KalboaAtpazinimas_demo();
    EXPECT_EQ(spoken(), (Lines{"eSpeak.exe -v lv+m4  kaasz", "eSpeak.exe -v lv+m4  gearo"}));
}

TEST_F(VoiceDialogue, WordMeaningReadsOneMessage) {
    startRecogniser("wait RESUME\nVIETA\n");
    std::strcpy(recognisedWord(), "NAMO");
    // The single pass reads the status reply, the one message read is the input status.
    const char* word = zodzio_reiksme();
    EXPECT_STREQ(word, "NAMO");
    EXPECT_EQ(naujasZodis, recognisedWord());
    EXPECT_EQ(senasZodis, recognisedWord());
    EXPECT_EQ(trimmed(row(38)), "    Atpazintas zodis:   NAMO");
    EXPECT_EQ(endRecogniser(), (Lines{"PAUSE", "STATUS", "RESUME", "PAUSE", "DIE"}));
}

}  // namespace
