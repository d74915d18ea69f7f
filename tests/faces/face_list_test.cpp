// Reading training lists: who is who, and what a bad list does.

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <string>

#include "faces/eigenfaces.h"
#include "tests/faces/face_test_support.h"
#include "tests/support/robot_test.h"

namespace {

using facetest::copyPicture;
using facetest::readText;
using facetest::writeText;

class FaceList : public robotest::RobotTest {
protected:
    robotest::ScopedWorkDir dir;
};

TEST_F(FaceList, JonasAndOnaMakeTwoPersonsOfThreePictures) {
    copyPicture(3, 1, "data/1_Jonas1.pgm");
    copyPicture(3, 2, "data/1_Jonas2.pgm");
    copyPicture(4, 1, "data/2_Ona1.pgm");
    writeText("train.txt", "1 Jonas data/1_Jonas1.pgm\n1 Jonas data/1_Jonas2.pgm\n2 Ona data/2_Ona1.pgm\n");

    ASSERT_EQ(learn("train.txt"), 1);
    EXPECT_EQ(nPersons, 2);
    EXPECT_EQ(personNames, (std::vector<std::string>{"Jonas", "Ona"}));
    EXPECT_EQ(nTrainFaces, 3);
    EXPECT_EQ(nEigens, 2);
    EXPECT_EQ(personNumTruthMat.at<int>(0, 2), 2);
}

TEST_F(FaceList, FirstNumberNamesEveryPersonBelowItAndLaterEntriesRenameNobody) {
    copyPicture(4, 1, "data/3_Ona1.pgm");
    copyPicture(5, 1, "data/2_Petras1.pgm");
    copyPicture(6, 1, "data/5_Ieva1.pgm");
    writeText("list.txt", "3 Ona data/3_Ona1.pgm\n2 Petras data/2_Petras1.pgm\n5 Ieva data/5_Ieva1.pgm\n"
                          "3 Kazys data/3_Ona1.pgm\n");

    EXPECT_EQ(loadFaceImgArray("list.txt"), 4);
    EXPECT_EQ(nPersons, 5);
    EXPECT_EQ(personNames, (std::vector<std::string>{"Ona", "Ona", "Ona", "Ieva", "Ieva"}));
}

TEST_F(FaceList, OnePictureIsNotEnoughAndTheDatabaseStaysAsItWas) {
    copyPicture(3, 1, "data/1_Jonas1.pgm");
    writeText("train.txt", "1 Jonas data/1_Jonas1.pgm\n");
    writeText("facedata.xml", "old database");

    testing::internal::CaptureStderr();
    EXPECT_EQ(learn("train.txt"), 0);
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("Reikalingi 2 ar daugiau veidu DB\nIvedamas failas sudaro 1\n"), std::string::npos);
    EXPECT_EQ(readText("facedata.xml"), "old database");
}

TEST_F(FaceList, EmptyAndMalformedLinesAreReportedAndSkipped) {
    copyPicture(3, 1, "data/a.pgm");
    copyPicture(3, 2, "data/b.pgm");
    writeText("list.txt", "\n1 Jonas data/a.pgm\n   \nJonas 1 data/a.pgm\n0 Nobody data/a.pgm\n"
                          "-2 Minus data/a.pgm\n2x Ona data/b.pgm\n1 Jonas\n1 Jonas data/b.pgm");

    testing::internal::CaptureStderr();
    EXPECT_EQ(loadFaceImgArray("list.txt"), 2);
    const std::string errors = testing::internal::GetCapturedStderr();
    for (int line : {1, 3, 4, 5, 6, 7, 8}) {
        EXPECT_NE(errors.find("Bloga eilute " + std::to_string(line) + " "), std::string::npos) << line;
    }
    EXPECT_EQ(nPersons, 1);

    writeText("blank.txt", "\n\n \n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(loadFaceImgArray("blank.txt"), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(nPersons, 0);
}

TEST_F(FaceList, LongNamesAndLinesAreKeptWhole) {
    const std::string name(3000, 'V');
    const std::string folder(200, 'f');
    const std::string picture = "data/" + folder + "/" + folder + "/" + folder + "/" + std::string(200, 'p') + ".pgm";
    copyPicture(3, 1, picture);
    writeText("list.txt", "1 " + name + " " + picture + "\n1 " + name + " " + picture + "\n");

    EXPECT_EQ(loadFaceImgArray("list.txt"), 2);
    ASSERT_EQ(personNames.size(), 1u);
    EXPECT_EQ(personNames[0], name);
}

TEST_F(FaceList, MissingFilesAndPicturesOfDifferentSizesFail) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(loadFaceImgArray("nothing.txt"), 0);
    copyPicture(3, 1, "data/a.pgm");
    writeText("list.txt", "1 Jonas data/a.pgm\n1 Jonas data/missing.pgm\n");
    EXPECT_EQ(loadFaceImgArray("list.txt"), 0);
    cv::imwrite("data/small.pgm", cv::Mat(50, 40, CV_8U, cv::Scalar(9)));
    writeText("sizes.txt", "1 Jonas data/a.pgm\n2 Ona data/small.pgm\n");
    EXPECT_EQ(learn("sizes.txt"), 0);
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("Negaliu atidaryti failo nothing.txt\n"), std::string::npos);
    EXPECT_NE(errors.find("Negaliu atidaryti paveikslelio data/missing.pgm\n"), std::string::npos);
    EXPECT_NE(errors.find("data/small.pgm dydis 40x50"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists("facedata.xml"));
}

}  // namespace
