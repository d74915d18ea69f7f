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
    const cv::Mat pictures[] = {cv::Mat(), cv::Mat(1, 1, CV_8UC1, cv::Scalar(7)), cv::Mat(480, 640, CV_8UC1, cv::Scalar(128)),
                                cv::Mat(30, 2000, CV_8UC1, cv::Scalar(0)), cv::Mat(5, 5, CV_8UC3, cv::Scalar(1, 2, 3))};
    for (const cv::Mat& picture : pictures) {
        const Features f = surf(picture);
        EXPECT_TRUE(f.points.empty());
        EXPECT_EQ(f.descriptors.rows, 0);
        EXPECT_EQ(f.descriptors.cols, 128);
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
        sums.sizes += p.size;
        sums.laplacians += p.laplacian;
        sums.x += p.pt.x;
        sums.y += p.pt.y;
        sums.cosDir += std::cos(p.dir * CV_PI / 180);
        sums.sinDir += std::sin(p.dir * CV_PI / 180);
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
        ASSERT_EQ(got.count, want.count) << actual;
        EXPECT_EQ(got.sizes, want.sizes);
        EXPECT_EQ(got.laplacians, want.laplacians);
        EXPECT_NEAR(got.x, want.x, 1e-2);
        EXPECT_NEAR(got.y, want.y, 1e-2);
        EXPECT_NEAR(got.cosDir, want.cosDir, 1e-2);
        EXPECT_NEAR(got.sinDir, want.sinDir, 1e-2);
        EXPECT_NEAR(got.descriptors, want.descriptors, 1e-2);
    }
}

TEST(ObjectSearch, GraffitiUnderViewpointChangeMatchesTheTrueHomography) {
    const cv::Mat graf1 = objtest::loadPicture("graf1.png", cv::IMREAD_GRAYSCALE);
    const cv::Mat graf3 = objtest::loadPicture("graf3.png", cv::IMREAD_GRAYSCALE);
    cv::FileStorage fs(robotest::testData("objects/H1to3p.xml"), cv::FileStorage::READ);
    cv::Mat truth;
    fs["H13"] >> truth;
    ASSERT_FALSE(truth.empty());
    const Features object = surf(graf1), frame = surf(graf3);
    std::vector<int> pairs;
    findPairs(object.points, object.descriptors, frame.points, frame.descriptors, pairs);
    const cv::Mat h = homographyFromPairs(object.points, frame.points, pairs);
    ASSERT_FALSE(h.empty());
    const double error = objtest::meanCornerError(cv::Matx33d(h), cv::Matx33d(truth), graf1.size());
    RecordProperty("mean_corner_error_px", std::to_string(error));
    EXPECT_LT(error, 5.0);
}

// The box shrunk to the given scale, turned by angle degrees about its centre, tilted in
// perspective and pasted into a 640 x 480 street picture with the top left of its bounds
// at the given fractions of the room left: the frame, and the box's corners in it.
struct Placement {
    double scale, angle, tilt, fx, fy;
};

cv::Mat pasteBox(const cv::Mat& box, const cv::Mat& street, const Placement& v, cv::Point2d truth[4]) {
    cv::Mat small;
    cv::resize(box, small, cv::Size(), v.scale, v.scale, cv::INTER_AREA);
    const double sx = double(small.cols) / box.cols, sy = double(small.rows) / box.rows;
    const cv::Matx33d shrink(sx, 0, 0.5 * (sx - 1), 0, sy, 0.5 * (sy - 1), 0, 0, 1);  // keeps pixel centres
    const cv::Mat r = cv::getRotationMatrix2D(cv::Point2f(small.cols / 2.f, small.rows / 2.f), v.angle, 1.0);
    cv::Matx33d view = cv::Matx33d(1, 0, 0, 0, 1, 0, v.tilt, v.tilt / 2, 1) *
                       cv::Matx33d(r.at<double>(0, 0), r.at<double>(0, 1), r.at<double>(0, 2), r.at<double>(1, 0),
                                   r.at<double>(1, 1), r.at<double>(1, 2), 0, 0, 1);
    const cv::Point2d corners[4] = {{0, 0}, {double(box.cols), 0}, {double(box.cols), double(box.rows)},
                                    {0, double(box.rows)}};
    std::vector<cv::Point2f> outline;
    for (const cv::Point2d& c : corners) outline.push_back(objtest::project(view * shrink, c));
    const cv::Rect2f bounds = cv::boundingRect(outline);
    view = cv::Matx33d(1, 0, v.fx * (640 - bounds.width) - bounds.x, 0, 1, v.fy * (480 - bounds.height) - bounds.y,
                       0, 0, 1) * view;
    for (int i = 0; i < 4; ++i) truth[i] = objtest::project(view * shrink, corners[i]);
    cv::Mat frame;
    cv::resize(street, frame, cv::Size(640, 480));
    cv::warpPerspective(small, frame, view, frame.size(), cv::INTER_LINEAR, cv::BORDER_TRANSPARENT);
    return frame;
}

