#include "blobs/blobs.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr uchar kDark = 0;
constexpr uchar kBright = 255;
constexpr int kThreshold = 100;

TEST(BlobLabelling, RejectedInputsAppendNothingAndTheExternPerimeterNeverReadsBeyondTheCountImage) {
    const cv::Mat grey(8, 8, CV_8UC1, cv::Scalar(kBright)), none;
    const struct {
        cv::Mat source, mask;
    } rejected[] = {{none, none}, {cv::Mat(8, 8, CV_8UC3, cv::Scalar::all(kBright)), none},
                    {cv::Mat(8, 8, CV_16UC1, cv::Scalar(kBright)), none}, {grey(cv::Rect(2, 2, 0, 4)), none},
                    {grey, cv::Mat(8, 8, CV_8UC3, cv::Scalar::all(255))}, {grey, cv::Mat(8, 9, CV_8UC1, cv::Scalar(255))},
                    {grey(cv::Rect(1, 1, 4, 4)), cv::Mat(4, 4, CV_8UC1, cv::Scalar(255))}};
    for (const auto& r : rejected) {
        std::vector<CBlob> blobs(1);
        EXPECT_FALSE(BlobAnalysis(r.source, kThreshold, r.mask, true, true, blobs)) << r.source.size << r.mask.size;
        EXPECT_EQ(blobs.size(), 1u);
    }
    for (const cv::Mat& mask : {cv::Mat(3, 3, CV_8UC1), cv::Mat()}) {
        try {
            CBlobResult(mask.empty() ? mask : grey, mask, kThreshold, true);
            ADD_FAILURE() << "no error for " << mask.size;
        } catch (int code) {
            EXPECT_EQ(code, 1001);
        }
    }
    cv::Mat counts(4, 6, CV_8UC1, cv::Scalar(1));
    // A run reaching the last grid column would read one count past the row.
    EXPECT_DOUBLE_EQ(GetExternPerimeter(2, 5, 2, 6, 4, &counts), 1 + 4);
    EXPECT_DOUBLE_EQ(GetExternPerimeter(-3, 8, 2, 6, 4, &counts), 1 + 1 + 5);
    EXPECT_DOUBLE_EQ(GetExternPerimeter(2, 3, 1, 6, 4, nullptr), -1);
}

// What the labeller must report for every region, worked out independently on
// the picture framed by one bright pixel: OpenCV's 8-connected components of
// each colour give area and box; the outline is the count of pixel sides
// against other pixels, shortened by 2 - sqrt(2) wherever it cuts a corner
// diagonally (once for three of the region's pixels in a 2 x 2 window, twice
// for two of them touching only at a corner); the parent is the region just
// above the leftmost pixel of the top row; exterior means touching the edge.
int colourOf(double grey) { return grey > kThreshold ? 1 : 0; }

// A region's description, its parent named by its box (the frame's region by "exterior").
std::string describe(int colour, double area, std::array<int, 4> box, double perimeter, int exterior,
                     const std::string& parent) {
    return cv::format("%d a%g x%d-%d y%d-%d p%.6f x%d in %s", colour, area, box[0], box[2], box[1], box[3], perimeter,
                      exterior, parent.c_str());
}

std::string boxOf(int colour, std::array<int, 4> b) { return cv::format("%d:%d,%d,%d,%d", colour, b[0], b[1], b[2], b[3]); }

