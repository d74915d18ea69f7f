// A disk that refuses writes while a new person is enrolled (in a child process
// whose files may not grow past a limit): facedata.xml and train.txt stay whole.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <filesystem>

#include "faces/camera/camera.h"
#include "faces/eigenfaces.h"
#include "faces/ivedimas.h"
#include "platform/keys.h"
#include "tests/faces/face_test_support.h"
#include "tests/support/robot_test.h"

namespace {

namespace fs = std::filesystem;

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
    const std::string oldList = facetest::readText("train.txt"), oldDatabase = facetest::readText("facedata.xml");
    kamera1 = 1;
    // 4 KB stops the pictures, 64 KB the database, 1 MB a database of the new size
    // part way; with no limit the enrolment goes through.
    for (long limit : {4L * 1024, 64L * 1024, 1024L * 1024, 0L}) {
        SCOPED_TRACE("file size limit " + std::to_string(limit));
        const std::string folder = dir.path() + "-" + std::to_string(limit);
        fs::copy(dir.path(), folder, fs::copy_options::recursive);
        fs::current_path(folder);
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

        const std::string list = facetest::readText("train.txt");
        const int lines = static_cast<int>(std::count(list.begin(), list.end(), '\n'));
        EXPECT_TRUE(list.rfind(oldList, 0) == 0 && list.back() == '\n') << "the old list is kept, no half line at its end";
        EXPECT_EQ(loadFaceImgArray("train.txt"), lines) << "every listed picture loads:\n" << list;
        cv::Mat personNumbers;
        ASSERT_EQ(loadTrainingData(personNumbers), 1) << "facedata.xml is whole";
        const bool old = facetest::readText("facedata.xml") == oldDatabase;
        EXPECT_TRUE(old || (nTrainFaces == lines && nPersons == 3)) << "a new database is the one the list describes";
        EXPECT_TRUE(limit != 0 || (!old && list.size() > oldList.size())) << "without a limit the new person is learnt";
        EXPECT_TRUE(limit == 0 || !old || ended.screen.find("KLAIDA") != std::string::npos)
            << "a refused write is reported:\n" << ended.screen;
        fs::current_path(dir.path());
        fs::remove_all(folder);
    }
}

}  // namespace
