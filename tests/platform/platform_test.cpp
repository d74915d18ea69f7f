// The robot's platform: keys, windows, programs and data files.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "platform/clock.h"
#include "platform/datafiles.h"
#include "platform/keys.h"
#include "platform/runner.h"
#include "platform/ui.h"
#include "tests/support/robot_test.h"

namespace {

using Lines = std::vector<std::string>;

using ScriptedKeys = robotest::RobotTest;
using HeadlessWindows = robotest::RobotTest;  // virtual time, headless windows

TEST_F(ScriptedKeys, ALastLineWithoutEnterStillCountsThenInputEnds) {
    platform::scriptKeys("12 3\nx");
    std::string first, last;
    EXPECT_TRUE(platform::readLine(first) && platform::readLine(last) && first + "/" + last == "12 3/x");
    EXPECT_TRUE(!platform::readLine(last) && platform::_getch() == platform::kEndOfInput);
}

TEST_F(HeadlessWindows, KeepTheLastPictureAndWaitOnTheRobotsClock) {
    ui::namedWindow("Desine");
    cv::Mat picture(24, 32, CV_8UC3, cv::Scalar(1, 2, 3));
    ui::show("Desine", picture), picture.setTo(cv::Scalar(9, 9, 9));
    EXPECT_EQ(ui::lastShown("Desine").at<cv::Vec3b>(0, 0), cv::Vec3b(1, 2, 3));
    platform::scriptKeys("m");
    const long long start = platform::nowMs();
    EXPECT_TRUE(ui::waitKey(30) == 'm' && platform::nowMs() - start == 30 && ui::waitKey(10) == -1);
    int value = 3, changed = -1;
    ui::createTrackbar("SADWindowSize", "Desine", &value, 50, [](int pos, void* to) { *static_cast<int*>(to) = pos; }, &changed);
    ui::setTrackbarPos("SADWindowSize", "Desine", 60);
    EXPECT_EQ(value * 100 + changed, 5050);
}

TEST(ProgramRunner, SpeechLineBecomesSynthesiserWithTextAsOneArgumentAndAMissingProgramFailsQuietly) {
    const struct { const char* line; Lines argv; } cases[] = {
        {"eSpeak.exe -v lv+m4  la'ba'sz", {"espeak-ng", "-v", "lv+m4", "--", "la'ba'sz"}},
        {"eSpeak.exe -v lv+m4 viyszo....gearroo", {"espeak-ng", "-v", "lv+m4", "--", "viyszo....gearroo"}},
        // A name typed by a person, with shell characters and a leading dash, stays plain text.
        {"eSpeak.exe -v lv+m4 -rf $(reboot); \"Ona\" `x` & | > y",
         {"espeak-ng", "-v", "lv+m4", "--", "-rf $(reboot); \"Ona\" `x` & | > y"}},
        {"julius -C  robot.jconf", {"julius", "-C", "robot.jconf"}},
    };
    for (const auto& c : cases) EXPECT_EQ(platform::commandLineToArgv(c.line), c.argv) << c.line;
    platform::recordCommands(false);  // a missing program fails quietly
    EXPECT_FALSE(platform::startProgram({"robotas-no-such-program"}) || platform::startProgram({}));
    EXPECT_EQ(platform::WinExec("no-such-synthesiser.exe hello", 1), 2);
}

// The working directory first, then the first installed folder that has the file;
// absolute and climbing names are not looked up elsewhere.
TEST(DataFiles, WorkingDirectoryFirstThenTheFirstFolderThatHasIt) {
    robotest::ScopedWorkDir work;
    const std::string share = work.path() + "/prefix/share/robotas", other = work.path() + "/other";
    for (const std::string& folder : {work.path() + "/prefix", work.path() + "/prefix/share", share, other, work.path() + "/run"})
        mkdir(folder.c_str(), 0755);
    ASSERT_EQ(chdir("run"), 0);
    for (const std::string& file : {share + "/cascade.xml", other + "/cascade.xml", other + "/profile.xml", std::string("local.xml"),
                                    share + "/local.xml", share + "/locked.xml", std::string("locked.xml"), share + "/..cascade.xml",
                                    work.path() + "/prefix/secret.xml", share + "/folder.xml"})
        std::ofstream(file) << "<opencv_storage/>\n";
    mkdir("folder.xml", 0755), chmod("locked.xml", 0);
    const struct { std::string name; Lines folders; std::string found; } cases[] = {
        {"local.xml", {share}, "local.xml"},
        {"cascade.xml", {other + "/missing", share, other}, share + "/cascade.xml"},
        {"profile.xml", {share, other}, other + "/profile.xml"},
        {"nowhere.xml", {share, other}, "nowhere.xml"},  // the name stays for the caller's message
        {"", {share}, ""},
        {"folder.xml", {share}, share + "/folder.xml"},  // a folder here does not hide the installed copy
        {"locked.xml", {share}, geteuid() == 0 ? "locked.xml" : share + "/locked.xml"},  // nor an unreadable file (root reads it)
        {"/etc/cascade.xml", {share}, "/etc/cascade.xml"},
        {"../secret.xml", {share}, "../secret.xml"},
        {"sub/../../secret.xml", {share}, "sub/../../secret.xml"},
        {"..cascade.xml", {share}, share + "/..cascade.xml"},  // only starts with dots: an ordinary name
    };
    for (const auto& c : cases) EXPECT_EQ(platform::findDataFile(c.name, c.folders), c.found) << c.name;
}

}  // namespace