std::vector<std::string> referenceRegions(const cv::Mat& picture) {
    cv::Mat framed, labels[2], stats[2], centroids;  // [0] dark, [1] bright components
    cv::copyMakeBorder(picture, framed, 1, 1, 1, 1, cv::BORDER_CONSTANT, kBright);
    for (int colour : {0, 1})
        cv::connectedComponentsWithStats(colour ? framed > kThreshold : framed <= kThreshold, labels[colour],
                                         stats[colour], centroids, 8, CV_32S);
    const auto box = [&](int colour, int component) {
        const cv::Mat& s = stats[colour];
        const int x = s.at<int>(component, cv::CC_STAT_LEFT) - 1, y = s.at<int>(component, cv::CC_STAT_TOP) - 1;
        return std::array<int, 4>{x, y, x + s.at<int>(component, cv::CC_STAT_WIDTH),
                                  y + s.at<int>(component, cv::CC_STAT_HEIGHT)};
    };
    const int frame = labels[1].at<int>(0, 0);
    std::vector<std::string> regions;
    for (int colour : {0, 1})
        for (int c = 1; c < stats[colour].rows; ++c) {
            if (colour == 1 && c == frame) continue;
            const cv::Mat in = labels[colour] == c;
            int sides = 0, corners = 0;
            for (int y = 0; y + 1 < in.rows; ++y)
                for (int x = 0; x + 1 < in.cols; ++x) {
                    const bool a = in.at<uchar>(y, x), b = in.at<uchar>(y, x + 1);
                    const bool d = in.at<uchar>(y + 1, x), e = in.at<uchar>(y + 1, x + 1);
                    sides += (a != b) + (a != d);
                    corners += a + b + d + e == 3 ? 1 : a + b + d + e == 2 && a == e ? 2 : 0;
                }
            const auto b = box(colour, c);
            cv::Point top;
            cv::minMaxLoc(in.row(b[1] + 1), nullptr, nullptr, nullptr, &top);
            const int above = labels[1 - colour].at<int>(b[1], top.x);
            const bool exterior = b[0] == 0 || b[1] == 0 || b[2] == picture.cols || b[3] == picture.rows;
            regions.push_back(describe(colour, stats[colour].at<int>(c, cv::CC_STAT_AREA), b,
                                       sides - corners * (2 - std::sqrt(2.0)), exterior,
                                       colour == 0 && above == frame ? "exterior" : boxOf(1 - colour, box(1 - colour, above))));
        }
    std::sort(regions.begin(), regions.end());
    return regions;
}

// The labeller's regions in the same words.
std::vector<std::string> labelledRegions(const cv::Mat& picture, double& exteriorArea) {
    CBlobResult set(picture, cv::Mat(), kThreshold, true);
    const auto boxIn = [](const CBlob& b) { return std::array<int, 4>{int(b.minX), int(b.minY), int(b.maxX), int(b.maxY)}; };
    std::map<int, std::string> names{{0, "exterior"}};
    for (int i = 1; i < set.BlobCount(); ++i) names[set.GetBlob(i)->label] = boxOf(colourOf(set.GetBlob(i)->mean), boxIn(*set.GetBlob(i)));
    std::vector<std::string> regions;
    for (int i = 1; i < set.BlobCount(); ++i) {
        const CBlob& b = *set.GetBlob(i);
        regions.push_back(describe(colourOf(b.mean), b.area, boxIn(b), b.perimeter, b.exterior,
                                   names.count(b.parent) ? names[b.parent] : "?"));
    }
    std::sort(regions.begin(), regions.end());
    exteriorArea = set.GetBlob(0)->area;
    return regions;
}

TEST(BlobLabelling, RegionsOfRandomMasksMatchAnIndependentReference) {
    std::mt19937 random(20261206);
    for (int trial = 0; trial < 400; ++trial) {
        // The last two are busy enough to be labelled in two stripes.
        const bool busy = trial >= 398;
        const int width = std::uniform_int_distribution<int>(busy ? 180 : 1, busy ? 220 : 40)(random);
        const int height = std::uniform_int_distribution<int>(busy ? 130 : 1, busy ? 160 : 30)(random);
        const double darkShare = std::uniform_real_distribution<double>(busy ? 0.4 : 0.05, busy ? 0.6 : 0.95)(random);
        cv::Mat mask(height, width, CV_8UC1);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                mask.at<uchar>(y, x) = std::bernoulli_distribution(darkShare)(random) ? kDark : kBright;
        SCOPED_TRACE(::testing::Message() << "trial " << trial << ", " << width << " x " << height);
        double exteriorArea = 0;
        EXPECT_EQ(labelledRegions(mask, exteriorArea), referenceRegions(mask));
        cv::Mat framed, labels;
        cv::copyMakeBorder(mask, framed, 1, 1, 1, 1, cv::BORDER_CONSTANT, kBright);
        cv::connectedComponents(framed > kThreshold, labels, 8, CV_32S);
        EXPECT_EQ(exteriorArea, cv::countNonZero(labels == labels.at<int>(0, 0)) - 2 * (width + height + 2));
    }
}

