// A disk that refuses writes while a new person is enrolled: the enrolment
// runs in a child process whose files may not grow past a limit. Whatever the
// limit, facedata.xml and train.txt stay whole afterwards: the database loads,
// every line of the list is a picture that loads, and the database is either
// the old one or the one the list describes.

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "faces/camera/camera.h"
#include "faces/eigenfaces.h"
#include "faces/ivedimas.h"
#include "platform/keys.h"
#include "platform/terminal.h"
#include "tests/faces/face_test_support.h"
#include "tests/support/robot_test.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

const char* const kFolderVariable = "ROBOTAS_FAULT_FOLDER";
const char* const kLimitVariable = "ROBOTAS_FAULT_FILE_LIMIT";

// Keys the enrolment reads per frame: one at the keyboard check, one in the window's wait.
std::string frames(int count) { return std::string(2 * static_cast<std::size_t>(count), '.'); }

std::string enrolmentKeys() {
    return std::string("1\r") + "n" + "12\r" + "Jonas\r" + "4455\r" + "12345678\r" + "12345678\r" + "y" + "." +
           frames(12) + "t" + "\x1b";
}

int lineCount(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

// Runs the child half of the test (below) in a fresh process of this program.
int enrolInChild(const std::string& folder, long limit) {
    const std::string program = fs::read_symlink("/proc/self/exe").string();
    std::vector<std::string> args = {program, "--gtest_filter=EnrolmentChild.DISABLED_EnrolWithFileLimit",
                                     "--gtest_also_run_disabled_tests"};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    setenv(kFolderVariable, folder.c_str(), 1);
    setenv(kLimitVariable, std::to_string(limit).c_str(), 1);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
    unsetenv(kFolderVariable);
    unsetenv(kLimitVariable);
    if (spawned != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

class EnrolmentDiskFull : public robotest::RobotTest {
protected:
    void SetUp() override {
        RobotTest::SetUp();
        facetest::copyFaceCascade();
        // The robot knows persons 3 and 4; person 6 sits before the right camera.
        facetest::writeText("train.txt", facetest::trainingList({3, 4}, 1, 5));
        ASSERT_EQ(learn("train.txt"), 1);
        std::vector<cv::Mat> shots;
        for (int i = 1; i <= 10; ++i) shots.push_back(facetest::faceOnBackground(facetest::orlPicture(6, i)));
        facetest::writeCameraRecording(1, shots);
        oldList_ = facetest::readText("train.txt");
        oldDatabase_ = facetest::readText("facedata.xml");
    }

    // The folder as it is now, copied for one child run.
    std::string copyForRun(long limit) {
        const std::string copy = dir.path() + "/../" + fs::path(dir.path()).filename().string() + "-" +
                                 std::to_string(limit);
        fs::remove_all(copy);
        fs::copy(dir.path(), copy, fs::copy_options::recursive);
        copies_.push_back(copy);
        return copy;
    }
    void TearDown() override {
        for (const std::string& copy : copies_) fs::remove_all(copy);
        RobotTest::TearDown();
    }

    robotest::ScopedWorkDir dir;
    std::string oldList_, oldDatabase_;
    std::vector<std::string> copies_;
};

TEST_F(EnrolmentDiskFull, DatabaseAndListStayWholeWhateverTheLimit) {
    // 4 KB stops the pictures, 64 KB the database, 1 MB a database of the new size
    // part way; with no limit the enrolment goes through.
    for (long limit : {4L * 1024, 64L * 1024, 1024L * 1024, 0L}) {
        SCOPED_TRACE("file size limit " + std::to_string(limit));
        const std::string folder = copyForRun(limit);
        const int status = enrolInChild(folder, limit);
        ASSERT_TRUE(WIFEXITED(status)) << "the enrolment ended by signal " << WTERMSIG(status);
        fs::current_path(folder);

        const std::string list = facetest::readText("train.txt");
        const int lines = lineCount(list);
        EXPECT_EQ(list.empty() ? '\n' : list.back(), '\n') << "no half line at the list's end";
        EXPECT_EQ(list.compare(0, oldList_.size(), oldList_), 0) << "the old list is kept";
        EXPECT_EQ(loadFaceImgArray("train.txt"), lines) << "every listed picture loads:\n" << list;

        cv::Mat personNumbers;
        ASSERT_EQ(loadTrainingData(personNumbers), 1) << "facedata.xml is whole";
        const bool oldDatabase = facetest::readText("facedata.xml") == oldDatabase_;
        if (!oldDatabase) {
            EXPECT_EQ(nTrainFaces, lines) << "a new database is the one the list describes";
            EXPECT_EQ(nPersons, 3);
        }
        if (limit == 0) {
            EXPECT_FALSE(oldDatabase) << "without a limit the new person is learnt";
            EXPECT_GT(lines, lineCount(oldList_));
        }
        const std::string screen = facetest::readText("screen.txt");
        if (oldDatabase && limit != 0) {
            EXPECT_NE(screen.find("KLAIDA"), std::string::npos) << "a refused write is reported:\n" << screen;
        }
        fs::current_path(dir.path());
    }
}

// The child: enrols person 6 in the given folder with its files limited.
void saveScreen() {
    rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &unlimited);
    std::ofstream("screen.txt") << platform::Terminal::instance().screenText();
}

class EnrolmentChild : public robotest::RobotTest {};

TEST_F(EnrolmentChild, DISABLED_EnrolWithFileLimit) {
    const char* folder = std::getenv(kFolderVariable);
    const char* limitText = std::getenv(kLimitVariable);
    ASSERT_TRUE(folder && limitText);
    fs::current_path(folder);
    kamera1 = 1;
    cv::Mat personNumbers;
    ASSERT_EQ(loadTrainingData(personNumbers), 1);
    std::atexit(saveScreen);
    const long limit = std::atol(limitText);
    if (limit > 0) {
        signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
        rlimit files{static_cast<rlim_t>(limit), RLIM_INFINITY};
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &files), 0);
    }
    platform::scriptKeys(enrolmentKeys());
    ivedimasiscam();
    releaseCameras();
}

}  // namespace
