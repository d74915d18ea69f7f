#include "blobs/blobs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

CBlob blobOfArea(double area, int label = 0) {
    CBlob blob;
    blob.area = area;
    blob.label = label;
    return blob;
}

CBlobResult setOfAreas(const std::vector<double>& areas) {
    CBlobResult set;
    int label = 0;
    for (double area : areas) {
        const CBlob blob = blobOfArea(area, label++);
        set.AddBlob(&blob);
    }
    return set;
}

std::vector<int> labelsOf(CBlobResult& set) {
    std::vector<int> labels;
    for (int i = 0; i < set.BlobCount(); ++i) labels.push_back(set.GetBlob(i)->label);
    return labels;
}

int errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (int code) {
        return code;
    }
    return 0;
}

// Area, except NaN for the blob labelled 1.
class AreaOrNothing : public COperadorBlob {
public:
    double operator()(const CBlob& blob) const override {
        return blob.label == 1 ? std::numeric_limits<double>::quiet_NaN() : blob.area;
    }
    const char* GetNom() const override { return "AreaOrNothing"; }
};

std::string reportOf(const CBlobResult& set) {
    std::ostringstream report;
    set.PrintBlobs(report);
    return report.str();
}

TEST(BlobSet, SumsAndCopiesAreDeep) {
    CBlobResult a = setOfAreas({1, 2});
    CBlobGetArea area;
    CBlobResult sum = a + setOfAreas({10, 20, 30});
    EXPECT_EQ(sum.GetSTLResult(&area), (std::vector<double>{1, 2, 30, 20, 10}));  // the other set reversed
    sum.GetBlob(0)->area = 99;
    CBlobResult assigned = setOfAreas({7});
    assigned = a;
    assigned.GetBlob(1)->area = 50;
    EXPECT_EQ(a.GetSTLResult(&area), (std::vector<double>{1, 2}));
    CBlob outside = blobOfArea(5);
    a.AddBlob(&outside);
    a.AddBlob(nullptr);
    outside.area = 6;
    EXPECT_EQ(a.GetSTLResult(&area), (std::vector<double>{1, 2, 5}));
    a.ClearBlobs();
    EXPECT_TRUE(a.GetSTLResult(&area).empty());
}

TEST(BlobSet, BadIndexThrows1000) {
    CBlobResult set = setOfAreas({3, 4});
    const CBlobResult& constant = set;
    CBlobGetArea area;
    EXPECT_EQ(errorOf([&] { set.GetBlob(2); }), 1000);
    EXPECT_EQ(errorOf([&] { set.GetBlob(-1); }), 1000);
    EXPECT_EQ(errorOf([&] { constant.GetBlob(2); }), 1000);
    EXPECT_EQ(errorOf([&] { set.GetNumber(5, &area); }), 1000);
    EXPECT_EQ(set.GetNumber(1, &area), 4);
    EXPECT_EQ(constant.GetBlob(1).area, 4);
}

TEST(BlobSet, NthBlobRanksFromTheLargestAndTiesGoToTheEarliest) {
    CBlobResult set = setOfAreas({5, 9, 1, 9, 3});
    CBlobGetArea area;
    AreaOrNothing partly;
    const struct {
        COperadorBlob* measure;
        int rank, label;
    } cases[] = {{&area, 0, 1}, {&area, 1, 1}, {&area, 2, 0}, {&area, 4, 2}, {&area, 5, -1},
                 {&partly, 0, 3}, {&partly, 4, 1}};
    for (const auto& c : cases) {
        CBlob out;
        set.GetNthBlob(c.measure, c.rank, out);
        EXPECT_EQ(out.label, c.label) << c.measure->GetNom() << " rank " << c.rank;
    }
}

TEST(BlobSet, FilterInsideIncludesBothEnds) {
    CBlobResult set = setOfAreas({49, 50, 70, 100000, 100001});
    CBlobGetArea area;
    CBlobResult kept, dropped;
    set.Filter(kept, FILTER_INCLUDE, &area, COND_INSIDE, 50, 100000);
    set.Filter(dropped, FILTER_EXCLUDE, &area, COND_INSIDE, 50, 100000);
    EXPECT_EQ(labelsOf(kept), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(labelsOf(dropped), (std::vector<int>{0, 4}));
    EXPECT_EQ(set.BlobCount(), 5);
    set.Filter(kept, FILTER_INCLUDE, &area, COND_LESS, 50);
    EXPECT_EQ(labelsOf(kept), (std::vector<int>{1, 2, 3, 0}));  // appended, not replaced

    set.Filter(set, FILTER_INCLUDE, &area, COND_INSIDE, 50, 100000);
    EXPECT_EQ(labelsOf(set), (std::vector<int>{1, 2, 3}));

    CBlobResult out;  // unknown codes or no measure copy nothing
    set.Filter(out, FILTER_INCLUDE, &area, 11, 0, 10);
    set.Filter(out, 3, &area, COND_GREATER, 0);
    set.Filter(out, FILTER_INCLUDE, nullptr, COND_GREATER, 0);
    EXPECT_EQ(out.BlobCount(), 0);
    set.Filter(out, FILTER_INCLUDE, &area, COND_NOT_EQUAL, 70);
    EXPECT_EQ(labelsOf(out), (std::vector<int>{1, 3}));
}

TEST(BlobSet, NanNeverMeetsACondition) {
    CBlobResult set = setOfAreas({1, 2, 3});
    AreaOrNothing partly;
    for (int condition = COND_EQUAL; condition <= COND_OUTSIDE; ++condition) {
        CBlobResult met, unmet;
        set.Filter(met, FILTER_INCLUDE, &partly, condition, 0, 10);
        set.Filter(unmet, FILTER_EXCLUDE, &partly, condition, 0, 10);
        for (int i = 0; i < met.BlobCount(); ++i) EXPECT_NE(met.GetBlob(i)->label, 1) << condition;
        EXPECT_EQ(met.BlobCount() + unmet.BlobCount(), 3);
    }
}

TEST(BlobSet, PrintBlobsWritesOneLineABlob) {
    cv::Mat picture(10, 10, CV_8UC1, cv::Scalar(200));
    picture(cv::Rect(4, 3, 3, 3)).setTo(cv::Scalar(0));
    CBlobResult set(picture, cv::Mat(), 100, false);
    const std::string text = reportOf(set);
    const std::string squareLine =
        "blob 1 ->\t a=      9\t p=   12.00 (    0.00 extern)\t pconvex=   10.00\t ext=0\t m=   0.00\t "
        "c=1.27\t l=    3.00\n";
    EXPECT_EQ(text.substr(text.find("blob 1")), squareLine);
    EXPECT_EQ(text.rfind("blob 0 ->\t a=     91\t p=", 0), 0u);

    EXPECT_EQ(reportOf(CBlobResult()), "");
}

}  // namespace
