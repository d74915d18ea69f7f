// facedata.xml: what the robot writes, what it reads back, and what a damaged
// file does; the recognition report over a test list.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "faces/eigenfaces.h"
#include "tests/faces/face_test_support.h"
#include "tests/support/robot_test.h"

namespace {

using facetest::readText;
using facetest::writeText;

class FaceDatabase : public robotest::RobotTest {
protected:
    void SetUp() override {
        RobotTest::SetUp();
        writeText("train.txt", facetest::trainingList({3, 4, 5}, 1, 3));
        ASSERT_EQ(learn("train.txt"), 1);
    }
    // Replaces the first occurrence of a piece of facedata.xml.
    static void edit(const std::string& from, const std::string& to) {
        std::string xml = readText("facedata.xml");
        const auto at = xml.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        writeText("facedata.xml", xml.replace(at, from.size(), to));
    }
    static int load() {
        cv::Mat numbers;
        return loadTrainingData(numbers);
    }
    robotest::ScopedWorkDir dir;
};

TEST_F(FaceDatabase, FileKeepsTheClassicLayout) {
    const std::string xml = readText("facedata.xml");
    std::size_t last = 0;
    for (const char* key : {"<nPersons>3<", "<personName_1>s3<", "<personName_3>s5<", "<nEigens>8<",
                            "<nTrainFaces>9<", "<trainPersonNumMat type_id=\"opencv-matrix\">",
                            "<eigenValMat type_id=\"opencv-matrix\">",
                            "<projectedTrainFaceMat type_id=\"opencv-matrix\">",
                            "<avgTrainImg type_id=\"opencv-image\">", "<eigenVect_0 type_id=\"opencv-image\">",
                            "<eigenVect_7 type_id=\"opencv-image\">"}) {
        const auto at = xml.find(key, last);
        ASSERT_NE(at, std::string::npos) << key;
        last = at;
    }
    EXPECT_EQ(xml.find("personName_0"), std::string::npos);
    EXPECT_EQ(xml.find("eigenVect_8"), std::string::npos);

    cv::FileStorage fs("facedata.xml", cv::FileStorage::READ);
    EXPECT_EQ(static_cast<std::string>(fs["trainPersonNumMat"]["dt"]), "i");
    EXPECT_EQ(static_cast<std::string>(fs["projectedTrainFaceMat"]["dt"]), "f");
    EXPECT_EQ(static_cast<int>(fs["projectedTrainFaceMat"]["rows"]), 9);
    const cv::FileNode image = fs["eigenVect_3"];
    EXPECT_EQ(static_cast<int>(image["width"]), 92);
    EXPECT_EQ(static_cast<int>(image["height"]), 112);
    EXPECT_EQ(static_cast<std::string>(image["origin"]), "top-left");
    EXPECT_EQ(static_cast<std::string>(image["layout"]), "interleaved");
    EXPECT_EQ(static_cast<std::string>(image["dt"]), "f");
    EXPECT_EQ(image["data"].size(), 92u * 112u);
}

TEST_F(FaceDatabase, MissingOrEmptyDatabaseIsReported) {
    edit("<nPersons>3</nPersons>", "");
    EXPECT_EQ(load(), 0);
    EXPECT_NE(row(36).find("Nera uzregistruotu DB 'facedata.xml'."), std::string::npos);
    EXPECT_EQ(nPersons, 0);
    std::filesystem::remove("facedata.xml");
    EXPECT_EQ(load(), 0);
    EXPECT_NE(row(36).find("Negaliu atidaryti DB failo 'facedata.xml'."), std::string::npos);
}

TEST_F(FaceDatabase, DatabaseWithoutEigenfacesLoadsButRecognisesNobody) {
    // The robot trains at least two pictures; a database written elsewhere may
    // still hold no eigenfaces.
    nEigens = 0;
    eigenVectArr.clear();
    eigenValMat = cv::Mat(1, 0, CV_32F);
    projectedTrainFaceMat = cv::Mat(nTrainFaces, 0, CV_32F);
    ASSERT_EQ(storeTrainingData(), 1);
    ASSERT_EQ(load(), 1);
    EXPECT_EQ(nEigens, 0);
    EXPECT_EQ(nTrainFaces, 9);
    float confidence = 0;
    std::vector<float> projection(1, 0.0f);
    EXPECT_FALSE(projectFace(faceImgArr.empty() ? pAvgTrainImg : faceImgArr[0], projection.data()));
    EXPECT_EQ(findNearestNeighbor(projection.data(), &confidence), -1);
}

TEST_F(FaceDatabase, PersonNameThatIsNotTextReadsAsEmpty) {
    edit("<personName_2>s4</personName_2>", "<personName_2>42</personName_2>");
    ASSERT_EQ(load(), 1);
    EXPECT_EQ(personNames, (std::vector<std::string>{"s3", "", "s5"}));
}

TEST_F(FaceDatabase, OldDatabaseStaysWholeWhenTheNewOneCannotBeWritten) {
    const std::string before = readText("facedata.xml");
    std::filesystem::create_directory("facedata.xml.part");  // blocks the temporary file
    EXPECT_EQ(learn("train.txt"), 0);
    EXPECT_EQ(readText("facedata.xml"), before);
}

TEST_F(FaceDatabase, RecognitionReportCountsRightAnswers) {
    // Persons 1 and 2 correctly labelled, a third picture labelled as the wrong person.
    facetest::copyPicture(3, 8, "test/a.pgm");
    facetest::copyPicture(4, 8, "test/b.pgm");
    facetest::copyPicture(5, 8, "test/c.pgm");
    writeText("test.txt", "1 s3 test/a.pgm\n2 s4 test/b.pgm\n1 s3 test/c.pgm\n");
    recognizeFileList("test.txt");
    EXPECT_EQ(accuracy, 66);
    EXPECT_GT(confi, 0.0f);  // of the last picture, a stranger's face
    EXPECT_LT(confi, 1.0f);
    EXPECT_GE(detectiontime, 0.0f);
    EXPECT_NE(row(36).find("TOTAL ACCURACY: 66% out of 3 tests."), std::string::npos) << screen();
    EXPECT_NE(row(37).find("TOTAL TIME: "), std::string::npos);
}

}  // namespace
