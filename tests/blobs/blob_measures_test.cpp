#include "blobs/blobs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

CBlob blobWith(double perimeter, double area) {
    CBlob blob;
    blob.perimeter = perimeter;
    blob.area = area;
    return blob;
}

template <class Measure, class... Arguments>
std::shared_ptr<COperadorBlob> op(Arguments... arguments) {
    return std::make_shared<Measure>(arguments...);
}

// The dark 3 x 3 square at (4, 3) of a bright 10 x 10 picture, as labelled.
CBlob labelledSquare() {
    cv::Mat picture(10, 10, CV_8UC1, cv::Scalar(255));
    picture(cv::Rect(4, 3, 3, 3)).setTo(cv::Scalar(0));
    CBlobResult set(picture, cv::Mat(), 100, true);
    return *set.GetBlob(1);
}

TEST(BlobMeasures, EachMeasureOfKnownBlobsAndTheRecordsEllipseHullCopiesAndPainting) {
    CBlob mixed = blobWith(12, 9);
    mixed.sumXY = 5;
    CBlob twoSpans;  // row 2 inside from 1 to 3 and from 6 to 9
    twoSpans.edges = {{9, 2}, {1, 2}, {3, 2}, {6, 2}};
    CBlob repeated;  // a repeated point turns a span into a gap
    repeated.edges = {{1, 0}, {1, 0}, {5, 0}};
    const CBlob square = labelledSquare();
    const struct {
        std::shared_ptr<COperadorBlob> measure;
        CBlob blob;
        double expected;
    } cases[] = {
        // The equivalent rectangle; none with perimeter 10 and area 10: a quarter of the perimeter.
        {op<CBlobGetLength>(), blobWith(22, 10), 10}, {op<CBlobGetBreadth>(), blobWith(22, 10), 1},
        {op<CBlobGetElongation>(), blobWith(22, 10), 10}, {op<CBlobGetElongation>(), blobWith(28, 49), 1},
        {op<CBlobGetLength>(), blobWith(10, 10), 4}, {op<CBlobGetBreadth>(), blobWith(10, 10), 2.5},
        {op<CBlobGetElongation>(), blobWith(10, 10), 0}, {op<CBlobGetLength>(), blobWith(0, 0), 0},
        {op<CBlobGetElongation>(), blobWith(0, 0), 0}, {op<CBlobGetCompactness>(), blobWith(5, 0), 0},
        {op<CBlobGetCompactness>(), blobWith(12, 9), 144 / (4 * M_PI * 9)}, {op<CBlobGetMoment>(1, 1), mixed, 0},
        {op<CBlobGetMoment>(0, 0), mixed, 9},
        // Without edge points the hull falls back on the blob's own figures.
        {op<CBlobGetHullPerimeter>(), mixed, 12}, {op<CBlobGetHullArea>(), mixed, 9},
        {op<CBlobGetRoughness>(), mixed, 1}, {op<CBlobGetRoughness>(), blobWith(0, 0), 0},
        {op<CBlobGetMinXatMinY>(), mixed, 2147483647.0}, {op<CBlobGetMinYatMaxX>(), mixed, 2147483647.0},
        {op<CBlobGetMaxXatMaxY>(), mixed, -2147483648.0}, {op<CBlobGetMaxYatMinX>(), mixed, -2147483648.0},
        {op<CBlobGetXYInside>(cv::Point(0, 0)), mixed, 0},
        // Edge points run from the square's left column to one past its right one.
        {op<CBlobGetHullPerimeter>(), square, 2 * (3 + 2)}, {op<CBlobGetHullArea>(), square, 3 * 2},
        {op<CBlobGetRoughness>(), square, 12.0 / 10.0}, {op<CBlobGetMinXatMinY>(), square, 4},
        {op<CBlobGetMaxYatMinX>(), square, 5}, {op<CBlobGetMinYatMaxX>(), square, 3},
        {op<CBlobGetMaxXatMaxY>(), square, -2147483648.0}, {op<CBlobGetXCenter>(), square, 5.5},
        {op<CBlobGetYCenter>(), square, 4.5}, {op<CBlobGetDistanceFromPoint>(8.5, 8.5), square, 5},
        {op<CBlobGetXYInside>(cv::Point(4, 3)), square, 1}, {op<CBlobGetXYInside>(cv::Point(6, 5)), square, 1},
        {op<CBlobGetXYInside>(cv::Point(3, 4)), square, 0}, {op<CBlobGetXYInside>(cv::Point(5, 6)), square, 0},
        {op<CBlobGetXYInside>(cv::Point(2, 2)), twoSpans, 1}, {op<CBlobGetXYInside>(cv::Point(4, 2)), twoSpans, 0},
        {op<CBlobGetXYInside>(cv::Point(7, 2)), twoSpans, 1}, {op<CBlobGetXYInside>(cv::Point(3, 0)), repeated, 0},
    };
    for (const auto& c : cases)
        EXPECT_NEAR((*c.measure)(c.blob), c.expected, 1e-12) << c.measure->GetNom() << ", row " << &c - cases;

    CBlob blob;
    std::vector<cv::Point> hull{{7, 7}};
    EXPECT_FALSE(blob.GetConvexHull(hull));  // no points: the caller's hull stays
    EXPECT_EQ(hull.size(), 1u);
    blob.edges = {{0, 0}, {4, 0}, {6, 2}, {4, 4}, {0, 4}, {-2, 2}};
    EXPECT_EQ(blob.GetEllipse().size, cv::Size2f(0, 0));  // an ellipse needs seven points
    blob.edges.push_back({2, 5});
    EXPECT_NEAR(blob.GetEllipse().center.x, 2, 0.5);
    EXPECT_TRUE(blob.GetConvexHull(hull));
    EXPECT_EQ(hull.size(), 7u);  // every point is a corner

    CBlob pair;
    pair.edges = {{1, 1}, {2, 1}};
    pair.CopyEdges(pair);
    EXPECT_EQ(pair.edges.toVector(), (std::vector<cv::Point>{{1, 1}, {2, 1}, {1, 1}, {2, 1}}));
    EXPECT_EQ(CBlob(static_cast<const CBlob*>(nullptr)).label, -1);

    // Painting fills between pairs of points of each row.
    cv::Mat image(10, 20, CV_8UC1, cv::Scalar(0));
    CBlob rows;
    rows.edges = {{8, 5}, {2, 5}, {1, 7}, {3, 7}, {6, 7}, {9, 7}, {4, 8}, {4, 8}, {4, 9}};
    rows.FillBlob(image, cv::Scalar(255), 1, 0);  // one column to the right
    std::string spans;  // rows 5 and 7 to 9; a repeated or lone point paints nothing
    for (int y : {5, 7, 8, 9})
        for (int x = 0; x < 20; ++x) spans += image.at<uchar>(y, x) ? '#' : '.';
    EXPECT_EQ(spans, "...#######.........." "..###..####........." + std::string(40, '.'));
    // A labelled region painted back covers its pixels (and one column more).
    cv::Mat painted(10, 10, CV_8UC1, cv::Scalar(0));
    labelledSquare().FillBlob(painted, cv::Scalar(255));
    EXPECT_EQ(cv::countNonZero(painted), 12);
    EXPECT_EQ(cv::countNonZero(painted(cv::Rect(4, 3, 3, 3))), 9);
}

}  // namespace