// Every field of every record, edge points sorted (no reader depends on their order), folded into one number.
struct RecordDigest {
    std::uint64_t value = 1469598103934665603ULL;
    void add(long long v) {
        for (int i = 0; i < 8; ++i) value = (value ^ static_cast<std::uint64_t>((v >> (8 * i)) & 0xff)) * 1099511628211ULL;
    }
    void add(CBlob b) {
        for (long long v : {b.label, b.exterior, b.parent}) add(v);
        for (double v : {b.area, b.perimeter, b.externPerimeter, b.sumX, b.sumY, b.sumXX, b.sumYY, b.sumXY, b.minX,
                         b.maxX, b.minY, b.maxY, b.mean, b.stdDev})
            add(std::llround(v * 1e6));
        std::sort(b.edges.begin(), b.edges.end(), CBlob::comparaCvPoint());
        for (const cv::Point& p : b.edges) add(static_cast<long long>(p.x) * 65536 + p.y);
    }
};

// Grey pictures with masks read from the view's own corner, views, both frame
// colours, with and without moments: the records (moments, grey mean and
// spread included) stay those the labeller has always given.
TEST(BlobLabelling, RecordsOfRandomPicturesStayTheSame) {
    std::mt19937 random(7);
    const auto draw = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    RecordDigest digest;
    for (int trial = 0; trial < 300; ++trial) {
        // Every tenth picture is larger: noise there makes long chains of
        // merges. Some are busy enough to be labelled in two stripes.
        const int scale = trial % 10 == 0 ? 4 : 1;
        const bool busy = trial % 23 == 1;
        const int width = busy ? draw(100, 400) : draw(1, 40 * scale);
        const int height = busy ? draw(40, 300) : draw(1, 30 * scale), levels = draw(1, 3);
        cv::Mat picture(height, width, CV_8UC1), mask(height, width, CV_8UC1);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                picture.at<uchar>(y, x) = static_cast<uchar>(draw(0, levels) * 255 / levels);
                mask.at<uchar>(y, x) = draw(0, 5) == 0 ? 0 : 255;
            }
        // Some pictures are rectangles, as a camera's masks are: long runs of
        // one colour (and of the mask) whose grey levels still vary.
        if (!busy && trial % 7 < 3) {
            const auto rectangle = [&] {
                const int x = draw(0, width - 1), y = draw(0, height - 1);
                return cv::Rect(x, y, draw(1, width - x), draw(1, height - y));
            };
            picture.setTo(draw(0, 255)), mask.setTo(255);
            for (int i = draw(0, 5); i > 0; --i) picture(rectangle()).setTo(draw(0, 255));
            for (int i = draw(0, 2); i > 0; --i) mask(rectangle()).setTo(0);
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) picture.at<uchar>(y, x) = cv::saturate_cast<uchar>(picture.at<uchar>(y, x) + draw(-2, 2));
        }
        const int left = draw(0, width - 1), top = draw(0, height - 1);
        const cv::Mat view = trial % 3 == 0 ? picture(cv::Rect(left, top, draw(1, width - left), draw(1, height - top)))
                                            : picture;
        std::vector<CBlob> blobs;  // labelled straight into a vector, as the library's callers may do
        ASSERT_TRUE(BlobAnalysis(view, kThreshold, trial % 2 ? mask : cv::Mat(), trial % 4 < 2, trial % 5 != 0, blobs));
        for (const CBlob& blob : blobs) digest.add(blob);
    }
    EXPECT_EQ(digest.value, 6884404158894741774u);
}

}  // namespace
