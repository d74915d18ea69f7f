#include "stereo/graphcut.h"

#include <gtest/gtest.h>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <climits>
#include <functional>
#include <random>

#include "stereo/stereo.h"
#include "tests/support/robot_test.h"

namespace {

cv::Mat randomPicture(int width, int height, std::mt19937& random) {
    cv::Mat picture(height, width, CV_8UC1);
    std::uniform_int_distribution<int> grey(0, 255);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) picture.at<uchar>(y, x) = uchar(grey(random));
    return picture;
}

// Random labels, then later claims of an already matched right pixel dropped.
gc::Labeling randomLabeling(const gc::Matcher& matcher, std::mt19937& random) {
    const int w = matcher.width(), h = matcher.height();
    std::uniform_int_distribution<int> pick(matcher.minDisparity() - 1, matcher.maxDisparity());
    gc::Labeling labels(size_t(w) * h, gc::kOccluded);
    std::vector<char> taken(labels.size(), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int d = pick(random);
            if (d < matcher.minDisparity() || !matcher.hasAssignment(x, y, d)) continue;
            if (taken[y * w + x - d]) continue;
            taken[y * w + x - d] = 1;
            labels[y * w + x] = d;
        }
    return labels;
}

// The lowest energy among all configurations one alpha-expansion of current
// can reach: each pixel keeps its disparity, becomes occluded or takes alpha;
// a pixel already at alpha stays there.
std::int64_t bestExpansionByEnumeration(const gc::Matcher& matcher, const gc::Labeling& current,
                                        int alpha) {
    const int w = matcher.width();
    gc::Labeling trial = current;
    std::vector<int> rightUse(current.size(), 0);
    std::int64_t best = INT64_MAX;
    std::function<void(size_t)> visit = [&](size_t p) {
        if (p == current.size()) {
            best = std::min(best, matcher.energy(trial));
            return;
        }
        std::vector<int> options;
        const int x = int(p) % w, y = int(p) / w;
        if (current[p] == alpha) {
            options = {alpha};
        } else {
            options.push_back(gc::kOccluded);
            if (current[p] != gc::kOccluded) options.push_back(current[p]);
            if (matcher.hasAssignment(x, y, alpha)) options.push_back(alpha);
        }
        for (int d : options) {
            int* right = d == gc::kOccluded ? nullptr : &rightUse[p - d];
            if (right && *right) continue;  // that right pixel is matched already
            if (right) *right = 1;
            trial[p] = d;
            visit(p + 1);
            if (right) *right = 0;
        }
        trial[p] = current[p];
    };
    visit(0);
    return best;
}

GCState tinyState(int minDisparity, int disparities) {
    GCState state = createStereoGCState(disparities, 2);
    state.minDisparity = minDisparity;
    return state;
}

// Shortest augmenting paths on a capacity matrix; node 0 the source, the last the sink.
long referenceMaxflow(std::vector<std::vector<long>> capacity) {
    const size_t n = capacity.size();
    long flow = 0;
    for (;;) {
        std::vector<int> from(n, -1);
        std::vector<size_t> queue{0};
        from[0] = 0;
        for (size_t head = 0; head < queue.size(); ++head)
            for (size_t j = 0; j < n; ++j)
                if (from[j] < 0 && capacity[queue[head]][j] > 0) {
                    from[j] = int(queue[head]);
                    queue.push_back(j);
                }
        if (from[n - 1] < 0) return flow;
        long sent = LONG_MAX;
        for (size_t j = n - 1; j != 0; j = from[j]) sent = std::min(sent, capacity[from[j]][j]);
        for (size_t j = n - 1; j != 0; j = from[j]) {
            capacity[from[j]][j] -= sent;
            capacity[j][from[j]] += sent;
        }
        flow += sent;
    }
}

