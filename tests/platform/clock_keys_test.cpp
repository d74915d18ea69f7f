#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/ui.h"

namespace {

TEST(RobotClock, VirtualSleepAdvancesAtOnceAndRandomNumbersRepeatWithTheSeed) {
    platform::useVirtualTime(true);
    const long long start = platform::nowMs();
    platform::sleepMs(15000);
    platform::advanceMs(5);
    EXPECT_EQ(platform::nowMs() - start, 15005);
    platform::useVirtualTime(false);
    const long long real = platform::nowMs();
    platform::sleepMs(2);
    EXPECT_GE(platform::nowMs() - real, 2);
    platform::seedRand15(7);
    int first[20];
    for (int& value : first) EXPECT_LE(static_cast<unsigned>(value = platform::rand15()), 32767u);
    platform::seedRand15(7);
    for (int value : first) EXPECT_EQ(platform::rand15(), value);
}

TEST(ScriptedKeys, KeysLinesAndTheEndOfInput) {
    platform::useTerminalKeys();
    platform::scriptKeys("ab12 3\nx");
    EXPECT_EQ(platform::_kbhit(), 1);
    std::string keys{static_cast<char>(platform::_getch()), static_cast<char>(platform::_getche())}, first, last;
    EXPECT_TRUE(platform::readLine(first) && platform::readLine(last));  // a last line without Enter still counts
    EXPECT_EQ(keys + "/" + first + "/" + last, "ab/12 3/x");
    EXPECT_FALSE(platform::readLine(last));
    EXPECT_EQ(platform::_getch(), platform::kEndOfInput);
}

TEST(HeadlessWindows, KeepTheLastPictureAndWaitOnTheRobotsClock) {
    platform::useVirtualTime(true);
    ui::setHeadless(true);
    platform::useTerminalKeys();
    ui::namedWindow("Desine");
    cv::Mat picture(24, 32, CV_8UC3, cv::Scalar(1, 2, 3));
    ui::show("Desine", picture);
    picture.setTo(cv::Scalar(9, 9, 9));
    EXPECT_EQ(ui::lastShown("Desine").at<cv::Vec3b>(0, 0), cv::Vec3b(1, 2, 3));
    EXPECT_EQ(ui::showCount("Desine"), 1);
    platform::scriptKeys("m");
    const long long start = platform::nowMs();
    EXPECT_EQ(ui::waitKey(30), 'm');
    EXPECT_EQ(platform::nowMs() - start, 30);
    EXPECT_EQ(ui::waitKey(10), -1);
    int value = 3, changed = -1;
    ui::createTrackbar("SADWindowSize", "Desine", &value, 50, [](int pos, void* data) { *static_cast<int*>(data) = pos; },
                       &changed);
    ui::setTrackbarPos("SADWindowSize", "Desine", 60);
    EXPECT_EQ(value * 100 + changed, 5050);
    ui::destroyAllWindows();
    EXPECT_FALSE(ui::windowExists("Desine"));
    platform::useTerminalKeys();
    platform::useVirtualTime(false);
}

}  // namespace
