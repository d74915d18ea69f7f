#include "objects/surf_match.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <vector>

#include "tests/objects/objects_test_util.h"

namespace {

// Key points with chosen signs and descriptors with chosen values, for the matcher.
struct Features {
    std::vector<SurfPoint> points;
    cv::Mat descriptors = cv::Mat(0, 4, CV_32F);

    void add(float x, float y, int laplacian, std::vector<float> d) {
        SurfPoint p;
        p.pt = cv::Point2f(x, y);
        p.laplacian = laplacian;
        p.size = 15;
        points.push_back(p);
        descriptors.push_back(cv::Mat(d).reshape(1, 1));
    }
};

TEST(DescriptorDistance, IsTheSquaredDistanceOrAPartialSumBeyondTheLimit) {
    const float a[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const float b[8] = {0, 2, 3, 4, 5, 6, 7, 11};
    EXPECT_DOUBLE_EQ(compareSURFDescriptors(a, b, 100.0, 8), 10.0);
    // After the first group the sum is 1: a sum equal to the limit goes on ...
    EXPECT_DOUBLE_EQ(compareSURFDescriptors(a, b, 1.0, 8), 10.0);
    // ... one above it stops there.
    EXPECT_DOUBLE_EQ(compareSURFDescriptors(a, b, 0.5, 8), 1.0);
    EXPECT_DOUBLE_EQ(compareSURFDescriptors(a, b, 100.0, 0), 0.0);
    EXPECT_DOUBLE_EQ(compareSURFDescriptors(a, b, 100.0, -4), 0.0);
}

TEST(NearestNeighbour, RatioTestAndLaplacianSign) {
    Features frame;
    frame.add(0, 0, 1, {0, 0, 0, 0});
    frame.add(1, 0, 1, {0, 0, 0, 10});
    frame.add(2, 0, -1, {0, 0, 0, 0.1f});
    const float query[4] = {0, 0, 0, 1};
    // 1 against 81: accepted.
    EXPECT_EQ(naiveNearestNeighbor(query, 1, frame.points, frame.descriptors), 0);
    // With the other sign only point 2 is searched: alone, its second distance is 1e6.
    EXPECT_EQ(naiveNearestNeighbor(query, -1, frame.points, frame.descriptors), 2);
    EXPECT_EQ(naiveNearestNeighbor(query, 0, frame.points, frame.descriptors), -1);
    Features none;
    EXPECT_EQ(naiveNearestNeighbor(query, 1, none.points, none.descriptors), -1);
}

TEST(NearestNeighbour, ExactlySixTenthsIsRejected) {
    // Squared distances 3 and 5: 0.6 * 5 rounds to exactly 3 in doubles.
    const float query[4] = {0, 0, 0, 0};
    ASSERT_EQ(0.6 * 5.0, 3.0);
    Features exact;
    exact.add(0, 0, 1, {1, 1, 1, 0});
    exact.add(0, 0, 1, {2, 1, 0, 0});
    EXPECT_EQ(naiveNearestNeighbor(query, 1, exact.points, exact.descriptors), -1);
    Features closer;
    closer.add(0, 0, 1, {1, 1, 1, 0});
    closer.add(0, 0, 1, {2, 1, 0, 0.5f});  // 5.25: 3 < 3.15
    EXPECT_EQ(naiveNearestNeighbor(query, 1, closer.points, closer.descriptors), 0);
}

TEST(FindPairs, ListsObjectAndFrameIndicesAndKeepsDuplicates) {
    Features object, frame;
    object.add(0, 0, 1, {1, 0, 0, 0});
    object.add(0, 0, 1, {0, 0, 0, 9});      // no clear match
    object.add(0, 0, 1, {0.9f, 0, 0, 0});   // the same frame point again
    object.add(0, 0, -1, {1, 0, 0, 0});     // no frame point of that sign
    frame.add(0, 0, 1, {0, 5, 0, 0});
    frame.add(0, 0, 1, {1, 0, 0, 0});
    frame.add(0, 0, 1, {0, 0, 5, 0});
    std::vector<int> pairs = {7, 7, 7};
    findPairs(object.points, object.descriptors, frame.points, frame.descriptors, pairs);
    EXPECT_EQ(pairs, (std::vector<int>{0, 1, 2, 1}));
}

// Four well-spread object points and their frame points under a known shift.
Features gridFeatures(float dx, float dy, int count) {
    Features f;
    for (int i = 0; i < count; ++i) {
        std::vector<float> d(4, 0.f);
        d[i % 4] = 1.f + i / 4;
        f.add(10.f + 50 * (i % 3) + dx, 10.f + 40 * (i / 3) + dy, 1, d);
    }
    return f;
}

TEST(LocatePlanarObject, ThreePairsAreTooFewFourSuffice) {
    const cv::Point corners[4] = {{0, 0}, {100, 0}, {100, 80}, {0, 80}};
    cv::Point found[4] = {{-9, -9}, {-9, -9}, {-9, -9}, {-9, -9}};
    const Features object3 = gridFeatures(0, 0, 3), frame3 = gridFeatures(30, 20, 3);
    EXPECT_EQ(locatePlanarObject(object3.points, object3.descriptors, frame3.points, frame3.descriptors, corners,
                                 found),
              0);
    EXPECT_EQ(found[0], cv::Point(-9, -9));

    Features object, frame;
    const cv::Point2f where[4] = {{10, 10}, {90, 12}, {85, 70}, {12, 75}};
    for (int i = 0; i < 4; ++i) {
        std::vector<float> d(4, 0.f);
        d[i] = 1.f;
        object.add(where[i].x, where[i].y, 1, d);
        frame.add(where[i].x + 30, where[i].y + 20, 1, d);
    }
    ASSERT_EQ(locatePlanarObject(object.points, object.descriptors, frame.points, frame.descriptors, corners, found),
              1);
    EXPECT_EQ(found[0], cv::Point(30, 20));
    EXPECT_EQ(found[1], cv::Point(130, 20));
    EXPECT_EQ(found[2], cv::Point(130, 100));
    EXPECT_EQ(found[3], cv::Point(30, 100));
}

TEST(LocatePlanarObject, CollinearMatchesAreNotAnObject) {
    Features object, frame;
    for (int i = 0; i < 8; ++i) {
        std::vector<float> d(4, 0.f);
        d[i % 4] = 1.f + i;
        object.add(10.f + 10 * i, 10.f + 5 * i, 1, d);
        frame.add(40.f + 12 * i, 30.f + 3 * i, 1, d);
    }
    const cv::Point corners[4] = {{0, 0}, {100, 0}, {100, 80}, {0, 80}};
    cv::Point found[4];
    EXPECT_EQ(locatePlanarObject(object.points, object.descriptors, frame.points, frame.descriptors, corners, found),
              0);
}

TEST(ProjectCorners, OnlyAnOutlineACameraCanSeeIsLocatedWhereverItLies) {
    const cv::Point corners[4] = {{0, 0}, {100, 0}, {100, 80}, {0, 80}};
    struct Fit {
        const char* what;
        cv::Matx33d h;
        int located;
    };
    const Fit fits[] = {
        {"shifted", {1, 0, 5.4, 0, 1, -2.6, 0, 0, 1}, 1},
        {"small, in the far corner of the frame", {0.45, 0, 590, 0, 0.45, 440, 0, 0, 1}, 1},
        {"upside down", {-1, 0, 600, 0, -1, 400, 0, 0, 1}, 1},
        {"seen at a slant", {1, 0, 300, 0, 1, 200, 0.003, 0, 1}, 1},
        {"across the horizon", {1, 0, 0, 0, 1, 0, -0.02, 0, 1}, 0},
        {"a corner on the horizon", {1, 0, 0, 0, 1, 0, -0.01, 0, 1}, 0},
        {"a corner near the horizon", {1, 0, 0, 0, 1, 0, -0.0099, 0, 1}, 0},
        {"behind the camera", {1, 0, 0, 0, 1, 0, 0, 0, -1}, 0},
        {"beyond any picture", {1, 0, 2e6, 0, 1, 0, 0, 0, 1}, 0},
        {"squeezed to a line", {1, 0, 300, 0, 1e-4, 200, 0, 0, 1}, 0},
        {"folded over by its slant", {1, 0, 300, 0, 1, 200, 0, 0.1, 1}, 0},
        {"sheared flat", {1, 20, 300, 0, 1, 200, 0, 0, 1}, 0},
        {"mirrored", {-1, 0, 300, 0, 1, 200, 0, 0, 1}, 0},
        {"a dot", {0.05, 0, 300, 0, 0.05, 200, 0, 0, 1}, 0},
        {"rank one", {1, 2, 300, 2, 4, 200, 0, 0, 1}, 0},
    };
    for (const Fit& fit : fits) {
        cv::Point found[4] = {{-9, -9}, {-9, -9}, {-9, -9}, {-9, -9}};
        EXPECT_EQ(projectObjectCorners(cv::Mat(fit.h), corners, found), fit.located) << fit.what;
        if (!fit.located) {
            EXPECT_EQ(found[0], cv::Point(-9, -9)) << fit.what;
        }
    }
    cv::Point found[4];
    ASSERT_EQ(projectObjectCorners(cv::Mat(fits[0].h), corners, found), 1);
    EXPECT_EQ(found[2], cv::Point(105, 77));
    EXPECT_EQ(projectObjectCorners(cv::Mat(), corners, found), 0);
}

}  // namespace