TEST(GraphCutMoves, MinimumCutOfRandomSlotGraphsMatchesAReference) {
    std::mt19937 random(13);
    for (int trial = 0; trial < 300; ++trial) {
        const int n = 1 + int(random() % 16), sink = n + 1;
        gc::SlotGraph<int> graph;
        graph.reset(n);
        std::vector<std::vector<long>> capacity(n + 2, std::vector<long>(n + 2, 0));
        std::vector<std::vector<char>> used(n + 1, std::vector<char>(6, 0));
        auto cap = [&] { return random() % 3 == 0 ? 0 : int(random() % 20); };
        for (int arcs = 6 * n; arcs > 0; --arcs) {
            const int i = 1 + int(random() % n), j = 1 + int(random() % n), slot = int(random() % 6);
            const int back = gc::SlotGraph<int>::reverseSlot(slot);
            if (i == j || used[i][slot] || used[j][back]) continue;
            used[i][slot] = used[j][back] = 1;
            const int there = cap(), back_ = cap();
            graph.setArc(i, slot, j, there);
            graph.setArc(j, back, i, back_);
            capacity[i][j] += there;
            capacity[j][i] += back_;
        }
        for (int i = 1; i <= n; ++i) {
            const int excess = int(random() % 41) - 20;
            graph.setTerminal(i, excess);
            (excess > 0 ? capacity[0][i] : capacity[i][sink]) += std::abs(excess);
        }
        const long flow = graph.maxflow();
        ASSERT_EQ(flow, referenceMaxflow(capacity)) << "trial " << trial;
        long cut = 0;  // what the returned sides cut must equal the flow
        auto side = [&](int i) { return i == 0 ? false : i == sink ? true : graph.onSinkSide(i); };
        for (int i = 0; i <= sink; ++i)
            for (int j = 0; j <= sink; ++j) cut += !side(i) && side(j) ? capacity[i][j] : 0;
        ASSERT_EQ(cut, flow) << "trial " << trial;
    }
}

TEST(GraphCutMoves, EachExpansionReachesTheBestOfAllExpansionLabelings) {
    std::mt19937 random(7);
    struct Case {
        int width, height, minDisparity, disparities;
        int K, lambda1, lambda2;  // -1: from the pictures
    };
    const Case cases[] = {
        {4, 3, 0, 3, -1, -1, -1},        {4, 3, 0, 3, 900, 400, 100},
        {3, 3, -1, 3, 2000, 1500, 30},   {4, 3, 0, 3, 50, 700, 700},
        {3, 4, 0, 2, 3000, 20, 900},
    };
    for (const Case& c : cases) {
        for (int repeat = 0; repeat < 3; ++repeat) {
            GCState state = tinyState(c.minDisparity, c.disparities);
            state.K = c.K;
            state.lambda1 = c.lambda1;
            state.lambda2 = c.lambda2;
            // Smooth pictures give the strong penalty a chance too.
            cv::Mat left = randomPicture(c.width, c.height, random) / (repeat == 0 ? 1 : 40);
            cv::Mat right = randomPicture(c.width, c.height, random) / (repeat == 0 ? 1 : 40);
            gc::Matcher matcher(left, right, state);
            const gc::Labeling current = randomLabeling(matcher, random);
            ASSERT_TRUE(matcher.isConsistent(current));
            for (int alpha = matcher.minDisparity(); alpha <= matcher.maxDisparity(); ++alpha) {
                gc::Labeling proposal;
                const std::int64_t cutEnergy = matcher.expansionMove(current, alpha, proposal);
                SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height << " K " << c.K
                                                  << " repeat " << repeat << " alpha " << alpha);
                ASSERT_TRUE(matcher.isConsistent(proposal));
                EXPECT_EQ(cutEnergy, matcher.energy(proposal));
                EXPECT_EQ(cutEnergy, bestExpansionByEnumeration(matcher, current, alpha));
            }
        }
    }
}

