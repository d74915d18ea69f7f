#include "blobs/blobs.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

namespace {

constexpr uchar kDark = 0;
constexpr uchar kBright = 255;
constexpr int kThreshold = 100;

// Labels with the blob set's own settings: frame bright, moments on.
CBlobResult labelled(const cv::Mat& picture, const cv::Mat& mask = cv::Mat()) {
    return CBlobResult(picture, mask, kThreshold, true);
}

std::vector<CBlob> blobsOf(CBlobResult& set) {
    std::vector<CBlob> blobs;
    for (int i = 0; i < set.BlobCount(); ++i) blobs.push_back(*set.GetBlob(i));
    return blobs;
}

// Labelling straight into a vector, as the library's callers may do.
struct Labelling {
    std::vector<CBlob*> blobs;
    ~Labelling() {
        for (CBlob* b : blobs) delete b;
    }
};

TEST(BlobLabelling, BrightPictureWithBrightFrameIsOneExteriorBlob) {
    const cv::Mat picture(7, 11, CV_8UC1, cv::Scalar(kBright));
    Labelling result;
    ASSERT_TRUE(BlobAnalysis(picture, kThreshold, cv::Mat(), true, true, result.blobs));
    ASSERT_EQ(result.blobs.size(), 1u);
    const CBlob& exterior = *result.blobs[0];
    EXPECT_EQ(exterior.label, 0);
    EXPECT_EQ(exterior.area, 77);
    EXPECT_EQ(exterior.exterior, 1);
    EXPECT_EQ(exterior.parent, -1);
    EXPECT_DOUBLE_EQ(exterior.mean, kBright);
    EXPECT_DOUBLE_EQ(exterior.stdDev, 0);
}

TEST(BlobLabelling, BrightPictureWithDarkFrameLeavesAnEmptyExterior) {
    const cv::Mat picture(7, 11, CV_8UC1, cv::Scalar(kBright));
    Labelling result;
    ASSERT_TRUE(BlobAnalysis(picture, kThreshold, cv::Mat(), false, true, result.blobs));
    ASSERT_EQ(result.blobs.size(), 2u);
    EXPECT_EQ(result.blobs[0]->area, 0);
    EXPECT_DOUBLE_EQ(result.blobs[0]->sumX, 0);  // no pixels, no centre
    const CBlob& picturesBlob = *result.blobs[1];
    EXPECT_EQ(picturesBlob.area, 77);
    EXPECT_EQ(picturesBlob.parent, 0);
    EXPECT_EQ(picturesBlob.exterior, 1);
    EXPECT_DOUBLE_EQ(picturesBlob.sumX, 5);
    EXPECT_DOUBLE_EQ(picturesBlob.sumY, 3);
}

TEST(BlobLabelling, DarkSquareInsideBrightPicture) {
    cv::Mat picture(10, 10, CV_8UC1, cv::Scalar(200));
    picture(cv::Rect(4, 3, 3, 3)).setTo(cv::Scalar(kDark));
    picture.at<uchar>(4, 5) = 30;  // still dark, changes the grey statistics
    CBlobResult set = labelled(picture);
    ASSERT_EQ(set.BlobCount(), 2);
    const CBlob& exterior = *set.GetBlob(0);
    EXPECT_EQ(exterior.area, 91);
    EXPECT_DOUBLE_EQ(exterior.mean, 200);
    const CBlob& square = *set.GetBlob(1);
    EXPECT_EQ(square.area, 9);
    EXPECT_EQ(square.parent, 0);
    EXPECT_EQ(square.exterior, 0);
    EXPECT_DOUBLE_EQ(square.perimeter, 12);
    EXPECT_DOUBLE_EQ(square.minX, 4);
    EXPECT_DOUBLE_EQ(square.maxX, 7);
    EXPECT_DOUBLE_EQ(square.minY, 3);
    EXPECT_DOUBLE_EQ(square.maxY, 6);
    EXPECT_DOUBLE_EQ(square.sumX, 5);
    EXPECT_DOUBLE_EQ(square.sumY, 4);
    EXPECT_NEAR(square.sumXX, 2.0 / 3.0, 1e-12);
    EXPECT_NEAR(square.sumYY, 2.0 / 3.0, 1e-12);
    EXPECT_DOUBLE_EQ(square.sumXY, 0);
    EXPECT_NEAR(square.mean, 30.0 / 9.0, 1e-12);
    EXPECT_NEAR(square.stdDev, std::sqrt((900.0 * 9 - 900.0) / (8 * 9)), 1e-9);
}

TEST(BlobLabelling, CornerNeighboursJoinInBothColours) {
    cv::Mat picture(8, 8, CV_8UC1, cv::Scalar(kBright));
    picture.at<uchar>(1, 1) = kDark;  // a dark pair touching at a corner
    picture.at<uchar>(2, 2) = kDark;
    picture(cv::Rect(4, 3, 4, 4)).setTo(cv::Scalar(kDark));  // a bright pair inside dark
    picture.at<uchar>(4, 5) = kBright;
    picture.at<uchar>(5, 6) = kBright;
    CBlobResult set = labelled(picture);
    std::vector<CBlob> blobs = blobsOf(set);
    ASSERT_EQ(blobs.size(), 4u);
    EXPECT_EQ(blobs[1].area, 2);
    EXPECT_DOUBLE_EQ(blobs[1].minX, 1);
    EXPECT_DOUBLE_EQ(blobs[1].maxY, 3);
    const CBlob& darkBlock = blobs[2];
    EXPECT_EQ(darkBlock.area, 14);
    const CBlob& brightPair = blobs[3];
    EXPECT_EQ(brightPair.area, 2);
    EXPECT_EQ(brightPair.parent, darkBlock.label);
    EXPECT_EQ(brightPair.exterior, 0);
}

TEST(BlobLabelling, ExteriorMeansTouchingTheEdgeOfThePicture) {
    cv::Mat picture(8, 9, CV_8UC1, cv::Scalar(kBright));
    picture.at<uchar>(0, 4) = kDark;               // one pixel on the top row
    picture(cv::Rect(5, 5, 3, 2)).setTo(cv::Scalar(kDark));  // one pixel short of right and bottom
    picture.at<uchar>(3, 0) = kDark;               // on the left edge
    CBlobResult set = labelled(picture);
    ASSERT_EQ(set.BlobCount(), 4);
    EXPECT_EQ(set.GetBlob(1)->exterior, 1);
    EXPECT_EQ(set.GetBlob(2)->exterior, 1);
    EXPECT_EQ(set.GetBlob(3)->exterior, 0);
    EXPECT_DOUBLE_EQ(set.GetBlob(3)->minX, 5);

    cv::Mat mask(8, 9, CV_8UC1, cv::Scalar(255));
    mask.at<uchar>(4, 6) = 0;  // just above the block
    CBlobResult masked = labelled(picture, mask);
    ASSERT_EQ(masked.BlobCount(), 4);
    EXPECT_EQ(masked.GetBlob(3)->exterior, 1);
}

TEST(BlobLabelling, RingHoleIsItsOwnBlobInsideTheRing) {
    cv::Mat picture(12, 12, CV_8UC1, cv::Scalar(kBright));
    picture(cv::Rect(2, 2, 8, 7)).setTo(cv::Scalar(kDark));
    picture(cv::Rect(4, 4, 4, 3)).setTo(cv::Scalar(kBright));
    CBlobResult set = labelled(picture);
    std::vector<CBlob> blobs = blobsOf(set);
    ASSERT_EQ(blobs.size(), 3u);
    const CBlob& ring = blobs[1];
    const CBlob& hole = blobs[2];
    EXPECT_EQ(ring.parent, 0);
    EXPECT_EQ(hole.parent, ring.label);
    EXPECT_EQ(ring.area, 8 * 7 - 4 * 3);
    EXPECT_EQ(hole.area, 4 * 3);
    EXPECT_DOUBLE_EQ(hole.minX, 4);
    EXPECT_DOUBLE_EQ(hole.maxX, 8);
    EXPECT_EQ(blobs[0].area, 144 - 56);
}

TEST(BlobLabelling, MergedRegionsKeepTheLowerLabelAndCreationOrder) {
    // A dark U: both arms start as regions of their own and meet at the bottom;
    // a later square keeps the number it was given.
    cv::Mat picture(12, 12, CV_8UC1, cv::Scalar(kBright));
    picture(cv::Rect(1, 1, 2, 6)).setTo(cv::Scalar(kDark));
    picture(cv::Rect(6, 1, 2, 6)).setTo(cv::Scalar(kDark));
    picture(cv::Rect(1, 6, 7, 2)).setTo(cv::Scalar(kDark));
    picture(cv::Rect(9, 9, 2, 2)).setTo(cv::Scalar(kDark));
    CBlobResult set = labelled(picture);
    std::vector<CBlob> blobs = blobsOf(set);
    ASSERT_EQ(blobs.size(), 3u);
    const CBlob& u = blobs[1];
    EXPECT_EQ(u.label, 1);
    EXPECT_EQ(u.area, 2 * 6 * 2 + 7 * 2 - 4);
    EXPECT_DOUBLE_EQ(u.maxX, 8);
    EXPECT_DOUBLE_EQ(u.maxY, 8);
    EXPECT_EQ(blobs[2].label, 3);  // the right arm's number went with it
    EXPECT_EQ(blobs[2].area, 4);
}

TEST(BlobLabelling, ViewCoordinatesAreRelativeToItsCorner) {
    cv::Mat picture(40, 50, CV_8UC1, cv::Scalar(kBright));
    picture(cv::Rect(23, 17, 4, 2)).setTo(cv::Scalar(kDark));
    const cv::Mat view = picture(cv::Rect(20, 15, 15, 10));
    CBlobResult set = labelled(view);
    ASSERT_EQ(set.BlobCount(), 2);
    const CBlob& bar = *set.GetBlob(1);
    EXPECT_DOUBLE_EQ(bar.minX, 3);
    EXPECT_DOUBLE_EQ(bar.maxX, 7);
    EXPECT_DOUBLE_EQ(bar.minY, 2);
    EXPECT_DOUBLE_EQ(bar.maxY, 4);
    EXPECT_DOUBLE_EQ(bar.sumX, 4.5);
    EXPECT_DOUBLE_EQ(bar.sumY, 2.5);
    for (const cv::Point& p : bar.edges) {
        EXPECT_GE(p.x, 2);
        EXPECT_LE(p.x, 7);
        EXPECT_GE(p.y, 2);
        EXPECT_LE(p.y, 4);
    }
    EXPECT_EQ(set.GetBlob(0)->area, 150 - 8);
}

TEST(BlobLabelling, MaskIsReadFromItsOwnCornerAndHidesPixels) {
    cv::Mat picture(30, 30, CV_8UC1, cv::Scalar(kBright));
    picture(cv::Rect(12, 12, 4, 4)).setTo(cv::Scalar(kDark));
    const cv::Mat view = picture(cv::Rect(10, 10, 10, 10));
    cv::Mat mask(30, 30, CV_8UC1, cv::Scalar(255));
    mask.at<uchar>(2, 2) = 0;  // the view's pixel (2, 2): a corner of the square
    mask.at<uchar>(12, 12) = 0;  // the whole picture's (12, 12): outside the view's square
    CBlobResult set = labelled(view, mask);
    ASSERT_EQ(set.BlobCount(), 2);
    EXPECT_EQ(set.GetBlob(1)->area, 15);
    EXPECT_DOUBLE_EQ(set.GetBlob(1)->minX, 2);
    // The masked corner joined the frame colour; masked pixels do not count.
    EXPECT_EQ(set.GetBlob(0)->area, 100 - 15 - 1);
}

TEST(BlobLabelling, MaskedPixelsEnclosedByARegionAreNotTakenFromTheExterior) {
    cv::Mat picture(10, 10, CV_8UC1, cv::Scalar(kBright));
    picture(cv::Rect(3, 3, 3, 3)).setTo(cv::Scalar(kDark));
    cv::Mat mask(10, 10, CV_8UC1, cv::Scalar(255));
    mask.at<uchar>(4, 4) = 0;
    CBlobResult set = labelled(picture, mask);
    std::vector<CBlob> blobs = blobsOf(set);
    ASSERT_EQ(blobs.size(), 3u);
    EXPECT_EQ(blobs[0].area, 91);
    EXPECT_EQ(blobs[1].area, 8);
    EXPECT_EQ(blobs[2].area, 1);
    EXPECT_EQ(blobs[2].parent, blobs[1].label);
}

TEST(BlobLabelling, RejectedInputsAppendNothing) {
    const cv::Mat grey(8, 8, CV_8UC1, cv::Scalar(kBright));
    CBlob sentinel;
    const auto rejected = [&](const cv::Mat& source, const cv::Mat& mask) {
        std::vector<CBlob*> blobs{&sentinel};
        const bool ok = BlobAnalysis(source, kThreshold, mask, true, true, blobs);
        return !ok && blobs.size() == 1 && blobs[0] == &sentinel;
    };
    EXPECT_TRUE(rejected(cv::Mat(), cv::Mat()));
    EXPECT_TRUE(rejected(cv::Mat(8, 8, CV_8UC3, cv::Scalar::all(kBright)), cv::Mat()));
    EXPECT_TRUE(rejected(cv::Mat(8, 8, CV_16UC1, cv::Scalar(kBright)), cv::Mat()));
    EXPECT_TRUE(rejected(grey(cv::Rect(2, 2, 0, 4)), cv::Mat()));
    EXPECT_TRUE(rejected(grey, cv::Mat(8, 8, CV_8UC3, cv::Scalar::all(255))));
    EXPECT_TRUE(rejected(grey, cv::Mat(8, 9, CV_8UC1, cv::Scalar(255))));
    EXPECT_TRUE(rejected(grey(cv::Rect(1, 1, 4, 4)), cv::Mat(4, 4, CV_8UC1, cv::Scalar(255))));

    EXPECT_THROW(CBlobResult(cv::Mat(), cv::Mat(), kThreshold, true), int);
    try {
        CBlobResult(grey, cv::Mat(3, 3, CV_8UC1), kThreshold, true);
        ADD_FAILURE() << "a mask of another size was accepted";
    } catch (int code) {
        EXPECT_EQ(code, 1001);
    }
}

TEST(BlobLabelling, NewBlobsFollowWhatTheVectorAlreadyHeld) {
    cv::Mat picture(6, 6, CV_8UC1, cv::Scalar(kBright));
    picture.at<uchar>(2, 2) = kDark;
    CBlob* earlier = new CBlob;
    earlier->label = 77;
    Labelling result;
    result.blobs.push_back(earlier);
    ASSERT_TRUE(BlobAnalysis(picture, kThreshold, cv::Mat(), true, false, result.blobs));
    ASSERT_EQ(result.blobs.size(), 3u);
    EXPECT_EQ(result.blobs[0]->label, 77);
    EXPECT_EQ(result.blobs[1]->label, 0);
    EXPECT_EQ(result.blobs[2]->area, 1);
}

TEST(BlobLabelling, ThresholdOutsideTheGreyRangeIsClamped) {
    const cv::Mat picture(5, 5, CV_8UC1, cv::Scalar(kBright));
    CBlobResult nothingBright(picture, cv::Mat(), 300, false);
    ASSERT_EQ(nothingBright.BlobCount(), 2);
    EXPECT_EQ(nothingBright.GetBlob(1)->area, 25);
    CBlobResult allBright(cv::Mat(5, 5, CV_8UC1, cv::Scalar(0)), cv::Mat(), -4, false);
    ASSERT_EQ(allBright.BlobCount(), 2);  // 0 is not above 0
    CBlobResult wrapped(picture, cv::Mat(), 256 + 100, false);
    EXPECT_EQ(wrapped.BlobCount(), 2);  // not taken as 100
}

TEST(BlobLabelling, ExternPerimeterNeverReadsBeyondTheCountImage) {
    cv::Mat counts(4, 6, CV_8UC1, cv::Scalar(1));
    // A run reaching the last grid column would read one count past the row.
    EXPECT_DOUBLE_EQ(GetExternPerimeter(2, 5, 2, 6, 4, &counts), 1 + 4);
    EXPECT_DOUBLE_EQ(GetExternPerimeter(-3, 8, 2, 6, 4, &counts), 1 + 1 + 5);
    EXPECT_DOUBLE_EQ(GetExternPerimeter(2, 3, 1, 6, 4, nullptr), -1);
}

TEST(BlobLabelling, LargePictureIsLabelled) {
    cv::Mat picture(3000, 4000, CV_8UC1, cv::Scalar(kBright));
    cv::circle(picture, cv::Point(2000, 1500), 1000, cv::Scalar(kDark), cv::FILLED);
    cv::Mat mask(3000, 4000, CV_8UC1, cv::Scalar(255));
    CBlobResult set = labelled(picture, mask);
    ASSERT_EQ(set.BlobCount(), 2);
    EXPECT_EQ(set.GetBlob(1)->area, cv::countNonZero(picture == kDark));
    EXPECT_DOUBLE_EQ(set.GetBlob(1)->minX, 1000);
}

// The regions of one colour as OpenCV finds them: area and bounding box.
using Component = std::tuple<int, int, int, int, int>;

std::vector<Component> componentsOf(const cv::Mat& binary, int& touchingBorderArea, bool keepTouching) {
    cv::Mat labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(binary, labels, stats, centroids, 8, CV_32S);
    std::vector<Component> found;
    touchingBorderArea = 0;
    for (int i = 1; i < count; ++i) {
        const int x = stats.at<int>(i, cv::CC_STAT_LEFT), y = stats.at<int>(i, cv::CC_STAT_TOP);
        const int w = stats.at<int>(i, cv::CC_STAT_WIDTH), h = stats.at<int>(i, cv::CC_STAT_HEIGHT);
        const int area = stats.at<int>(i, cv::CC_STAT_AREA);
        const bool touching = x == 0 || y == 0 || x + w == binary.cols || y + h == binary.rows;
        if (touching) touchingBorderArea += area;
        if (!touching || keepTouching) found.emplace_back(area, x, y, x + w, y + h);
    }
    std::sort(found.begin(), found.end());
    return found;
}

Component componentOf(const CBlob& blob) {
    return {static_cast<int>(blob.area), static_cast<int>(blob.minX), static_cast<int>(blob.minY),
            static_cast<int>(blob.maxX), static_cast<int>(blob.maxY)};
}

TEST(BlobLabelling, RegionsMatchOpenCvComponentsOnRandomMasks) {
    std::mt19937 random(20261206);
    for (int trial = 0; trial < 400; ++trial) {
        const int width = std::uniform_int_distribution<int>(1, 40)(random);
        const int height = std::uniform_int_distribution<int>(1, 30)(random);
        const double darkShare = std::uniform_real_distribution<double>(0.05, 0.95)(random);
        cv::Mat mask(height, width, CV_8UC1);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                mask.at<uchar>(y, x) = std::bernoulli_distribution(darkShare)(random) ? kDark : kBright;
        SCOPED_TRACE(::testing::Message() << "trial " << trial << ", " << width << " x " << height);

        CBlobResult set = labelled(mask);
        std::vector<Component> dark, bright;
        ASSERT_GE(set.BlobCount(), 1);
        const CBlob& exterior = *set.GetBlob(0);
        for (int i = 1; i < set.BlobCount(); ++i) {
            const CBlob& blob = *set.GetBlob(i);
            (blob.mean > 127 ? bright : dark).push_back(componentOf(blob));
        }
        std::sort(dark.begin(), dark.end());
        std::sort(bright.begin(), bright.end());

        int darkTouching = 0, brightTouching = 0;
        EXPECT_EQ(dark, componentsOf(mask == kDark, darkTouching, true));
        EXPECT_EQ(bright, componentsOf(mask == kBright, brightTouching, false));
        EXPECT_EQ(exterior.area, brightTouching);
        EXPECT_EQ(exterior.label, 0);
        EXPECT_EQ(exterior.parent, -1);
    }
}

}  // namespace

