#include "blobs/EdgeList.h"

#include <algorithm>
#include <new>

std::vector<cv::Point>& EdgeList::ownPoints() {
    if (shared_) {
        own_.assign(first_, first_ + count_);
        shared_.reset();
        first_ = nullptr;
        count_ = 0;
    }
    return own_;
}

void EdgeList::append(const cv::Point* first, const cv::Point* last) {
    // The points may be this list's own (a list appended to itself).
    std::vector<cv::Point> added(first, last);
    std::vector<cv::Point>& own = ownPoints();
    own.insert(own.end(), added.begin(), added.end());
}

void EdgeList::clear() {
    shared_.reset();
    first_ = nullptr;
    count_ = 0;
    own_.clear();
}

cv::Mat EdgeList::asMat() const {
    if (empty()) return cv::Mat();
    return cv::Mat(static_cast<int>(size()), 1, CV_32SC2, const_cast<cv::Point*>(data()));
}

bool operator==(const EdgeList& a, const EdgeList& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

std::shared_ptr<cv::Point> sharedEdgeBuffer(std::size_t count) {
    // Raw memory: every point is constructed where it is placed, so the
    // buffer is not filled twice.
    void* memory = ::operator new(count * sizeof(cv::Point));
    return std::shared_ptr<cv::Point>(static_cast<cv::Point*>(memory), [](cv::Point* p) { ::operator delete(p); });
}
