// robotas-hear listening on port 10500, heard through the robot's own
// recogniser client, with words spoken by espeak-ng.

#include <fstream>

#include <gtest/gtest.h>

#include "speech/client1.h"
#include "tests/hear/listening_hear.h"
#include "tests/support/robot_test.h"

namespace {

using heartest::ListeningHear;
using heartest::RobotEar;
using heartest::silence;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers' builds of robotas-hear compare a long word with the word
// templates many times slower: seven seconds for one unknown word.
constexpr int kWordTimeoutMs = 30000;
#else
constexpr int kWordTimeoutMs = 8000;
#endif

// Silence, a word spoken in this voice, silence.
hear::Samples said(double before, const std::string& voice, const std::string& text, double after) {
    hear::Samples all = silence(before), word = heartest::spoken(voice, text), rest = silence(after);
    EXPECT_FALSE(word.empty()) << "espeak-ng did not speak " << text;
    all.insert(all.end(), word.begin(), word.end());
    all.insert(all.end(), rest.begin(), rest.end());
    return all;
}

TEST(HearServer, AWavOfASpokenWordReachesTheRobotAsItsWordLine) {
    robotest::ScopedWorkDir dir;
    std::ofstream("sveikas.wav", std::ios::binary) << heartest::wavBytes(said(0.5, "lt+m3", "sveikas", 0), 16000, 1);
    ListeningHear recogniser({"--wav", "sveikas.wav", "--speed", "8"});
    ASSERT_TRUE(recogniser.listening()) << recogniser.output();
    RobotEar robot;
    ASSERT_TRUE(robot.connected());
    EXPECT_EQ(robot.nextWord(kWordTimeoutMs), "SVEIKAS");
    komanda_die(robot.socket());
    EXPECT_EQ(recogniser.waitForExit(3000), 0);
}

// One recogniser through a whole session: words heard while paused are dropped,
// a word outside the grammar is rejected, and clients that come and go or send
// their commands in pieces do not stick it.
TEST(HearServer, PausedWordsAreDroppedUnknownWordsRejectedAndUnrulyClientsDoNotStickIt) {
    robotest::ScopedWorkDir dir;
    ListeningHear recogniser({"--pcm"});
    ASSERT_TRUE(recogniser.listening()) << recogniser.output();
    {
        RobotEar robot;
        ASSERT_TRUE(robot.connected());
        komanda_pause_recog(robot.socket());
        komanda_get_status(robot.socket());
        ASSERT_TRUE(robot.waitForLine("<SYSINFO PROCESS=\"SLEEP\"", kWordTimeoutMs));
        // More silence after it than a pipe holds: once written, the word has been judged.
        ASSERT_TRUE(recogniser.play(said(0.5, "lt", "sveikas", 4.5)));
        komanda_resume_recog(robot.socket());
        ASSERT_TRUE(robot.waitForLine("<INPUT STATUS=\"LISTEN\"", kWordTimeoutMs));
        ASSERT_TRUE(recogniser.play(said(1.0, "lt", "surask", 1.0)));
        EXPECT_EQ(robot.nextWord(kWordTimeoutMs), "SURASK");
        ASSERT_TRUE(recogniser.play(said(0.5, "lt", "kompiuteris", 1.0)));
        std::vector<std::string> lines;
        ASSERT_TRUE(robot.waitForLine("<RECOG", kWordTimeoutMs, &lines));
        EXPECT_EQ(lines.back(), "<RECOGFAIL/>");
    }
    for (int i = 0; i < 20; ++i) {
        RobotEar passer;
        ASSERT_TRUE(passer.connected()) << "connection " << i;
        if (i % 2) do_send(passer.socket(), "PAU");  // gone in the middle of a command
    }
    RobotEar robot;
    ASSERT_TRUE(robot.connected());
    for (const char* piece : {"STA", "TUS\r", "\nVERSION\r\n"}) do_send(robot.socket(), piece);
    // A new client finds recognition running, whatever the last one left.
    EXPECT_TRUE(robot.waitForLine("<SYSINFO PROCESS=\"ACTIVE\"", kWordTimeoutMs));
    EXPECT_TRUE(robot.waitForLine("<ENGINEINFO TYPE=\"robotas-hear\"", kWordTimeoutMs));
    do_send(robot.socket(), "DEACTIVATEGRAM\n5\n");
    EXPECT_TRUE(robot.waitForLine("<GRAMMAR STATUS=\"ERROR\"", kWordTimeoutMs));
    komanda_die(robot.socket());
    EXPECT_EQ(recogniser.waitForExit(3000), 0);
}

}  // namespace
