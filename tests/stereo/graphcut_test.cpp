#include "stereo/graphcut.h"

#include <gtest/gtest.h>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <functional>
#include <random>

#include "stereo/stereo.h"
#include "tests/support/robot_test.h"

namespace {

cv::Mat randomPicture(int width, int height, std::mt19937& random) {
    cv::Mat_<uchar> picture(height, width);
    for (uchar& grey : picture) grey = uchar(random());
    return std::move(picture);
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

// Larger pictures, with many ties and near ties, and weights that make cuts beyond an int.
TEST(GraphCutMoves, OnLargerPicturesEachMoveCostsWhatItsCutSaidAndNoneRaisesTheEnergy) {
    std::mt19937 random(11);
    const cv::Mat right = randomPicture(40, 30, random);
    cv::Mat left;
    cv::blur(right, left, cv::Size(3, 1));
    GCState automatic = tinyState(-2, 8), huge = automatic;
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
    cv::Mat shifted = right.clone(), dispLeft, dispRight;
    right(cv::Rect(0, 0, 36, 30)).copyTo(shifted(cv::Rect(4, 0, 36, 30)));
    GCReport report;
    ASSERT_TRUE(findStereoCorrespondenceGC(shifted + randomPicture(40, 30, random) / 16, right, dispLeft, dispRight,
                                           createStereoGCState(8, 3), nullptr, &report));
    ASSERT_EQ(report.energies.size(), size_t(report.movesTried) + 1);
    EXPECT_GT(report.movesAccepted, 0);
    for (size_t i = 1; i < report.energies.size(); ++i) EXPECT_LE(report.energies[i], report.energies[i - 1]) << "move " << i;
    EXPECT_LT(report.energies.back(), report.energies.front());
}

TEST(GraphCutStereo, RefusesUnusableInputWithAReasonAndMatchesMostOfTheAloePairWithinOnePixel) {
    const cv::Mat small(20, 30, CV_8UC1, cv::Scalar(9)), wide(small.size(), CV_16UC1, cv::Scalar(9));
    const cv::Mat huge(3000, 4000, CV_8UC1, cv::Scalar(0));
    GCState radius2, none;
    radius2.interactionRadius = 2;
    none.numberOfDisparities = 0;
    const struct {
        cv::Mat left, right;
        GCState state;
        const char* reason;
    } refused[] = {{small, cv::Mat(20, 31, CV_8UC1, cv::Scalar(9)), GCState(), "differ in size"},
                   {cv::Mat(), small, GCState(), ""}, {wide, wide, GCState(), ""}, {small, small, radius2, ""},
                   {small, small, none, ""}, {huge, huge, GCState(), "too large"}};
    for (const auto& r : refused) {
        cv::Mat l, rd;
        std::string error;
        EXPECT_FALSE(findStereoCorrespondenceGC(r.left, r.right, l, rd, r.state, &error)) << &r - refused;
        EXPECT_NE(error.find(r.reason), std::string::npos) << error;
    }

    // Aloe at 160 x 120 (disparities 0..26): a real scene with occlusions.
    cv::Mat left, right, truth;
    for (auto [picture, name] : {std::pair{&left, "L"}, {&right, "R"}, {&truth, "GT"}}) {
        const cv::Mat full = cv::imread(robotest::testData(std::string("stereo/aloe") + name + "_320x240.png"), cv::IMREAD_GRAYSCALE);
        ASSERT_FALSE(full.empty()) << name;
        cv::resize(full, *picture, cv::Size(160, 120), 0, 0, picture == &truth ? cv::INTER_NEAREST : cv::INTER_AREA);
    }
    constexpr double kTruthScale = 160.0 / 1282.0;  // the truth is in full-size pixels

    // The state's memory comes from a pair of another size first, as the depth mode reuses it.
    cv::Mat dispLeft, dispRight, semiGlobal;
    const GCState state = createStereoGCState(27, 2);
    ASSERT_TRUE(findStereoCorrespondenceGC(small, small, dispLeft, dispRight, state));
    ASSERT_TRUE(findStereoCorrespondenceGC(left, right, dispLeft, dispRight, state));
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
