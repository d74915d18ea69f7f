// The voice dialogues against the recogniser stand-in on port 10500, in virtual time. The
// stand-in answers every RESUME with an input status and sends an utterance as an input
// status, then the result; scripted keys are always "waiting": one key after every message.

#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/runner.h"
#include "shell/console/f_graph.h"
#include "speech/speech.h"
#include "tests/support/hear_peer.h"
#include "tests/support/robot_test.h"

namespace {

using Lines = std::vector<std::string>;
using platform::recordedCommands;

const char* const kWhatToDo = "eSpeak.exe -v lv+m4 kaaa......daa`ryi`tiii";
const std::string kEsc = "\x1b";
const Lines kOneUtterance = {"PAUSE", "STATUS", "RESUME", "PAUSE", "RESUME", "PAUSE", "DIE"};

class VoiceDialogue : public robotest::RobotTest {
protected:
    void TearDown() override {
        if (prisijungimas > 1) close(prisijungimas);
        prisijungimas = keyPressed = 0;
        std::strcpy(recognisedWord(), ""), peer_.reset(), RobotTest::TearDown();
    }
    // Connected as start-up does (connect, pause) to a stand-in running script.
    void startRecogniser(const std::string& script) {
        TearDown(), SetUp();
        peer_ = std::make_unique<robotest::HearPeer>(script);
        ASSERT_TRUE(peer_->listening()) << peer_->startOutput();
        prisijungimas = do_connect("localhost", 10500);
        ASSERT_GT(prisijungimas, 1);
        komanda_pause_recog(prisijungimas);
        // A status reply waiting in the socket is what the mode's single pass of the
        // multiplexer reads, so that pass never takes a scripted key.
        komanda_get_status(prisijungimas);
        pollfd watch{prisijungimas, POLLIN, 0};
        ASSERT_EQ(poll(&watch, 1, 3000), 1);
        std::strcpy(recognisedWord(), ""), keyPressed = kKeyMenuRead, start_ = platform::nowMs();
    }
    Lines endRecogniser() {  // shutdown's disconnect; then everything the stand-in received
        do_disconnect(prisijungimas);
        EXPECT_TRUE(peer_->waitForExit());
        return peer_->receivedLines();
    }
    long long elapsedMs() const { return platform::nowMs() - start_; }

