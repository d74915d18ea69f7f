#include "objects/surf_match.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace {

// Key points with chosen signs and descriptors with chosen values, for the matcher.
struct Features {
    std::vector<SurfPoint> points;
    cv::Mat descriptors = cv::Mat(0, 4, CV_32F);

    Features& add(float x, float y, int laplacian, std::vector<float> d) {
        SurfPoint p;
        p.pt = cv::Point2f(x, y), p.laplacian = laplacian, p.size = 15;
        points.push_back(p);
        descriptors.push_back(cv::Mat(d).reshape(1, 1));
        return *this;
    }
};

TEST(DescriptorDistance, IsTheSquaredDistanceOrAPartialSumBeyondTheLimit) {
    const float a[8] = {1, 2, 3, 4, 5, 6, 7, 8}, b[8] = {0, 2, 3, 4, 5, 6, 7, 11};
    // After the first group the sum is 1: a sum equal to the limit goes on, one above it stops there.
    for (const auto& [limit, length, distance] : {std::tuple{100.0, 8, 10.0}, {1.0, 8, 10.0}, {0.5, 8, 1.0}, {100.0, 0, 0.0}, {100.0, -4, 0.0}})
        EXPECT_DOUBLE_EQ(compareSURFDescriptors(a, b, limit, length), distance) << limit << " " << length;
}

TEST(NearestNeighbour, RatioTestLaplacianSignAndExactlySixTenthsRejectedAndPairsKeepDuplicates) {
    Features frame, none, exact, closer;
    frame.add(0, 0, 1, {0, 0, 0, 0}).add(1, 0, 1, {0, 0, 0, 10}).add(2, 0, -1, {0, 0, 0, 0.1f});
    // Squared distances 3 and 5: 0.6 * 5 rounds to exactly 3 in doubles; 5.25: 3 < 3.15.
    exact.add(0, 0, 1, {1, 1, 1, 0}).add(0, 0, 1, {2, 1, 0, 0});
    closer.add(0, 0, 1, {1, 1, 1, 0}).add(0, 0, 1, {2, 1, 0, 0.5f});
    const float one[4] = {0, 0, 0, 1}, zero[4] = {0, 0, 0, 0};
    const struct {
        const float* query;
        int laplacian;
        const Features& in;
        int found;
    } cases[] = {{one, 1, frame, 0},  // 1 against 81: accepted
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
TEST(LocatePlanarObject, FourSpreadPairsLocateItThreeOrCollinearOnesDoNot) {
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
}

TEST(ProjectCorners, OnlyAnOutlineACameraCanSeeIsLocatedWhereverItLies) {
    const cv::Point corners[4] = {{0, 0}, {100, 0}, {100, 80}, {0, 80}};
    const struct {
        const char* what;
        cv::Matx33d h;
        int located;
    } fits[] = {
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
    for (const auto& fit : fits) {
        cv::Point found[4] = {{-9, -9}, {-9, -9}, {-9, -9}, {-9, -9}};
        EXPECT_EQ(projectObjectCorners(cv::Mat(fit.h), corners, found), fit.located) << fit.what;
        EXPECT_EQ(found[0] == cv::Point(-9, -9), !fit.located) << fit.what;
        EXPECT_TRUE(&fit != fits || found[2] == cv::Point(105, 77)) << found[2];
    }
    cv::Point found[4];
    EXPECT_EQ(projectObjectCorners(cv::Mat(), corners, found), 0);
}

}  // namespace
