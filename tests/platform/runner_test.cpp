#include "platform/runner.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/robot_test.h"

namespace {

using Argv = std::vector<std::string>;

// The started program runs on its own; wait a bounded time for its file.
bool waitForFile(const std::string& path, int timeoutMs, off_t minimumSize = 1) {
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        struct stat info {};
        if (stat(path.c_str(), &info) == 0 && info.st_size >= minimumSize) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(ProgramRunner, SpeechLineBecomesSynthesiserWithTextAsOneArgument) {
    EXPECT_EQ(platform::commandLineToArgv("eSpeak.exe -v lv+m4  la'ba'sz"),
              (Argv{"espeak-ng", "-v", "lv+m4", "--", "la'ba'sz"}));
    EXPECT_EQ(platform::commandLineToArgv("eSpeak.exe -v lv+m4 viyszo....gearroo"),
              (Argv{"espeak-ng", "-v", "lv+m4", "--", "viyszo....gearroo"}));
    // A name typed by a person, with shell characters and a leading dash, stays plain text.
    EXPECT_EQ(platform::commandLineToArgv("eSpeak.exe -v lv+m4 -rf $(reboot); \"Ona\" `x` & | > y"),
              (Argv{"espeak-ng", "-v", "lv+m4", "--", "-rf $(reboot); \"Ona\" `x` & | > y"}));
    EXPECT_EQ(platform::commandLineToArgv("julius -C  robot.jconf"), (Argv{"julius", "-C", "robot.jconf"}));
}

TEST(ProgramRunner, RecordingModeKeepsTheCommandLinesAndStartsNothing) {
    platform::recordCommands(true);
    platform::clearRecordedCommands();
    platform::WinExec("eSpeak.exe -v de+m4  ijeaschkauu", 0);
    EXPECT_EQ(platform::recordedCommands(), (Argv{"eSpeak.exe -v de+m4  ijeaschkauu"}));
    platform::recordCommands(false);
}

TEST(ProgramRunner, StartsWithoutShellPassingArgumentsUnchanged) {
    robotest::ScopedWorkDir dir;
    const std::string name = dir.path() + "/a b;$(echo x)'\"&|";
    ASSERT_TRUE(platform::startProgram({"touch", name}));
    EXPECT_TRUE(waitForFile(name, 2000, 0));
}

TEST(ProgramRunner, MissingProgramFailsQuietly) {
    EXPECT_FALSE(platform::startProgram({"robotas-no-such-program"}));
    EXPECT_FALSE(platform::startProgram({}));
    EXPECT_EQ(platform::WinExec("no-such-synthesiser.exe hello", 1), 2);
}

TEST(ProgramRunner, RealSynthesiserSpeaksATextThatStartsWithADash) {
    robotest::ScopedWorkDir dir;
    const std::string wav = dir.path() + "/phrase.wav";
    ASSERT_TRUE(platform::startProgram({"espeak-ng", "-w", wav, "-v", "lv+m4", "--", "-la'ba'sz"}));
    EXPECT_TRUE(waitForFile(wav, 5000));
}

}  // namespace
