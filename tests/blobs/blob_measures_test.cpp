#include "blobs/blobs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

CBlob blobWith(double perimeter, double area) {
    CBlob blob;
    blob.perimeter = perimeter;
    blob.area = area;
    return blob;
}

// The dark 3 x 3 square at (4, 3) of a bright 10 x 10 picture, as labelled.
CBlob labelledSquare() {
    cv::Mat picture(10, 10, CV_8UC1, cv::Scalar(255));
    picture(cv::Rect(4, 3, 3, 3)).setTo(cv::Scalar(0));
    CBlobResult set(picture, cv::Mat(), 100, true);
    return *set.GetBlob(1);
}

TEST(BlobMeasures, LengthBreadthAndElongationOfTheEquivalentRectangle) {
    const CBlob thin = blobWith(22, 10);
    EXPECT_DOUBLE_EQ(CBlobGetLength()(thin), 10);
    EXPECT_DOUBLE_EQ(CBlobGetBreadth()(thin), 1);
    EXPECT_DOUBLE_EQ(CBlobGetElongation()(thin), 10);

    const CBlob square = blobWith(4 * 7, 49);
    EXPECT_DOUBLE_EQ(CBlobGetLength()(square), 7);
    EXPECT_DOUBLE_EQ(CBlobGetBreadth()(square), 7);
    EXPECT_DOUBLE_EQ(CBlobGetElongation()(square), 1);

    // No rectangle has perimeter 10 and area 10: length and breadth fall back on
    // a quarter of the perimeter, elongation gives 0.
    const CBlob impossible = blobWith(10, 10);
    EXPECT_DOUBLE_EQ(CBlobGetLength()(impossible), 4);
    EXPECT_DOUBLE_EQ(CBlobGetBreadth()(impossible), 2.5);
    EXPECT_DOUBLE_EQ(CBlobGetElongation()(impossible), 0);

    EXPECT_DOUBLE_EQ(CBlobGetLength()(blobWith(0, 0)), 0);
    EXPECT_DOUBLE_EQ(CBlobGetElongation()(blobWith(0, 0)), 0);
}

TEST(BlobMeasures, CompactnessOfAnEmptyBlobAndMixedMomentsAreZero) {
    EXPECT_DOUBLE_EQ(CBlobGetCompactness()(blobWith(5, 0)), 0);
    EXPECT_NEAR(CBlobGetCompactness()(blobWith(12, 9)), 144 / (4 * M_PI * 9), 1e-12);
    CBlob blob = blobWith(12, 9);
    blob.sumXY = 5;
    EXPECT_EQ(CBlobGetMoment(1, 1)(blob), 0);
    EXPECT_EQ(CBlobGetMoment(0, 0)(blob), 9);
}

TEST(BlobMeasures, BlobWithoutEdgePointsFallsBack) {
    const CBlob blob = blobWith(12, 9);
    EXPECT_EQ(CBlobGetHullPerimeter()(blob), 12);
    EXPECT_EQ(CBlobGetHullArea()(blob), 9);
    EXPECT_EQ(CBlobGetRoughness()(blob), 1);
    EXPECT_EQ(CBlobGetRoughness()(blobWith(0, 0)), 0);
    EXPECT_EQ(CBlobGetMinXatMinY()(blob), 2147483647.0);
    EXPECT_EQ(CBlobGetMinYatMaxX()(blob), 2147483647.0);
    EXPECT_EQ(CBlobGetMaxXatMaxY()(blob), -2147483648.0);
    EXPECT_EQ(CBlobGetMaxYatMinX()(blob), -2147483648.0);
    EXPECT_EQ(CBlobGetXYInside(cv::Point(0, 0))(blob), 0);
}

TEST(BlobMeasures, EdgeMeasuresOfALabelledSquare) {
    const CBlob square = labelledSquare();
    // Edge points run from the square's left column to one past its right one.
    EXPECT_DOUBLE_EQ(CBlobGetHullPerimeter()(square), 2 * (3 + 2));
    EXPECT_DOUBLE_EQ(CBlobGetHullArea()(square), 3 * 2);
    EXPECT_DOUBLE_EQ(CBlobGetRoughness()(square), 12.0 / 10.0);
    EXPECT_EQ(CBlobGetMinXatMinY()(square), 4);
    EXPECT_EQ(CBlobGetMaxYatMinX()(square), 5);
    EXPECT_EQ(CBlobGetMinYatMaxX()(square), 3);
    EXPECT_EQ(CBlobGetMaxXatMaxY()(square), -2147483648.0);  // no edge point on row maxY
    EXPECT_DOUBLE_EQ(CBlobGetXCenter()(square), 5.5);
    EXPECT_DOUBLE_EQ(CBlobGetYCenter()(square), 4.5);
    EXPECT_DOUBLE_EQ(CBlobGetDistanceFromPoint(8.5, 8.5)(square), 5);
}

