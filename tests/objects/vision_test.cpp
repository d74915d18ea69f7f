// The object vision: key points and descriptors, the matcher, the foreground model.

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <iomanip>
#include <tuple>
#include <vector>

#include "objects/fgd.h"
#include "objects/surf.h"
#include "objects/surf_match.h"
#include "tests/objects/objects_test_util.h"
#include "tests/support/robot_test.h"

namespace {

// Key points with chosen signs and descriptors with chosen values, for the matcher.
struct Features {
    std::vector<SurfPoint> points;
    cv::Mat descriptors = cv::Mat(0, 4, CV_32F);

    Features& add(float x, float y, int laplacian, std::vector<float> d) {
        SurfPoint p;
        p.pt = cv::Point2f(x, y), p.laplacian = laplacian, p.size = 15, points.push_back(p);
        descriptors.push_back(cv::Mat(d).reshape(1, 1));
        return *this;
    }
};

TEST(DescriptorMatching, DistanceIsSquaredOrPartialBeyondTheLimitNeighboursPassTheRatioTestPairsKeepDuplicates) {
    const float a[8] = {1, 2, 3, 4, 5, 6, 7, 8}, b[8] = {0, 2, 3, 4, 5, 6, 7, 11};
    // After the first group the sum is 1: a sum equal to the limit goes on, one above it stops there.
    for (const auto& [limit, length, distance] : {std::tuple{100.0, 8, 10.0}, {1.0, 8, 10.0}, {0.5, 8, 1.0}, {100.0, 0, 0.0}, {100.0, -4, 0.0}})
        EXPECT_DOUBLE_EQ(compareSURFDescriptors(a, b, limit, length), distance) << limit << " " << length;
    // The nearest neighbour: the ratio test, the Laplacian's sign, exactly six tenths rejected.
    Features frame, none, exact, closer;
    frame.add(0, 0, 1, {0, 0, 0, 0}).add(1, 0, 1, {0, 0, 0, 10}).add(2, 0, -1, {0, 0, 0, 0.1f});
    // Squared distances 3 and 5: 0.6 * 5 rounds to exactly 3 in doubles; 5.25: 3 < 3.15.
    exact.add(0, 0, 1, {1, 1, 1, 0}).add(0, 0, 1, {2, 1, 0, 0});
    closer.add(0, 0, 1, {1, 1, 1, 0}).add(0, 0, 1, {2, 1, 0, 0.5f});
    const float one[4] = {0, 0, 0, 1}, zero[4] = {0, 0, 0, 0};
    const struct { const float* query; int laplacian; const Features& in; int found; } cases[] = {
        {one, 1, frame, 0},   // 1 against 81: accepted
        {one, -1, frame, 2},  // only point 2 has that sign: alone, its second distance is 1e6
        {one, 0, frame, -1}, {one, 1, none, -1}, {zero, 1, exact, -1}, {zero, 1, closer, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(naiveNearestNeighbor(c.query, c.laplacian, c.in.points, c.in.descriptors), c.found) << &c - cases;
    // Pairs list object and frame indices and keep duplicates: the second object point has
    // no clear match, the third matches the same frame point again, the fourth has no
    // frame point of its sign.
    Features object, seen;
    object.add(0, 0, 1, {1, 0, 0, 0}).add(0, 0, 1, {0, 0, 0, 9}).add(0, 0, 1, {0.9f, 0, 0, 0}).add(0, 0, -1, {1, 0, 0, 0});
    seen.add(0, 0, 1, {0, 5, 0, 0}).add(0, 0, 1, {1, 0, 0, 0}).add(0, 0, 1, {0, 0, 5, 0});
    std::vector<int> pairs = {7, 7, 7};
    findPairs(object.points, object.descriptors, seen.points, seen.descriptors, pairs);
    EXPECT_EQ(pairs, (std::vector<int>{0, 1, 2, 1}));
}

// Object points and their frame points, shifted (30, 20), one distinct descriptor each.
TEST(LocatePlanarObject, FourSpreadPairsLocateItThreeOrCollinearOnesOrAnOutlineNoCameraSeesDoNot) {
    const cv::Point corners[4] = {{0, 0}, {100, 0}, {100, 80}, {0, 80}};
    const std::vector<cv::Point2f> spread = {{10, 10}, {90, 12}, {85, 70}, {12, 75}};
    const std::vector<cv::Point2f> line = {{10, 10}, {20, 15}, {30, 20}, {40, 25}, {50, 30}, {60, 35}};
    for (const auto& where : {std::vector<cv::Point2f>(spread.begin(), spread.begin() + 3), line, spread}) {
        Features object, frame;
        for (size_t i = 0; i < where.size(); ++i) {
            std::vector<float> d(4, 0.f);
            d[i % 4] = 1.f + i;
            object.add(where[i].x, where[i].y, 1, d);
            frame.add(where[i].x + 30 + (where == line ? i : 0), where[i].y + 20, 1, d);
        }
        cv::Point found[4] = {{-9, -9}, {-9, -9}, {-9, -9}, {-9, -9}};
        const int located = locatePlanarObject(object.points, object.descriptors, frame.points, frame.descriptors, corners, found);
        EXPECT_EQ(located, where == spread) << where.size();
        EXPECT_EQ(found[0], where == spread ? cv::Point(30, 20) : cv::Point(-9, -9));
        EXPECT_EQ(found[2], where == spread ? cv::Point(130, 100) : cv::Point(-9, -9));
    }
    // The fitted homography -> whether the outline it makes is one a camera can see.
    const struct { const char* what; cv::Matx33d h; int located; } fits[] = {
        {"shifted", {1, 0, 5.4, 0, 1, -2.6, 0, 0, 1}, 1},
        {"small, in the far corner of the frame", {0.45, 0, 590, 0, 0.45, 440, 0, 0, 1}, 1},
        {"upside down", {-1, 0, 600, 0, -1, 400, 0, 0, 1}, 1}, {"seen at a slant", {1, 0, 300, 0, 1, 200, 0.003, 0, 1}, 1},
        {"across the horizon", {1, 0, 0, 0, 1, 0, -0.02, 0, 1}, 0}, {"a corner on the horizon", {1, 0, 0, 0, 1, 0, -0.01, 0, 1}, 0},
        {"a corner near the horizon", {1, 0, 0, 0, 1, 0, -0.0099, 0, 1}, 0}, {"behind the camera", {1, 0, 0, 0, 1, 0, 0, 0, -1}, 0},
        {"beyond any picture", {1, 0, 2e6, 0, 1, 0, 0, 0, 1}, 0}, {"squeezed to a line", {1, 0, 300, 0, 1e-4, 200, 0, 0, 1}, 0},
        {"folded over by its slant", {1, 0, 300, 0, 1, 200, 0, 0.1, 1}, 0}, {"sheared flat", {1, 20, 300, 0, 1, 200, 0, 0, 1}, 0},
        {"mirrored", {-1, 0, 300, 0, 1, 200, 0, 0, 1}, 0}, {"a dot", {0.05, 0, 300, 0, 0.05, 200, 0, 0, 1}, 0},
        {"rank one", {1, 2, 300, 2, 4, 200, 0, 0, 1}, 0},
    };
    for (const auto& fit : fits) {
        cv::Point found[4] = {{-9, -9}, {-9, -9}, {-9, -9}, {-9, -9}};
        EXPECT_EQ(projectObjectCorners(cv::Mat(fit.h), corners, found), fit.located) << fit.what;
        EXPECT_EQ(found[0] == cv::Point(-9, -9), !fit.located) << fit.what;
        EXPECT_TRUE(&fit != fits || found[2] == cv::Point(105, 77)) << found[2];
    }
    cv::Point found[4];
    EXPECT_EQ(projectObjectCorners(cv::Mat(), corners, found), 0);
}

Features surf(const cv::Mat& picture, const SurfParams& params = cvSURFParams(500, 1)) {
    Features f;
    extractSURF(picture, f.points, f.descriptors, params);
    return f;
}

// Sums over everything the extractor gives for a picture: its points, their directions
// and a position-weighted sum of the descriptors.
struct Fingerprint { const char* picture; int extended; int count, sizes, laplacians; double x, y, cosDir, sinDir, descriptors; };

TEST(Surf, FindsTheSamePointsAndDescriptorsAsRecorded) {
    const Fingerprint recorded[] = {
        {"box.png", 1, 620, 13390, 0, 97522.15042, 72708.94167, -90.01704005, 8.373941201, 9988.122058},
        {"box.png", 0, 620, 13390, 0, 97522.15042, 72708.94167, -90.01704005, 8.373941201, 8002.550885},
        {"box_in_scene.png", 1, 944, 24581, 36, 226903.5377, 211323.9533, 41.31342341, 70.250084, 15043.18808},
        {"graf1.png", 1, 2875, 82926, -131, 1097939.576, 991231.8941, -19.39682715, -39.71429013, 40199.75094},
    };
    for (const Fingerprint& want : recorded) {
        SCOPED_TRACE(::testing::Message() << want.picture << (want.extended ? " extended" : " short"));
        const cv::Mat picture = objtest::loadPicture(want.picture, cv::IMREAD_GRAYSCALE);
        const Features f = surf(picture, cvSURFParams(500, want.extended));
        Fingerprint got{want.picture, want.extended, static_cast<int>(f.points.size()), 0, 0, 0, 0, 0, 0, 0};
        for (int i = 0; i < got.count; ++i) {
            const SurfPoint& p = f.points[i];
            got.sizes += p.size, got.laplacians += p.laplacian, got.x += p.pt.x, got.y += p.pt.y;
            got.cosDir += std::cos(p.dir * CV_PI / 180), got.sinDir += std::sin(p.dir * CV_PI / 180);
            for (int k = 0; k < f.descriptors.cols; ++k)
                got.descriptors += f.descriptors.at<float>(i, k) * ((i + 3 * k) % 7 + 1);
        }
        EXPECT_EQ(cv::Vec3i(got.count, got.sizes, got.laplacians), cv::Vec3i(want.count, want.sizes, want.laplacians));
        for (auto field : {&Fingerprint::x, &Fingerprint::y, &Fingerprint::cosDir, &Fingerprint::sinDir, &Fingerprint::descriptors})
            EXPECT_NEAR(got.*field, want.*field, 1e-2) << std::setprecision(10) << got.*field;
    }
}

// A hollow frame (60 x 50, its inside 48 x 38), a 3 x 3 and a 5 x 4 speck on a flat noiseless background.
TEST(ForegroundModel, HolesFilledUnlessAskedSmallRegionsDroppedNoiseIsNoObjectAndObjectsThatStayAreLearnt) {
    cv::Mat flat(120, 160, CV_8UC3, cv::Scalar(200, 200, 200)), scene = flat.clone();
    const cv::Rect ring(50, 30, 60, 50), hole(56, 36, 48, 38), tiny(10, 10, 3, 3), small(130, 90, 5, 4);
    scene(ring).setTo(cv::Scalar(20, 40, 160)), scene(hole).setTo(cv::Scalar(200, 200, 200));
    scene(tiny).setTo(cv::Scalar(0, 0, 0)), scene(small).setTo(cv::Scalar(0, 0, 0));
    for (const bool withoutHoles : {true, false}) {
        FgdParams params;
        params.is_obj_without_holes = withoutHoles;
        FgdModel model(flat, params);
        model.update(scene);
        const cv::Mat& found = model.foreground();
        EXPECT_EQ(cv::countNonZero(found(ring)), withoutHoles ? ring.area() : ring.area() - hole.area());
        EXPECT_EQ(cv::countNonZero(found), cv::countNonZero(found(ring)) + small.area()) << "the 9-pixel speck is dropped";
        EXPECT_EQ(cv::countNonZero(found(small)), small.area());
    }
    // Noise is no object; the background follows slow changes, and an object only once it stays.
    const cv::Mat street = objtest::loadPicture("street.png", cv::IMREAD_COLOR);
    for (const double sigma : {3.0, 5.0})  // camera noise alone is no object
        for (uint64_t seed = 1; seed <= 3; ++seed) {
            FgdModel still(objtest::withNoise(street, sigma, seed));
            ASSERT_TRUE(still.update(objtest::withNoise(street, sigma, seed + 100)));
            EXPECT_EQ(cv::countNonZero(still.foreground()), 0) << "sigma " << sigma << " seed " << seed;
        }
    flat = cv::Mat(60, 80, CV_8UC3, cv::Scalar(100, 100, 100));
    scene = flat.clone();
    FgdModel model(flat);
    EXPECT_FALSE(model.update(cv::Mat(30, 40, CV_8UC3, cv::Scalar(0, 0, 0))) || model.update(cv::Mat()));
    EXPECT_EQ(cv::countNonZero(model.foreground()), 0);
    FgdModel empty{cv::Mat()};
    EXPECT_FALSE(empty.update(flat));
    EXPECT_TRUE(empty.foreground().empty());
    scene(cv::Rect(20, 20, 20, 20)).setTo(cv::Scalar(250, 0, 0));
    scene(cv::Rect(60, 0, 20, 60)).setTo(cv::Scalar(102, 102, 102));  // a slight change of light
    ASSERT_TRUE(model.update(scene));
    ASSERT_EQ(model.background().type(), CV_8UC3);
    EXPECT_EQ(model.background().at<cv::Vec3b>(30, 30), cv::Vec3b(100, 100, 100));  // the object stays out
    const cv::Vec3b lit = model.background().at<cv::Vec3b>(30, 70);
    EXPECT_TRUE(lit[0] >= 100 && lit[0] <= 102) << lit;
    int frames = 1;
    for (; cv::countNonZero(model.foreground()) > 0 && frames < 1000; ++frames) model.update(scene);
    EXPECT_GT(frames, 20) << "a passing object is learnt too soon";
    EXPECT_EQ(cv::countNonZero(model.foreground()), 0) << "still foreground after " << frames << " frames";
    EXPECT_EQ(model.background().at<cv::Vec3b>(30, 30), cv::Vec3b(250, 0, 0));
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
    cv::perspectiveTransform(corners, found, h), cv::perspectiveTransform(corners, expected, truth);
    double error = 0;  // the mean distance of the picture's corners taken there
    for (int i = 0; i < 4; ++i) error += cv::norm(found[i] - expected[i]) / 4;
    EXPECT_LT(error, 5.0);
}

}  // namespace