TEST(ObjectSearch, TheBoxIsLocatedWhereverAndHoweverLargeItStands) {
    const cv::Mat box = objtest::loadPicture("box.png", cv::IMREAD_GRAYSCALE);
    const cv::Mat street = objtest::loadPicture("street.png", cv::IMREAD_GRAYSCALE);
    const Features object = surf(box);
    const cv::Point corners[4] = {{0, 0}, {box.cols, 0}, {box.cols, box.rows}, {0, box.rows}};
    // Corners, centre and edges of the frame at several scales, some turned or tilted;
    // at a third of its size the box keeps only a score of key points.
    const Placement placements[] = {
        {1.0, 0, 0, 0, 0},     {1.0, 30, 0, 1, 1},    {1.0, -20, 3e-4, 0.5, 0.5}, {0.8, 10, -2e-4, 1, 0},
        {0.6, 0, 0, 1, 1},     {0.6, -8, 0, 0, 1},    {0.6, 5, 2e-4, 0.5, 0},     {0.45, 0, 0, 1, 1},
        {0.45, 6, 0, 0.05, 0.05}, {0.45, -6, 0, 0.5, 0.5}, {0.4, 0, 0, 1, 1},     {0.4, 4, 0, 1, 0.5},
        {0.35, -10, 0, 0, 0},  {0.35, -10, 0, 0.25, 0.5}, {0.3, 0, 0, 0.5, 0.25}, {0.3, 10, 0, 1, 0.75},
        {0.3, -10, 0, 1, 1}};
    double worst = 0;
    for (const Placement& v : placements) {
        SCOPED_TRACE(::testing::Message() << "scale " << v.scale << " angle " << v.angle << " tilt " << v.tilt
                                          << " at " << v.fx << ", " << v.fy);
        cv::Point2d truth[4];
        const Features frame = surf(pasteBox(box, street, v, truth));
        cv::Point found[4];
        ASSERT_EQ(locatePlanarObject(object.points, object.descriptors, frame.points, frame.descriptors, corners, found), 1);
        for (int i = 0; i < 4; ++i) {
            worst = std::max(worst, cv::norm(cv::Point2d(found[i]) - truth[i]));
            EXPECT_LE(cv::norm(cv::Point2d(found[i]) - truth[i]), 5.0) << found[i] << " against " << truth[i];
        }
    }
    RecordProperty("worst_corner_error_px", std::to_string(worst));
}

TEST(ObjectSearch, NothingIsFoundWithoutTextureOrKeyPointsAndTheSamePictureInPlace) {
    const cv::Mat box = objtest::loadPicture("box.png", cv::IMREAD_GRAYSCALE);
    const Features object = surf(box);
    const cv::Point corners[4] = {{0, 0}, {box.cols, 0}, {box.cols, box.rows}, {0, box.rows}};
    cv::Point found[4];
    const Features flat = surf(cv::Mat(480, 640, CV_8UC1, cv::Scalar(128)));
    EXPECT_EQ(locatePlanarObject(object.points, object.descriptors, flat.points, flat.descriptors, corners, found), 0);
    // An object without key points finds nothing even in its own picture.
    const Features none = surf(cv::Mat(1, 1, CV_8UC1, cv::Scalar(0)));
    const Features self = surf(box);
    EXPECT_EQ(locatePlanarObject(none.points, none.descriptors, self.points, self.descriptors, corners, found), 0);
    // The identical picture is found where it is.
    ASSERT_EQ(locatePlanarObject(object.points, object.descriptors, self.points, self.descriptors, corners, found), 1);
    for (int i = 0; i < 4; ++i) EXPECT_LE(cv::norm(found[i] - corners[i]), 1.5);
}

}  // namespace
