// The eigenface arithmetic: unit eigenfaces, faithful projections, the nearest
// neighbour and its confidence, the eigenface pictures, and recognition quality.

#include <gtest/gtest.h>

#include <opencv2/face.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <numeric>
#include <string>

#include "faces/eigenfaces.h"
#include "tests/faces/face_test_support.h"
#include "tests/support/robot_test.h"

namespace {

class Eigenfaces : public robotest::RobotTest {
protected:
    void train(const std::vector<int>& persons, int firstPicture, int lastPicture) {
        facetest::writeText("train.txt", facetest::trainingList(persons, firstPicture, lastPicture));
        ASSERT_EQ(learn("train.txt"), 1);
    }
    robotest::ScopedWorkDir dir;
};

// Orthonormal eigenfaces with descending eigenvalues summing to one; a training
// picture rebuilt from its projection, and its own nearest neighbour.
TEST_F(Eigenfaces, EigenfacesRebuildTheTrainingPicturesTheyAreMadeOf) {
    train({3, 4, 5}, 1, 4);
    ASSERT_EQ(nEigens, 11);
    ASSERT_EQ(eigenVectArr.size(), 11u);
    for (int i = 0; i < nEigens; ++i)
        for (int j = 0; j < nEigens; ++j) EXPECT_NEAR(eigenVectArr[i].dot(eigenVectArr[j]), i == j, 1e-4) << i << "," << j;
    EXPECT_NEAR(cv::sum(eigenValMat)[0], 1.0, 1e-5);
    for (int k = 1; k < nEigens; ++k) EXPECT_GE(eigenValMat.at<float>(0, k - 1), eigenValMat.at<float>(0, k));
    EXPECT_GT(eigenValMat.at<float>(0, nEigens - 1), 0.0f);
    // The average is the plain mean of the training pictures.
    cv::Mat sum = cv::Mat::zeros(pAvgTrainImg.size(), CV_32F), original;
    for (const cv::Mat& picture : faceImgArr) cv::accumulate(picture, sum);
    EXPECT_LT(cv::norm(sum / nTrainFaces, pAvgTrainImg, cv::NORM_INF), 1e-3);
    cv::Mat rebuilt = pAvgTrainImg.clone();
    for (int k = 0; k < nEigens; ++k) rebuilt += projectedTrainFaceMat.at<float>(7, k) * eigenVectArr[k];
    faceImgArr[7].convertTo(original, CV_32F);
    EXPECT_LT(cv::norm(rebuilt, original, cv::NORM_INF), 0.5);

    std::vector<float> projection(nEigens);
    ASSERT_TRUE(projectFace(faceImgArr[5], projection.data()));
    float confidence = 0.0f;
    EXPECT_EQ(findNearestNeighbor(projection.data(), &confidence), 5);
    EXPECT_FLOAT_EQ(confidence, 1.0f);
    // A picture of another size is refused rather than read out of bounds.
    EXPECT_FALSE(projectFace(cv::Mat(20, 20, CV_8U, cv::Scalar(1)), projection.data()));
}

TEST_F(Eigenfaces, TiesGoToTheEarlierPictureAndConfidenceFallsWithDistance) {
    nTrainFaces = 3;
    nEigens = 2;
    projectedTrainFaceMat = (cv::Mat_<float>(3, 2) << 10, 0, 0, 10, -10, 0);
    const float test[] = {0, 0};
    float confidence = 0.0f;
    EXPECT_EQ(findNearestNeighbor(test, &confidence), 0);
    // RMS difference per element: sqrt(100 / 6).
    EXPECT_NEAR(confidence, 1.0 - std::sqrt(100.0 / 6.0) / 255.0, 1e-6);
    const float nearThird[] = {-9, 0};
    EXPECT_EQ(findNearestNeighbor(nearThird, &confidence), 2);

    nTrainFaces = 0;
    EXPECT_EQ(findNearestNeighbor(test, &confidence), -1);
}

// Eight eigenfaces a row, always one row more than nEigens / 8.
TEST_F(Eigenfaces, EigenfaceCanvasHasEightColumns) {
    for (int count : {17, 16, 3}) {
        nEigens = count;
        pAvgTrainImg = cv::Mat(90, 120, CV_32F, cv::Scalar(100.5));
        eigenVectArr.assign(count, cv::Mat());
        cv::RNG rng(count);
        for (cv::Mat& vector : eigenVectArr) rng.fill(vector = cv::Mat(90, 120, CV_32F), cv::RNG::UNIFORM, -1.0, 1.0);
        storeEigenfaceImages();
        EXPECT_EQ(cv::imread("out_eigenfaces.bmp", cv::IMREAD_UNCHANGED).size(),
                  cv::Size(std::min(count, 8) * 120, (count / 8 + 1) * 90)) << count;
        EXPECT_EQ(noofegineface, count);
        const cv::Mat average = cv::imread("out_averageImage.bmp", cv::IMREAD_GRAYSCALE);
        ASSERT_EQ(average.size(), cv::Size(120, 90));
        EXPECT_EQ(average.at<uchar>(0, 0), 100);  // plain conversion, no stretching
    }
    // The stretched eigenface fills 0..255 in its cell.
    const cv::Mat canvas = cv::imread("out_eigenfaces.bmp", cv::IMREAD_GRAYSCALE);
    double low = 0, high = 0;
    cv::minMaxLoc(canvas(cv::Rect(120, 0, 120, 90)), &low, &high);
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 255);
}

// Five pictures of each person train, the other five test: the robot's database
// recognises at least as many as OpenCV's eigenface recogniser on the same split.
TEST_F(Eigenfaces, RecognisesUnseenPicturesAtLeastAsWellAsOpenCV) {
    const std::vector<int> persons{3, 4, 5, 6, 7, 8};
    train(persons, 1, 5);

    std::vector<cv::Mat> trainPictures;
    std::vector<int> labels;
    for (std::size_t k = 0; k < persons.size() * 5; ++k) {
        trainPictures.push_back(facetest::orlPicture(persons[k / 5], static_cast<int>(k % 5) + 1));
        labels.push_back(static_cast<int>(k / 5) + 1);
    }
    auto reference = cv::face::EigenFaceRecognizer::create();
    reference->train(trainPictures, labels);

    cv::Mat trainPersonNumMat;
    ASSERT_EQ(loadTrainingData(trainPersonNumMat), 1);
    std::vector<float> projection(nEigens);
    int ours = 0, theirs = 0;
    for (std::size_t k = 0; k < persons.size(); ++k) {
        for (int i = 6; i <= 10; ++i) {
            const cv::Mat picture = facetest::orlPicture(persons[k], i);
            ASSERT_TRUE(projectFace(picture, projection.data()));
            float confidence = 0.0f;
            const int nearest = findNearestNeighbor(projection.data(), &confidence);
            ours += trainPersonNumMat.at<int>(0, nearest) == static_cast<int>(k) + 1;
            theirs += reference->predict(picture) == static_cast<int>(k) + 1;
        }
    }
    EXPECT_GE(ours, theirs);
    EXPECT_GE(ours, 27);  // of 30
}

}  // namespace