TEST(BlobMeasures, XYInsideFollowsTheSpansOfTheRow) {
    const CBlob square = labelledSquare();
    EXPECT_EQ(CBlobGetXYInside(cv::Point(4, 3))(square), 1);
    EXPECT_EQ(CBlobGetXYInside(cv::Point(6, 5))(square), 1);
    EXPECT_EQ(CBlobGetXYInside(cv::Point(3, 4))(square), 0);
    EXPECT_EQ(CBlobGetXYInside(cv::Point(5, 6))(square), 0);

    CBlob twoSpans;
    twoSpans.edges = {{9, 2}, {1, 2}, {3, 2}, {6, 2}};
    EXPECT_EQ(CBlobGetXYInside(cv::Point(2, 2))(twoSpans), 1);
    EXPECT_EQ(CBlobGetXYInside(cv::Point(4, 2))(twoSpans), 0);
    EXPECT_EQ(CBlobGetXYInside(cv::Point(7, 2))(twoSpans), 1);
    // A repeated point turns a span into a gap: (1,1) (1,5) -> gap from 1 to 5.
    CBlob repeated;
    repeated.edges = {{1, 0}, {1, 0}, {5, 0}};
    EXPECT_EQ(CBlobGetXYInside(cv::Point(3, 0))(repeated), 0);
}

TEST(BlobRecord, EllipseNeedsSevenPoints) {
    CBlob blob;
    blob.edges = {{0, 0}, {4, 0}, {6, 2}, {4, 4}, {0, 4}, {-2, 2}};
    const cv::RotatedRect none = blob.GetEllipse();
    EXPECT_EQ(none.center, cv::Point2f(0, 0));
    EXPECT_EQ(none.size, cv::Size2f(0, 0));
    EXPECT_EQ(none.angle, 0);
    blob.edges.push_back({2, 5});
    const cv::RotatedRect fitted = blob.GetEllipse();
    EXPECT_NEAR(fitted.center.x, 2, 0.5);
    EXPECT_GT(fitted.size.width, 1);
}

TEST(BlobRecord, HullOfNoPointsLeavesTheCallersHullAlone) {
    CBlob blob;
    std::vector<cv::Point> hull{{7, 7}};
    EXPECT_FALSE(blob.GetConvexHull(hull));
    ASSERT_EQ(hull.size(), 1u);
    blob.edges = {{0, 0}, {4, 0}, {2, 1}, {4, 3}, {0, 3}};
    EXPECT_TRUE(blob.GetConvexHull(hull));
    EXPECT_EQ(hull.size(), 4u);
}

TEST(BlobRecord, CopyingEdgesOntoItselfDoublesThem) {
    CBlob blob;
    blob.edges = {{1, 1}, {2, 1}};
    blob.CopyEdges(blob);
    EXPECT_EQ(blob.edges, (std::vector<cv::Point>{{1, 1}, {2, 1}, {1, 1}, {2, 1}}));
    EXPECT_EQ(CBlob(static_cast<const CBlob*>(nullptr)).label, -1);
}

TEST(BlobRecord, FillBlobPaintsBetweenPairsOfEachRow) {
    cv::Mat image(10, 20, CV_8UC1, cv::Scalar(0));
    CBlob blob;
    blob.edges = {{8, 5}, {2, 5}, {1, 7}, {3, 7}, {6, 7}, {9, 7}, {4, 8}, {4, 8}, {4, 9}};
    blob.FillBlob(image, cv::Scalar(255), 1, 0);
    EXPECT_EQ(cv::countNonZero(image.row(5)), 7);
    EXPECT_EQ(image.at<uchar>(5, 3), 255);
    EXPECT_EQ(image.at<uchar>(5, 9), 255);
    EXPECT_EQ(image.at<uchar>(7, 3), 255);
    EXPECT_EQ(image.at<uchar>(7, 5), 0);  // between the spans
    EXPECT_EQ(image.at<uchar>(7, 10), 255);
    EXPECT_EQ(cv::countNonZero(image.row(8)), 0);  // repeated point only
    EXPECT_EQ(cv::countNonZero(image.row(9)), 0);

    // A labelled region painted back covers its pixels (and one column more).
    const CBlob square = labelledSquare();
    cv::Mat painted(10, 10, CV_8UC1, cv::Scalar(0));
    square.FillBlob(painted, cv::Scalar(255));
    EXPECT_EQ(cv::countNonZero(painted), 12);
    EXPECT_EQ(cv::countNonZero(painted(cv::Rect(4, 3, 3, 3))), 9);
}

}  // namespace