    std::unique_ptr<robotest::HearPeer> peer_;
    long long start_ = 0;
};

TEST_F(VoiceDialogue, WithoutRecogniserTheDialoguesReturnAtOnceConnectAlwaysGoesToPort10500) {
    for (int failedConnection : {1, -1}) {  // a refused connect, and no socket at all
        prisijungimas = failedConnection;
        EXPECT_EQ(Pradzia() * 10 + DialogasRobRezimas(), -10);
    }
    EXPECT_EQ(screen().find_first_not_of(" \n"), std::string::npos);
    prisijungimas = 1;  // the demonstration does not check the connection
    platform::scriptKeys("x" + kEsc);
    const long long start = platform::nowMs();
    KalboaAtpazinimas_demo();
    EXPECT_TRUE(platform::nowMs() - start == 3000 + 500 + 500 && recordedCommands().empty());
    EXPECT_EQ(do_connect("localhost", 10500), 1);  // nobody listens yet
    EXPECT_NE(screen().find("cannot connect : Connection refused"), std::string::npos);
    peer_ = std::make_unique<robotest::HearPeer>("wait VERSION\nKAS\n");
    ASSERT_TRUE(peer_->listening()) << peer_->startOutput();
    prisijungimas = do_connect("localhost", 4711);
    ASSERT_GT(prisijungimas, 1);
    komanda_pause_recog(prisijungimas);
    close(prisijungimas);  // re-initialisation drops the connection and connects anew
    prisijungimas = do_connect("localhost", 10500);
    ASSERT_GT(prisijungimas, 1);
    komanda_get_version(prisijungimas);
    for (int message = 0; message < 3; ++message) do_output(prisijungimas);  // version, input status, result
    EXPECT_STREQ(recognisedWord(), "KAS");
    EXPECT_EQ(endRecogniser(), (Lines{"PAUSE", "VERSION", "DIE"}));
}

// Script, the word before and keys -> how long the greeting waits, what it shows.
TEST_F(VoiceDialogue, GreetingWaitsForSveikasAndGreetsBack) {
    // ms -1: not looked at; shown: row 58 ("": not looked at)
    const struct { const char *script, *before; std::string keys; long long ms; const char* shown; } cases[] = {
        {"wait RESUME\nKAS\nSVEIKAS\n", "", "", 2000 + 500 + 500, " Atpazintas  zodis : SVEIKAS"},
        {"wait RESUME\nstatus\nSVEIKAS\n", "+", "", 500 + 2000 + 500 + 500, ""},  // "+" became "-" once, not again
        {"wait RESUME\nstatus\n", "", kEsc, -1, ""},  // left with Esc after any sound
    };
    for (const auto& c : cases) {
        startRecogniser(c.script), std::strcpy(recognisedWord(), c.before), platform::scriptKeys(c.keys);
        EXPECT_TRUE(Pradzia() == 1 && recordedCommands() == Lines{"eSpeak.exe -v lv+m4  la'ba'sz"}) << c.script;
        EXPECT_EQ(c.ms < 0 ? -1 : elapsedMs(), c.ms) << c.script;
        EXPECT_EQ(*c.shown ? text(58) : "", c.shown);
        EXPECT_EQ(text(52) + "/" + text(56), " Pasisveikink su robotu:/ Iseiti spausti 'esc' ir + bet koks garsas");
        EXPECT_EQ(attrAt(2, 52) * 1000 + attrAt(2, 56), 96 * 1000 + 72);
        EXPECT_STREQ(recognisedWord(), "+");
        const Lines heard = endRecogniser();  // the recogniser is paused again after each utterance
        EXPECT_TRUE(*c.before || heard == kOneUtterance) << c.script;
    }
}

// The word after CIA -> the mode chosen and the answer; m typed after the input
// status is acted on after the next message (CIA): KAS is never taken.
TEST_F(VoiceDialogue, SpokenWordChoosesTheRobotMode) {
    const char* const again = "eSpeak.exe -v lv+m4 naa...daarr...la'ba'sz";
    const struct { const char *word, *keys, *reply; int speechMs, mode; } cases[] = {
        {"KAS", "", "eSpeak.exe -v lv+m4  kaasz", 1000, 1}, {"SURASK", "", "eSpeak.exe -v de+m4  ijeaschkauu", 3000, 2},
        {"PIRMYN", "", "eSpeak.exe -v lv+m4  eyjnuu", 1400, 3}, {"SVEIKAS", "", again, 3000, 0}, {"KAS", "xm", again, -1, 0}};
    for (const auto& c : cases) {
        startRecogniser(std::string("wait RESUME\nCIA\n") + c.word + "\n"), platform::scriptKeys(c.keys);
        EXPECT_TRUE(DialogasRobRezimas() == c.mode && recordedCommands() == (Lines{kWhatToDo, c.reply})) << c.word;
        if (c.speechMs < 0) {
            EXPECT_TRUE(text(58) == " Atpazintas  zodis : CIA" && keyPressed == kKeyLeaveMode);
            continue;
        }
        EXPECT_EQ(elapsedMs(), 1000 + 2000 + c.speechMs + 500 + 500) << c.word;
        // The multiplexer's client line follows on the same row, as on the robot's console.
        EXPECT_EQ(row(57).rfind("            arba  pasakyti dar karta zodi  'SVEIKAS''JULIUS'", 0), 0u);
        EXPECT_EQ(endRecogniser(), kOneUtterance);
    }
}

// Script and keys -> what the demonstration answers and the word it shows last.
TEST_F(VoiceDialogue, DemoAnswersEveryKnownWordEachTimeItComesUnlessAnswersAreOff) {
    const std::string kas = "eSpeak.exe -v lv+m4  kaasz", stop = "eSpeak.exe -v lv+m4 sztooopp", labas = "eSpeak.exe -v lv+m4  la'ba'sz";
    // shown: row 46
    const struct { const char* script; std::string keys; Lines spoken; const char* shown; } cases[] = {
        // Messages: status; then 3 for each answered word (status, result, status after
        // the answer), 2 for CIA; Esc comes with the first lone status. CIA is not CHIA: no answer.
        {"wait RESUME\nKAS\nwait RESUME\nKAS\nwait RESUME\nSTOK\nwait RESUME\nSTOP\nwait RESUME\nSVEIKAS\nwait RESUME\nCIA\nstatus\nstatus\n",
         std::string(1 + 5 * 3 + 2, 'x') + kEsc, {kas, kas, stop, stop, labas}, " Atpazintas  zodis : CIA"},
        {"wait RESUME\nKAS\nstatus\n", "dx" + kEsc, {}, " Atpazintas  zodis : KAS"},  // d: answers off
        // d after the first status (off), d after KAS (on again). The next message,
        // an input status, still holds KAS: answered now, then GERO.
        {"wait RESUME\nKAS\nGERO\nwait RESUME\nstatus\nstatus\n", "dxdxxx" + kEsc, {kas, "eSpeak.exe -v lv+m4  gearo"}, ""},
    };
    for (const auto& c : cases) {
        startRecogniser(c.script), platform::scriptKeys(c.keys);
        KalboaAtpazinimas_demo();
        EXPECT_EQ(recordedCommands(), c.spoken) << c.script;
        EXPECT_EQ(*c.shown ? text(46) : "", c.shown);
        if (&c != cases) continue;
        EXPECT_EQ(elapsedMs(), (1000 + 500) * 2 + (1500 + 500) * 2 + 2000 + 500 + 500 + 500);
        EXPECT_EQ(text(1) + "/" + text(2) + "/" + text(31) + "/" + std::to_string(attrAt(2, 31)) + text(40),
                  " NAUDOJAMI ZODZIAI :/ APLINK/ ZHEMYN/100     Iseiti is 'DEMO' spausti 'esc' ir + bet koks garsas");
        const Lines heard = endRecogniser();
        EXPECT_EQ(heard.front() + heard[heard.size() - 2], "PAUSEPAUSE");  // the demonstration leaves recognition paused
    }
}

}  // namespace