// Every field of every record, edge points in order, folded into one number.
struct RecordDigest {
    std::uint64_t value = 1469598103934665603ULL;
    void add(long long v) {
        for (int i = 0; i < 8; ++i) value = (value ^ static_cast<std::uint64_t>((v >> (8 * i)) & 0xff)) * 1099511628211ULL;
    }
    void add(double v) { add(std::llround(v * 1e6)); }
    void add(const CBlob& b) {
        for (long long v : {b.label, b.exterior, b.parent}) add(v);
        for (double v : {b.area, b.perimeter, b.externPerimeter, b.sumX, b.sumY, b.sumXX, b.sumYY, b.sumXY, b.minX,
                         b.maxX, b.minY, b.maxY, b.mean, b.stdDev})
            add(v);
        for (const cv::Point& p : b.edges) add(static_cast<long long>(p.x) * 65536 + p.y);
        add(static_cast<long long>(b.edges.size()));
    }
};

// Grey pictures with masks, views, both frame colours, with and without
// moments: the records stay those the labeller has always given.
TEST(BlobLabelling, RecordsOfRandomPicturesStayTheSame) {
    std::mt19937 random(7);
    const auto draw = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    RecordDigest digest;
    for (int trial = 0; trial < 300; ++trial) {
        const int width = draw(1, 40), height = draw(1, 30), levels = draw(1, 3);
        cv::Mat picture(height, width, CV_8UC1), mask(height, width, CV_8UC1);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                picture.at<uchar>(y, x) = static_cast<uchar>(draw(0, levels) * 255 / levels);
                mask.at<uchar>(y, x) = draw(0, 5) == 0 ? 0 : 255;
            }
        const int left = draw(0, width - 1), top = draw(0, height - 1);
        const cv::Mat view = trial % 3 == 0 ? picture(cv::Rect(left, top, draw(1, width - left), draw(1, height - top)))
                                            : picture;
        Labelling result;
        ASSERT_TRUE(BlobAnalysis(view, kThreshold, trial % 2 ? mask : cv::Mat(), trial % 4 < 2, trial % 5 != 0,
                                 result.blobs));
        for (const CBlob* blob : result.blobs) digest.add(*blob);
    }
    EXPECT_EQ(digest.value, 16738033243760210485u);
}
