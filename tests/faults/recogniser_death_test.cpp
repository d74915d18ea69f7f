// The recogniser dies in the middle of a message while the robot asks what to
// do: the whole message it sent before is acted on, the half message is not
// taken for a word, sends to the dead recogniser are reported, and the
// operator's m still leads back to the menus, the wait pausing between looks.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/keys.h"
#include "shell/console/f_graph.h"
#include "speech/speech.h"
#include "tests/support/robot_test.h"

namespace {

const char* const kWholeMessage =
    "<RECOGOUT>\n  <SHYPO RANK=\"1\" SCORE=\"-1200.5\">\n"
    "    <WHYPO WORD=\"SURASK\" CLASSID=\"2\" PHONE=\"s u r a s k\" CM=\"0.950\"/>\n"
    "  </SHYPO>\n</RECOGOUT>\n.\n";
const char* const kHalfMessage = "<RECOGOUT>\n  <SHYPO RANK=\"1\" SCORE=\"-900.0\">\n    <WHYPO WORD=\"PIRM";

class RecogniserDies : public robotest::RobotTest {
protected:
    void SetUp() override {
        RobotTest::SetUp();
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends_), 0);
        savedConnection_ = prisijungimas;
        keyPressed = 0;
    }
    void TearDown() override {
        prisijungimas = savedConnection_;
        close(ends_[0]);
        if (peer_ > 0) waitpid(peer_, nullptr, 0);
        RobotTest::TearDown();
    }
    // The recogniser: a process that says what it has to say and dies at once.
    void recogniserSaysAndDies(const std::string& bytes) {
        peer_ = fork();
        ASSERT_GE(peer_, 0);
        if (peer_ == 0) {
            close(ends_[0]);
            if (write(ends_[1], bytes.data(), bytes.size()) < 0) _exit(2);
            raise(SIGKILL);
        }
        close(ends_[1]);
        int status = 0;
        ASSERT_EQ(waitpid(peer_, &status, 0), peer_);
        peer_ = -1;
        ASSERT_TRUE(WIFSIGNALED(status));
        prisijungimas = ends_[0];
    }

    int ends_[2] = {-1, -1};
    pid_t peer_ = -1;
    int savedConnection_ = 1;
};

TEST_F(RecogniserDies, WholeMessageIsActedOnAndTheHalfOneIsNotAWord) {
    std::strcpy(recognisedWord(), "TYLA");
    recogniserSaysAndDies(std::string(kWholeMessage) + kHalfMessage);

    EXPECT_EQ(DialogasRobRezimas(), 2) << "SURASK, said before the recogniser died, chooses object search";
    EXPECT_EQ(std::string(recognisedWord()).find("PIRM"), std::string::npos)
        << "half a word line is never a word: " << recognisedWord();

    // Asked again: nothing more will come; the operator's m leads to the menus.
    // Each of the five passes over the closed connection waits instead of spinning.
    keyPressed = 0;
    platform::scriptKeys("xxxm");
    const long long asked = platform::nowMs();
    EXPECT_EQ(DialogasRobRezimas(), 0);
    EXPECT_EQ(platform::nowMs() - asked, 1000 + 2000 + 5 * 150 + 3000 + 500 + 500);
    EXPECT_NE(screen().find("Error: do_send"), std::string::npos) << "sends to the dead recogniser are reported";

    // The robot goes on: a word asked for later is simply the last one.
    char* word = zodzio_reiksme();
    ASSERT_NE(word, nullptr);
    EXPECT_LT(std::strlen(word), static_cast<std::size_t>(kRecogniserLineSize));
}

TEST_F(RecogniserDies, DeathInsideTheFirstLineLeavesTheWordBufferAsItWas) {
    std::strcpy(recognisedWord(), "TYLA");
    recogniserSaysAndDies("    <WHYPO WORD=\"KA");
    EXPECT_STREQ(do_output(prisijungimas), "TYLA");
    EXPECT_STREQ(do_output(prisijungimas), "TYLA") << "reading on after the death changes nothing";
}

}  // namespace
