#include "objects/surf.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <iomanip>
#include <vector>

#include "objects/surf_match.h"
#include "tests/objects/objects_test_util.h"
#include "tests/support/robot_test.h"

namespace {

struct Features {
    std::vector<SurfPoint> points;
    cv::Mat descriptors;
};

Features surf(const cv::Mat& picture, const SurfParams& params = cvSURFParams(500, 1)) {
    Features f;
    extractSURF(picture, f.points, f.descriptors, params);
    return f;
}

TEST(Surf, PicturesWithoutTextureGiveNoPoints) {
    for (const cv::Mat& picture : {cv::Mat(), cv::Mat(1, 1, CV_8UC1, cv::Scalar(7)), cv::Mat(480, 640, CV_8UC1, cv::Scalar(128)),
                                   cv::Mat(30, 2000, CV_8UC1, cv::Scalar(0)), cv::Mat(5, 5, CV_8UC3, cv::Scalar(1, 2, 3))}) {
        const Features f = surf(picture);
        EXPECT_TRUE(f.points.empty() && f.descriptors.rows == 0 && f.descriptors.cols == 128) << picture.size;
    }
}

// Sums over everything the extractor gives for a picture: its points, their directions
// and a position-weighted sum of the descriptors.
struct Fingerprint {
    const char* picture;
    int extended;
    int count, sizes, laplacians;
    double x, y, cosDir, sinDir, descriptors;
};

Fingerprint fingerprint(const char* picture, int extended) {
    const Features f = surf(objtest::loadPicture(picture, cv::IMREAD_GRAYSCALE), cvSURFParams(500, extended));
    Fingerprint sums{picture, extended, static_cast<int>(f.points.size()), 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < sums.count; ++i) {
        const SurfPoint& p = f.points[i];
        sums.sizes += p.size, sums.laplacians += p.laplacian, sums.x += p.pt.x, sums.y += p.pt.y;
        sums.cosDir += std::cos(p.dir * CV_PI / 180), sums.sinDir += std::sin(p.dir * CV_PI / 180);
        for (int k = 0; k < f.descriptors.cols; ++k) sums.descriptors += f.descriptors.at<float>(i, k) * ((i + 3 * k) % 7 + 1);
    }
    return sums;
}

TEST(Surf, FindsTheSamePointsAndDescriptorsAsRecorded) {
    const Fingerprint recorded[] = {
        {"box.png", 1, 620, 13390, 0, 97522.15042, 72708.94167, -90.01704005, 8.373941201, 9988.122058},
        {"box.png", 0, 620, 13390, 0, 97522.15042, 72708.94167, -90.01704005, 8.373941201, 8002.550885},
        {"box_in_scene.png", 1, 944, 24581, 36, 226903.5377, 211323.9533, 41.31342341, 70.250084, 15043.18808},
        {"graf1.png", 1, 2875, 82926, -131, 1097939.576, 991231.8941, -19.39682715, -39.71429013, 40199.75094},
    };
    for (const Fingerprint& want : recorded) {
        SCOPED_TRACE(::testing::Message() << want.picture << (want.extended ? " extended" : " short"));
        const Fingerprint got = fingerprint(want.picture, want.extended);
        ::testing::Message actual;
        actual << std::setprecision(10) << got.count << ", " << got.sizes << ", " << got.laplacians << ", " << got.x << ", " << got.y << ", "
               << got.cosDir << ", " << got.sinDir << ", " << got.descriptors;
        EXPECT_EQ(cv::Vec3i(got.count, got.sizes, got.laplacians), cv::Vec3i(want.count, want.sizes, want.laplacians)) << actual;
        for (auto field : {&Fingerprint::x, &Fingerprint::y, &Fingerprint::cosDir, &Fingerprint::sinDir, &Fingerprint::descriptors})
            EXPECT_NEAR(got.*field, want.*field, 1e-2) << actual;
    }
}

TEST(ObjectSearch, GraffitiUnderViewpointChangeMatchesTheTrueHomography) {
    const cv::Mat graf1 = objtest::loadPicture("graf1.png", cv::IMREAD_GRAYSCALE);
    ASSERT_EQ(graf1.size(), cv::Size(800, 640));
    cv::Mat truth;
    cv::FileStorage(robotest::testData("objects/H1to3p.xml"), cv::FileStorage::READ)["H13"] >> truth;
    ASSERT_FALSE(truth.empty());
    const Features object = surf(graf1), frame = surf(objtest::loadPicture("graf3.png", cv::IMREAD_GRAYSCALE));
    std::vector<int> pairs;
    findPairs(object.points, object.descriptors, frame.points, frame.descriptors, pairs);
    const cv::Mat h = homographyFromPairs(object.points, frame.points, pairs);
    ASSERT_FALSE(h.empty());
    const std::vector<cv::Point2d> corners = {{0, 0}, {800, 0}, {800, 640}, {0, 640}};
    std::vector<cv::Point2d> found, expected;
    cv::perspectiveTransform(corners, found, h);
    cv::perspectiveTransform(corners, expected, truth);
    double error = 0;  // the mean distance of the picture's corners taken there
    for (int i = 0; i < 4; ++i) error += cv::norm(found[i] - expected[i]) / 4;
    EXPECT_LT(error, 5.0);
}

}  // namespace
