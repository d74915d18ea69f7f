#include "blobs/EdgeList.h"

std::vector<cv::Point>& EdgeList::ownPoints() {
    if (source_) {
        const cv::Point* first = data();
        own_.assign(first, first + size());
        kept_.reset();
        source_ = nullptr;
        list_ = 0;
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
    kept_.reset();
    source_ = nullptr;
    list_ = 0;
    own_.clear();
}

cv::Mat EdgeList::asMat() const {
    if (empty()) return cv::Mat();
    return cv::Mat(static_cast<int>(size()), 1, CV_32SC2, const_cast<cv::Point*>(data()));
}
