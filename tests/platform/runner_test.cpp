#include "platform/runner.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/robot_test.h"

namespace {

using Argv = std::vector<std::string>;

TEST(ProgramRunner, SpeechLineBecomesSynthesiserWithTextAsOneArgument) {
    const struct {
        const char* line;
        Argv argv;
    } cases[] = {
        {"eSpeak.exe -v lv+m4  la'ba'sz", {"espeak-ng", "-v", "lv+m4", "--", "la'ba'sz"}},
        {"eSpeak.exe -v lv+m4 viyszo....gearroo", {"espeak-ng", "-v", "lv+m4", "--", "viyszo....gearroo"}},
        // A name typed by a person, with shell characters and a leading dash, stays plain text.
        {"eSpeak.exe -v lv+m4 -rf $(reboot); \"Ona\" `x` & | > y",
         {"espeak-ng", "-v", "lv+m4", "--", "-rf $(reboot); \"Ona\" `x` & | > y"}},
        {"julius -C  robot.jconf", {"julius", "-C", "robot.jconf"}},
    };
    for (const auto& c : cases) EXPECT_EQ(platform::commandLineToArgv(c.line), c.argv) << c.line;
}

TEST(ProgramRunner, RecordingModeKeepsTheLinesAndAMissingProgramFailsQuietly) {
    platform::recordCommands(true);
    platform::clearRecordedCommands();
    platform::WinExec("eSpeak.exe -v de+m4  ijeaschkauu", 0);
    EXPECT_EQ(platform::recordedCommands(), (Argv{"eSpeak.exe -v de+m4  ijeaschkauu"}));
    platform::recordCommands(false);
    EXPECT_FALSE(platform::startProgram({"robotas-no-such-program"}) || platform::startProgram({}));
    EXPECT_EQ(platform::WinExec("no-such-synthesiser.exe hello", 1), 2);
}

// No shell: the arguments arrive unchanged, and the real synthesiser speaks a text
// that starts with a dash. The programs run on their own: their files come in a bounded time.
TEST(ProgramRunner, StartsWithoutShellPassingArgumentsUnchanged) {
    robotest::ScopedWorkDir dir;
    const std::string name = dir.path() + "/a b;$(echo x)'\"&|", wav = dir.path() + "/phrase.wav";
    ASSERT_TRUE(platform::startProgram({"touch", name}));
    ASSERT_TRUE(platform::startProgram({"espeak-ng", "-w", wav, "-v", "lv+m4", "--", "-la'ba'sz"}));
    struct stat info {};
    EXPECT_TRUE(robotest::waitUntil([&] { return stat(name.c_str(), &info) == 0; }, 2000));
    EXPECT_TRUE(robotest::waitUntil([&] { return stat(wav.c_str(), &info) == 0 && info.st_size > 0; }, 5000));
}

}  // namespace