TEST(GraphCutMoves, CutEnergyMatchesLabelingEnergyOnLargerPictures) {
    std::mt19937 random(11);
    const cv::Mat right = randomPicture(40, 30, random);
    cv::Mat left;
    cv::blur(right, left, cv::Size(3, 1));  // not an exact shift: many ties and near ties
    GCState automatic = tinyState(-2, 8);
    // Weights this large make cuts that no longer fit an int.
    GCState huge = automatic;
    huge.K = 900000;
    huge.lambda1 = 700000;
    huge.lambda2 = 300000;
    for (const GCState& state : {automatic, huge}) {
        gc::Matcher matcher(left, right, state);
        gc::Labeling labels = randomLabeling(matcher, random);
        for (int alpha = -2; alpha <= 5; ++alpha) {
            gc::Labeling proposal;
            const std::int64_t cutEnergy = matcher.expansionMove(labels, alpha, proposal);
            ASSERT_TRUE(matcher.isConsistent(proposal));
            EXPECT_EQ(cutEnergy, matcher.energy(proposal)) << "K " << state.K << " alpha " << alpha;
            EXPECT_LE(cutEnergy, matcher.energy(labels)) << "the move may always keep all";
            labels = proposal;
        }
    }
}

TEST(GraphCutMoves, EnergyNeverRisesBetweenMoves) {
    std::mt19937 random(3);
    const cv::Mat right = randomPicture(48, 32, random);
    cv::Mat left = right.clone();
    right(cv::Rect(0, 0, 44, 32)).copyTo(left(cv::Rect(4, 0, 44, 32)));
    cv::Mat noise = randomPicture(48, 32, random) / 16;
    left += noise;
    cv::Mat dispLeft, dispRight;
    GCReport report;
    ASSERT_TRUE(findStereoCorrespondenceGC(left, right, dispLeft, dispRight,
                                           createStereoGCState(8, 3), nullptr, &report));
    ASSERT_EQ(report.energies.size(), size_t(report.movesTried) + 1);
    EXPECT_GT(report.movesAccepted, 0);
    for (size_t i = 1; i < report.energies.size(); ++i)
        EXPECT_LE(report.energies[i], report.energies[i - 1]) << "move " << i;
    EXPECT_LT(report.energies.back(), report.energies.front());
}

// A random-dot pair: background at disparity 2, a square at disparity 6.
struct Stereogram {
    cv::Mat left, right, truth;  // truth: CV_32S disparity of every left pixel
};

Stereogram makeStereogram(std::mt19937& random) {
    constexpr int kWidth = 80, kHeight = 60;
    Stereogram s;
    s.right = randomPicture(kWidth, kHeight, random);
    s.truth = cv::Mat(kHeight, kWidth, CV_32S, cv::Scalar(2));
    s.truth(cv::Rect(30, 20, 24, 20)).setTo(6);
    s.left.create(kHeight, kWidth, CV_8UC1);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const int xr = x - s.truth.at<int>(y, x);
            s.left.at<uchar>(y, x) = xr >= 0 ? s.right.at<uchar>(y, xr) : uchar(random() & 255);
        }
    return s;
}

TEST(GraphCutStereo, RecoversTheDisparityStepOfARandomDotPair) {
    std::mt19937 random(5);
    const Stereogram s = makeStereogram(random);
    cv::Mat dispLeft, dispRight;
    std::string error;
    ASSERT_TRUE(findStereoCorrespondenceGC(s.left, s.right, dispLeft, dispRight,
                                           createStereoGCState(8, 2), &error))
        << error;
    int counted = 0, right = 0;
    for (int y = 0; y < s.left.rows; ++y)
        for (int x = 8; x < s.left.cols; ++x) {  // the left border has no partner
            const bool nearStep = (x >= 26 && x < 34) || (x >= 50 && x < 60);
            if (nearStep && y >= 18 && y < 42) continue;  // the occlusion band
            ++counted;
            right += dispLeft.at<short>(y, x) == -s.truth.at<int>(y, x);
        }
    EXPECT_GT(right, counted * 98 / 100) << right << " of " << counted;
}

