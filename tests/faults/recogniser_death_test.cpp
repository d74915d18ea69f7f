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

#include "platform/clock.h"
#include "platform/keys.h"
#include "shell/console/f_graph.h"
#include "speech/speech.h"
#include "tests/support/robot_test.h"

namespace {

using RecogniserDies = robotest::RobotTest;

TEST_F(RecogniserDies, WholeMessageIsActedOnAndTheHalfOneIsNotAWord) {
    const std::string said = "<RECOGOUT>\n  <SHYPO RANK=\"1\" SCORE=\"-1200.5\">\n"
                             "    <WHYPO WORD=\"SURASK\" CLASSID=\"2\" PHONE=\"s u r a s k\" CM=\"0.950\"/>\n  </SHYPO>\n"
                             "</RECOGOUT>\n.\n<RECOGOUT>\n  <SHYPO RANK=\"1\" SCORE=\"-900.0\">\n    <WHYPO WORD=\"PIRM";
    const struct Restore { int saved = prisijungimas; ~Restore() { prisijungimas = saved; } } restore;
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
    const pid_t recogniser = fork();  // says what it has to say and dies at once
    if (recogniser == 0) {
        if (write(ends[1], said.data(), said.size()) < 0) _exit(2);
        raise(SIGKILL);
    }
    close(ends[1]);
    int status = 0;
    ASSERT_TRUE(waitpid(recogniser, &status, 0) == recogniser && WIFSIGNALED(status));
    std::strcpy(recognisedWord(), "TYLA");
    keyPressed = 0, prisijungimas = ends[0];
    EXPECT_EQ(DialogasRobRezimas(), 2) << "SURASK, said before the recogniser died, chooses object search";
    EXPECT_EQ(std::string(recognisedWord()).find("PIRM"), std::string::npos) << recognisedWord();

    // Asked again: nothing more will come; the operator's m leads to the menus.
    // Each of the five passes over the closed connection waits instead of spinning.
    keyPressed = 0;
    platform::scriptKeys("xxxm");
    const long long asked = platform::nowMs();
    EXPECT_EQ(DialogasRobRezimas(), 0);
    EXPECT_EQ(platform::nowMs() - asked, 1000 + 2000 + 5 * 150 + 3000 + 500 + 500);
    EXPECT_NE(screen().find("Error: do_send"), std::string::npos) << "sends to the dead recogniser are reported";
    const char* word = zodzio_reiksme();  // a word asked for later is simply the last one
    EXPECT_TRUE(word && std::strlen(word) < static_cast<std::size_t>(kRecogniserLineSize));
    close(ends[0]);
}

}  // namespace
