#include "blobs/BlockPool.h"
#include "blobs/blobs.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <thread>
#include <utility>
#include <vector>

namespace {

CBlobResult setOfAreas(const std::vector<double>& areas) {
    CBlobResult set;
    for (size_t i = 0; i < areas.size(); ++i) {
        CBlob blob;
        blob.area = areas[i];
        blob.label = int(i);
        set.AddBlob(&blob);
    }
    return set;
}

std::vector<int> labelsOf(CBlobResult& set) {
    std::vector<int> labels;
    for (int i = 0; i < set.BlobCount(); ++i) labels.push_back(set.GetBlob(i)->label);
    return labels;
}

// Area, except NaN for the blob labelled 1.
class AreaOrNothing : public COperadorBlob {
public:
    double operator()(const CBlob& blob) const override {
        return blob.label == 1 ? std::numeric_limits<double>::quiet_NaN() : blob.area;
    }
    const char* GetNom() const override { return "AreaOrNothing"; }
};

TEST(BlobSet, SumsAndCopiesAreDeepAndBadIndicesThrow1000) {
    CBlobResult a = setOfAreas({1, 2});
    CBlobGetArea area;
    CBlobResult sum = a + setOfAreas({10, 20, 30});
    EXPECT_EQ(sum.GetSTLResult(&area), (std::vector<double>{1, 2, 30, 20, 10}));  // the other set reversed
    sum.GetBlob(0)->area = 99;
    CBlobResult assigned = setOfAreas({7});
    assigned = a;
    assigned.GetBlob(1)->area = 50;
    CBlob outside;
    outside.area = 5;
    a.AddBlob(&outside);
    a.AddBlob(nullptr);
    outside.area = 6;
    EXPECT_EQ(a.GetSTLResult(&area), (std::vector<double>{1, 2, 5}));
    const CBlobResult& constant = a;
    EXPECT_EQ(constant.GetBlob(1).area, 2);
    for (const std::function<void()>& bad : std::vector<std::function<void()>>{
             [&] { a.GetBlob(3); }, [&] { a.GetBlob(-1); }, [&] { constant.GetBlob(3); }, [&] { a.GetNumber(5, &area); }}) {
        try {
            bad();
            ADD_FAILURE() << "no error";
        } catch (int code) {
            EXPECT_EQ(code, 1000);
        }
    }
    a.ClearBlobs();
    EXPECT_TRUE(a.GetSTLResult(&area).empty());
}

TEST(BlobSet, NthBlobRanksFromTheLargestTiesGoFirstAndFilterInsideIncludesBothEndsNanMeetsNoCondition) {
    CBlobResult set = setOfAreas({5, 9, 1, 9, 3});
    CBlobGetArea area;
    AreaOrNothing partly;
    const struct {
        COperadorBlob* measure;
        int rank, label;
    } cases[] = {{&area, 0, 1}, {&area, 1, 1}, {&area, 2, 0}, {&area, 4, 2}, {&area, 5, -1}, {&partly, 0, 3}, {&partly, 4, 1}};
    for (const auto& c : cases) {
        CBlob out;
        set.GetNthBlob(c.measure, c.rank, out);
        EXPECT_EQ(out.label, c.label) << c.measure->GetNom() << " rank " << c.rank;
    }
    set = setOfAreas({49, 50, 70, 100000, 100001});
    CBlobResult kept, dropped, out;
    set.Filter(kept, FILTER_INCLUDE, &area, COND_INSIDE, 50, 100000);
    set.Filter(dropped, FILTER_EXCLUDE, &area, COND_INSIDE, 50, 100000);
    EXPECT_EQ(labelsOf(dropped), (std::vector<int>{0, 4}));
    set.Filter(kept, FILTER_INCLUDE, &area, COND_LESS, 50);
    EXPECT_EQ(labelsOf(kept), (std::vector<int>{1, 2, 3, 0}));  // appended, not replaced
    set.Filter(set, FILTER_INCLUDE, &area, COND_INSIDE, 50, 100000);
    EXPECT_EQ(labelsOf(set), (std::vector<int>{1, 2, 3}));
    // Unknown codes or no measure copy nothing.
    set.Filter(out, FILTER_INCLUDE, &area, 11, 0, 10);
    set.Filter(out, 3, &area, COND_GREATER, 0);
    set.Filter(out, FILTER_INCLUDE, nullptr, COND_GREATER, 0);
    EXPECT_EQ(out.BlobCount(), 0);
    set.Filter(out, FILTER_INCLUDE, &area, COND_NOT_EQUAL, 70);
    EXPECT_EQ(labelsOf(out), (std::vector<int>{1, 3}));

    for (int condition = COND_EQUAL; condition <= COND_OUTSIDE; ++condition) {
        CBlobResult met, unmet;
        set.Filter(met, FILTER_INCLUDE, &partly, condition, 0, 10);
        set.Filter(unmet, FILTER_EXCLUDE, &partly, condition, 0, 10);
        for (int i = 0; i < met.BlobCount(); ++i) EXPECT_NE(met.GetBlob(i)->label, 1) << condition;
        EXPECT_EQ(met.BlobCount() + unmet.BlobCount(), 3);
    }
}

// The blobs of one labelling share their edge points, placed when a list is
// first read: copies read the same on two threads at once after their set is
// gone, and a change to one copy leaves the others as they were.
TEST(BlobEdgeSharing, CopiesReadTheSameOnTwoThreadsAfterTheSetIsGoneAndChangeAlone) {
    cv::Mat picture(48, 64, CV_8UC1);
    cv::randu(picture, 0, 256);
    std::vector<CBlob> copies;
    std::vector<std::vector<cv::Point>> expected;
    {
        CBlobResult set(picture, cv::Mat(), 100, false), again(picture, cv::Mat(), 100, false);
        for (int i = 0; i < set.BlobCount(); ++i) {
            copies.push_back(*set.GetBlob(i));
            expected.push_back(again.GetBlob(i)->edges.toVector());
        }
    }
    ASSERT_GT(copies.size(), 20u);
    std::vector<std::vector<cv::Point>> read(copies.size());
    const auto readEvery = [&](std::size_t first) {
        for (std::size_t i = first; i < copies.size(); i += 2) read[i] = std::as_const(copies[i]).edges.toVector();
    };
    std::thread other(readEvery, 1);
    readEvery(0);
    other.join();
    EXPECT_EQ(read, expected);

    CBlob changed = copies[1];
    changed.edges.push_back({-5, -5});
    changed.CopyEdges(copies[2]);
    EXPECT_EQ(copies[1].edges.toVector(), expected[1]);
    EXPECT_EQ(changed.edges.size(), expected[1].size() + 1);
    EXPECT_EQ(copies[2].edges.size(), expected[2].size() + expected[1].size() + 1);
    EXPECT_EQ(copies[3].edges.toVector(), expected[3]);
}

// Large blocks come back for the next picture; small ones and a pool's
// overflow go to the allocator.
TEST(BlockPool, ALargeBlockGivenBackIsTakenAgainForAnyRequestItHoldsAndAFullPoolStaysBounded) {
    std::size_t capacity = 0;
    void* large = blockpool::take(4u << 20, capacity);
    ASSERT_GE(capacity, 4u << 20);
    blockpool::giveBack(large, capacity);
    std::size_t again = 0;
    EXPECT_EQ(blockpool::take(3u << 20, again), large);
    EXPECT_EQ(again, capacity);
    blockpool::giveBack(large, again);
    std::size_t small = 0;
    void* little = blockpool::take(1000, small);
    EXPECT_EQ(small, 1000u);
    blockpool::giveBack(little, small);
    // Six blocks of 40 MB given back: the pool keeps what it may and frees the rest.
    std::vector<std::pair<void*, std::size_t>> blocks(6);
    for (auto& [block, size] : blocks) block = blockpool::take(40u << 20, size);
    for (auto& [block, size] : blocks) blockpool::giveBack(block, size);
    EXPECT_GE(blockpool::keptBytes(), 120u << 20);
    EXPECT_LE(blockpool::keptBytes(), 128u << 20);
}

}  // namespace