TEST(GraphCutStereo, RefusesUnusableInputWithAReason) {
    const cv::Mat small(20, 30, CV_8UC1, cv::Scalar(9));
    const cv::Mat other(20, 31, CV_8UC1, cv::Scalar(9));
    cv::Mat l, r;
    std::string error;
    EXPECT_FALSE(findStereoCorrespondenceGC(small, other, l, r, GCState(), &error));
    EXPECT_NE(error.find("differ in size"), std::string::npos) << error;
    EXPECT_FALSE(findStereoCorrespondenceGC(cv::Mat(), small, l, r, GCState(), &error));
    const cv::Mat wide(small.size(), CV_16UC1, cv::Scalar(9));
    EXPECT_FALSE(findStereoCorrespondenceGC(wide, wide, l, r, GCState(), &error));
    GCState radius2;
    radius2.interactionRadius = 2;
    EXPECT_FALSE(findStereoCorrespondenceGC(small, small, l, r, radius2, &error));
    GCState none;
    none.numberOfDisparities = 0;
    EXPECT_FALSE(findStereoCorrespondenceGC(small, small, l, r, none, &error));
    const cv::Mat huge(3000, 4000, CV_8UC1, cv::Scalar(0));
    EXPECT_FALSE(findStereoCorrespondenceGC(huge, huge, l, r, GCState(), &error));
    EXPECT_NE(error.find("too large"), std::string::npos) << error;
}

// Aloe at 160 x 120 (disparities 0..26): a real scene with occlusions.
TEST(GraphCutStereo, MostOfTheAloePairIsMatchedWithinOnePixel) {
    cv::Mat left = cv::imread(robotest::testData("stereo/aloeL_320x240.png"), cv::IMREAD_GRAYSCALE);
    cv::Mat right = cv::imread(robotest::testData("stereo/aloeR_320x240.png"), cv::IMREAD_GRAYSCALE);
    cv::Mat truth = cv::imread(robotest::testData("stereo/aloeGT_320x240.png"), cv::IMREAD_GRAYSCALE);
    ASSERT_FALSE(left.empty() || right.empty() || truth.empty());
    const cv::Size half(160, 120);
    cv::resize(left, left, half, 0, 0, cv::INTER_AREA);
    cv::resize(right, right, half, 0, 0, cv::INTER_AREA);
    cv::resize(truth, truth, half, 0, 0, cv::INTER_NEAREST);
    constexpr double kTruthScale = 160.0 / 1282.0;  // the truth is in full-size pixels

    cv::Mat dispLeft, dispRight, semiGlobal;
    ASSERT_TRUE(findStereoCorrespondenceGC(left, right, dispLeft, dispRight,
                                           createStereoGCState(27, 2)));
    cv::StereoSGBM::create(0, 32, 3)->compute(left, right, semiGlobal);
    int known = 0, badOrMissing = 0, semiGlobalBadOrMissing = 0;
    for (int y = 0; y < truth.rows; ++y)
        for (int x = 0; x < truth.cols; ++x) {
            if (truth.at<uchar>(y, x) == 0) continue;
            ++known;
            const double expected = truth.at<uchar>(y, x) * kTruthScale;
            const short d = dispLeft.at<short>(y, x);
            badOrMissing += d == kGCOccluded || std::abs(-d - expected) > 1;
            const short s = semiGlobal.at<short>(y, x);  // sixteenths, negative: none
            semiGlobalBadOrMissing += s < 0 || std::abs(s / 16.0 - expected) > 1;
        }
    ASSERT_GT(known, 10000);
    EXPECT_LT(double(badOrMissing) / known, 0.26);
    EXPECT_LT(badOrMissing, semiGlobalBadOrMissing) << "better than OpenCV's semi-global matcher";
}

}  // namespace
