// Faults the robot must survive while a mode runs.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <thread>

#include "faces/camera/camera.h"
#include "faces/faces.h"
#include "hardware/rs232.h"
#include "hardware/servo.h"
#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/ui.h"
#include "shell/console/f_graph.h"
#include "speech/speech.h"
#include "stereo/stereo_modes.h"
#include "tests/faces/face_test_support.h"
#include "tests/support/robot_test.h"
#include "tests/support/ssc32_peer.h"
#include "tests/support/stereo_data.h"

namespace {

namespace fs = std::filesystem;

// The depth mode steering the head over the Aloe pair.
const char* const kDepthWindow = "stereoBM gylis";
constexpr int kWaitMs = 60000;  // real time, bounded, while the mode runs on the test's thread

cv::Mat aloe(const std::string& side) { return cv::imread(robotest::testData("stereo/aloe" + side + "_320x240.png")); }

class DepthModeFaults : public robotest::RobotTest {
protected:
    void SetUp() override {
        RobotTest::SetUp(), robotest::writeTestReprojectionMatrix();
        cport_nr = 1, bdrate = 115200, kamera1 = 1, kamera2 = 2, servo_x = kServoCentreX, servo_y = kServoCentreY;
    }
    void TearDown() override { CloseComport(cport_nr), releaseCameras(), RobotTest::TearDown(); }
    static long panCommands(const robotest::Ssc32Simulator& simulator) {
        const std::vector<std::string> lines = simulator.lines();
        return std::count_if(lines.begin(), lines.end(), [](const std::string& line) { return line.rfind("#7 P", 0) == 0; });
    }
    robotest::ScopedWorkDir dir;
};

// Three frames whose last is cut off in the middle, as a copy that stopped early leaves it.
TEST_F(DepthModeFaults, CutVideoFilePlaysAgainFromItsStartAndAPortClosedOnPurposeStaysClosed) {
    for (const auto& [path, side] : {std::pair{"video1", "R"}, {"video2", "L"}}) {
        const std::string file = path + std::string(".avi");  // the writer goes by the extension
        cv::VideoWriter writer(file, cv::CAP_OPENCV_MJPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10, cv::Size(320, 240));
        ASSERT_TRUE(writer.isOpened());
        for (int i = 0; i < 3; ++i) writer.write(aloe(side));
        writer.release(), fs::resize_file(file, fs::file_size(file) * 4 / 5), fs::rename(file, path);
    }
    platform::scriptKeys("           m");
    testing::internal::CaptureStderr();
    stereoBM();
    EXPECT_EQ(testing::internal::GetCapturedStderr().find("Nera prisijungimo"), std::string::npos) << "no frame was missing";
    EXPECT_EQ(row(42).substr(0, 13) + char(keyPressed & 0xFF), "   Min disp: m");
    EXPECT_TRUE(camera.isOpened() && camera1.isOpened()) << "both recordings still play";

    robotest::Ssc32Simulator simulator(dir.path());
    ASSERT_EQ(OpenComport(cport_nr, bdrate), 0);
    CloseComport(cport_nr), sendCommand(cport_nr, "#7 P1500 S400 |");
    EXPECT_TRUE(!ComportOpen(cport_nr) && simulator.waitForLines(1, 300).empty());
}

// The operator's hand while the mode runs: it pulls the controller out, plugs it
// back, then takes the pictures away (the folders stay: no video device is tried).
TEST_F(DepthModeFaults, ModeRunsOnWithoutControllerOrFramesAndStillEndsOnM) {
    facetest::writeCameraRecording(1, {aloe("R")}), facetest::writeCameraRecording(2, {aloe("L")});
    auto first = std::make_unique<robotest::Ssc32Simulator>(dir.path());
    ASSERT_TRUE(first->running() && OpenComport(cport_nr, bdrate) == 0);
    std::unique_ptr<robotest::Ssc32Simulator> second;  // ends with the thread that started it
    int shownWhenPulled = 0, shownWhenBack = 0, shownWithoutFrames = 0;
    bool sawCommandsFirst = false, sawCommandsAgain = false;
    std::thread hand([&] {
        sawCommandsFirst = robotest::waitUntil([&] { return panCommands(*first) >= 3; }, kWaitMs);
        first->kill();
        unlink("COM2");  // the device node goes with the device
        unlink("ssc32sim.log"), shownWhenPulled = ui::showCount(kDepthWindow);
        robotest::waitUntil([&] { return ui::showCount(kDepthWindow) >= shownWhenPulled + 5; }, kWaitMs);
        second = std::make_unique<robotest::Ssc32Simulator>(dir.path()), shownWhenBack = ui::showCount(kDepthWindow);
        sawCommandsAgain = second->running() && robotest::waitUntil([&] { return panCommands(*second) >= 3; }, kWaitMs) && ComportOpen(cport_nr);
        for (const char* folder : {"video1", "video2"})
            for (const auto& entry : fs::directory_iterator(folder)) fs::remove(entry.path());
        shownWithoutFrames = ui::showCount(kDepthWindow);
        // Each look for a frame that no longer comes pauses 2 s of the robot's clock.
        const long long gone = platform::nowMs();
        robotest::waitUntil([&] { return platform::nowMs() - gone >= 2 * 2000; }, kWaitMs);
        platform::scriptKeys("m");
    });
    stereoBM();
    hand.join();
    // The controller takes the mode's commands before it is pulled and after it is plugged back.
    EXPECT_TRUE(sawCommandsFirst && sawCommandsAgain);
    EXPECT_GT(shownWhenBack, shownWhenPulled + 4) << "frames went on without the controller";
    // The picture folder's open capture may still hold a frame or two; then nothing.
    EXPECT_LE(ui::showCount(kDepthWindow), shownWithoutFrames + 2);
    EXPECT_EQ(keyPressed & 0xFF, 'm');
}

// Enrolment in a child process whose files may not grow past a limit.
using EnrolmentDiskFull = robotest::RobotTest;

TEST_F(EnrolmentDiskFull, DatabaseAndListStayWholeWhateverTheLimit) {
    robotest::ScopedWorkDir dir;
    // The robot knows persons 3 and 4; person 6 sits before the right camera.
    facetest::copyFaceCascade();
    facetest::writeText("train.txt", facetest::trainingList({3, 4}, 1, 5));
    ASSERT_EQ(learn("train.txt"), 1);
    std::vector<cv::Mat> shots;
    for (int i = 1; i <= 10; ++i) shots.push_back(facetest::faceOnBackground(facetest::orlPicture(6, i)));
    facetest::writeCameraRecording(1, shots);
    const std::string oldList = robotest::readFile("train.txt"), oldDatabase = robotest::readFile("facedata.xml");
    kamera1 = 1;
    // 4 KB stops the pictures, 64 KB the database, 1 MB a database of the new size
    // part way; with no limit the enrolment goes through.
    for (long limit : {4L * 1024, 64L * 1024, 1024L * 1024, 0L}) {
        SCOPED_TRACE("file size limit " + std::to_string(limit));
        const std::string folder = dir.path() + "-" + std::to_string(limit);
        fs::copy(dir.path(), folder, fs::copy_options::recursive), fs::current_path(folder);
        const robotest::EndedProgram ended = robotest::runToProgramEnd([limit] {
            cv::Mat personNumbers;
            loadTrainingData(personNumbers);
            if (limit > 0) {
                signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
                const rlimit files{static_cast<rlim_t>(limit), RLIM_INFINITY};
                setrlimit(RLIMIT_FSIZE, &files);
            }
            // Two keys a frame: one at the keyboard check, one in the window's wait.
            platform::scriptKeys("1\rn12\rJonas\r4455\r12345678\r12345678\ry." + std::string(24, '.') + "t\x1b");
            ivedimasiscam();
        });
        ASSERT_NE(ended.status, -1) << "the enrolment ended by a signal";

        const std::string list = robotest::readFile("train.txt");
        const int lines = static_cast<int>(std::count(list.begin(), list.end(), '\n'));
        EXPECT_TRUE(list.rfind(oldList, 0) == 0 && list.back() == '\n') << "the old list is kept, no half line at its end";
        EXPECT_EQ(loadFaceImgArray("train.txt"), lines) << "every listed picture loads:\n" << list;
        cv::Mat personNumbers;
        ASSERT_EQ(loadTrainingData(personNumbers), 1) << "facedata.xml is whole";
        const bool old = robotest::readFile("facedata.xml") == oldDatabase;
        EXPECT_TRUE(old || (nTrainFaces == lines && nPersons == 3)) << "a new database is the one the list describes";
        EXPECT_TRUE(limit != 0 || (!old && list.size() > oldList.size())) << "without a limit the new person is learnt";
        EXPECT_TRUE(limit == 0 || !old || ended.screen.find("KLAIDA") != std::string::npos)
            << "a refused write is reported:\n" << ended.screen;
        fs::current_path(dir.path()), fs::remove_all(folder);
    }
}

// The recogniser dies in the middle of a message while the robot asks what to do.
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
    std::strcpy(recognisedWord(), "TYLA"), keyPressed = 0, prisijungimas = ends[0];
    EXPECT_EQ(DialogasRobRezimas(), 2) << "SURASK, said before the recogniser died, chooses object search";
    EXPECT_EQ(std::string(recognisedWord()).find("PIRM"), std::string::npos) << recognisedWord();

    // Asked again: nothing more will come; the operator's m leads to the menus.
    // Each of the five passes over the closed connection waits instead of spinning.
    keyPressed = 0, platform::scriptKeys("xxxm");
    const long long asked = platform::nowMs();
    EXPECT_EQ(DialogasRobRezimas(), 0);
    EXPECT_EQ(platform::nowMs() - asked, 1000 + 2000 + 5 * 150 + 3000 + 500 + 500);
    EXPECT_NE(screen().find("Error: do_send"), std::string::npos) << "sends to the dead recogniser are reported";
    const char* word = zodzio_reiksme();  // a word asked for later is simply the last one
    EXPECT_TRUE(word && std::strlen(word) < static_cast<std::size_t>(kRecogniserLineSize));
    close(ends[0]);
}

}  // namespace
