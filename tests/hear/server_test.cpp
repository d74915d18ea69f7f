// robotas-hear listening on port 10500, heard through the robot's own
// recogniser client, with words spoken by espeak-ng.

#include <fstream>

#include <gtest/gtest.h>

#include "platform/socket.h"
#include "speech/client1.h"
#include "tests/hear/listening_hear.h"
#include "tests/support/robot_test.h"

namespace {

using heartest::ListeningHear;
using heartest::RobotEar;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers' builds of robotas-hear compare a long word with the word
// templates many times slower: seven seconds for one unknown word.
constexpr int kWordTimeoutMs = 30000;
#else
constexpr int kWordTimeoutMs = 8000;
#endif

// More silence than a pipe holds: once it is written, the recogniser has
// taken (and judged) all the sound before it.
constexpr double kFlushSeconds = 4.5;

class HearServer : public ::testing::Test {
protected:
    hear::Samples word(const std::string& voice, const std::string& text) {
        hear::Samples samples = heartest::spoken(voice, text);
        EXPECT_FALSE(samples.empty()) << "espeak-ng did not speak " << text;
        return samples;
    }
    robotest::ScopedWorkDir dir_;
};

hear::Samples joined(std::initializer_list<hear::Samples> parts) {
    hear::Samples all;
    for (const hear::Samples& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST_F(HearServer, AWavOfASpokenWordReachesTheRobotAsItsWordLine) {
    // espeak-ng speaks at 22050 Hz: the file is converted on the way in.
    const hear::Samples sveikas = word("lt+m3", "sveikas");
    std::ofstream("sveikas.wav", std::ios::binary) << heartest::wavBytes(joined({heartest::silence(0.5), sveikas}), 16000, 1);
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
TEST_F(HearServer, PausedWordsAreDroppedUnknownWordsRejectedAndUnrulyClientsDoNotStickIt) {
    ListeningHear recogniser({"--pcm"});
    ASSERT_TRUE(recogniser.listening()) << recogniser.output();
    {
        RobotEar robot;
        ASSERT_TRUE(robot.connected());
        komanda_pause_recog(robot.socket());
        komanda_get_status(robot.socket());
        ASSERT_TRUE(robot.waitForLine("<SYSINFO PROCESS=\"SLEEP\"", kWordTimeoutMs));
        ASSERT_TRUE(recogniser.play(joined({heartest::silence(0.5), word("lt", "sveikas"), heartest::silence(kFlushSeconds)})));
        komanda_resume_recog(robot.socket());
        ASSERT_TRUE(robot.waitForLine("<INPUT STATUS=\"LISTEN\"", kWordTimeoutMs));
        ASSERT_TRUE(recogniser.play(joined({heartest::silence(1.0), word("lt", "surask"), heartest::silence(1.0)})));
        EXPECT_EQ(robot.nextWord(kWordTimeoutMs), "SURASK");
        ASSERT_TRUE(recogniser.play(joined({heartest::silence(0.5), word("lt", "kompiuteris"), heartest::silence(1.0)})));
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
    do_send(robot.socket(), "STA");
    do_send(robot.socket(), "TUS\r");
    do_send(robot.socket(), "\nVERSION\r\n");
    // A new client finds recognition running, whatever the last one left.
    EXPECT_TRUE(robot.waitForLine("<SYSINFO PROCESS=\"ACTIVE\"", kWordTimeoutMs));
    EXPECT_TRUE(robot.waitForLine("<ENGINEINFO TYPE=\"robotas-hear\"", kWordTimeoutMs));
    do_send(robot.socket(), "DEACTIVATEGRAM\n5\n");
    EXPECT_TRUE(robot.waitForLine("<GRAMMAR STATUS=\"ERROR\"", kWordTimeoutMs));
    komanda_die(robot.socket());
    EXPECT_EQ(recogniser.waitForExit(3000), 0);
}

}  // namespace
