// robotas-hear listening on port 10500, heard through the robot's own
// recogniser client: spoken words (made by espeak-ng) become word lines, words
// heard while paused are dropped, words outside the grammar are rejected, and
// bad sound files and unruly clients do not break it.

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/socket.h"
#include "speech/client1.h"
#include "tests/hear/listening_hear.h"

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
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() / ("robotas-hear-test-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    hear::Samples word(const std::string& voice, const std::string& text) {
        hear::Samples samples = heartest::spoken(voice, text);
        EXPECT_FALSE(samples.empty()) << "espeak-ng did not speak " << text;
        return samples;
    }

    std::string writeFile(const std::string& name, const std::string& bytes) {
        const std::string path = (folder_ / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    std::filesystem::path folder_;
};

hear::Samples joined(std::initializer_list<hear::Samples> parts) {
    hear::Samples all;
    for (const hear::Samples& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST_F(HearServer, AWavOfASpokenWordReachesTheRobotAsItsWordLine) {
    // espeak-ng speaks at 22050 Hz: the file is converted on the way in.
    const hear::Samples sveikas = word("lt+m3", "sveikas");
    const std::string wav = writeFile("sveikas.wav", heartest::wavBytes(joined({heartest::silence(0.5), sveikas}), 16000, 1));
    ListeningHear recogniser({"--wav", wav, "--speed", "8"});
    ASSERT_TRUE(recogniser.listening()) << recogniser.output();
    RobotEar robot;
    ASSERT_TRUE(robot.connected());
    EXPECT_EQ(robot.nextWord(kWordTimeoutMs), "SVEIKAS");
    komanda_die(robot.socket());
    EXPECT_EQ(recogniser.waitForExit(3000), 0);
}

TEST_F(HearServer, WordsSpokenWhilePausedAreDroppedNotQueued) {
    ListeningHear recogniser({"--pcm"});
    ASSERT_TRUE(recogniser.listening()) << recogniser.output();
    RobotEar robot;
    ASSERT_TRUE(robot.connected());
    komanda_pause_recog(robot.socket());
    komanda_get_status(robot.socket());
    ASSERT_TRUE(robot.waitForLine("<SYSINFO PROCESS=\"SLEEP\"", kWordTimeoutMs));

    ASSERT_TRUE(recogniser.play(joined({heartest::silence(0.5), word("lt", "sveikas"), heartest::silence(kFlushSeconds)})));
    komanda_resume_recog(robot.socket());
    ASSERT_TRUE(robot.waitForLine("<INPUT STATUS=\"LISTEN\"", kWordTimeoutMs));
    ASSERT_TRUE(recogniser.play(joined({heartest::silence(1.0), word("lt", "surask"), heartest::silence(1.0)})));
    recogniser.endSound();
    EXPECT_EQ(robot.nextWord(kWordTimeoutMs), "SURASK");
}

TEST_F(HearServer, AWordOutsideTheGrammarIsRejectedNotForcedOntoACommand) {
    ListeningHear recogniser({"--pcm"});
    ASSERT_TRUE(recogniser.listening()) << recogniser.output();
    RobotEar robot;
    ASSERT_TRUE(robot.connected());
    ASSERT_TRUE(recogniser.play(joined({heartest::silence(0.5), word("lt", "kompiuteris"), heartest::silence(1.0)})));
    recogniser.endSound();
    std::vector<std::string> lines;
    ASSERT_TRUE(robot.waitForLine("<RECOG", kWordTimeoutMs, &lines));
    EXPECT_EQ(lines.back(), "<RECOGFAIL/>");
}

TEST_F(HearServer, ClientsComingAndGoingAndCommandsInPiecesDoNotStickTheServer) {
    ListeningHear recogniser({"--pcm"});
    ASSERT_TRUE(recogniser.listening()) << recogniser.output();
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
