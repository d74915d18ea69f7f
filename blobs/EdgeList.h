#pragma once
// The edge points of one region. The labeller writes the points of all the
// regions of a picture into one buffer that their lists share, so that a
// picture with thousands of regions costs one allocation, not one per region.
// A list copies its points out of the shared buffer only when it is changed.

#include <opencv2/core.hpp>

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <vector>

class EdgeList {
public:
    using value_type = cv::Point;
    using const_iterator = const cv::Point*;
    using iterator = cv::Point*;

    EdgeList() = default;
    EdgeList(std::initializer_list<cv::Point> points) : own_(points) {}
    explicit EdgeList(std::vector<cv::Point> points) : own_(std::move(points)) {}
    // count points from first on, in a buffer the list keeps alive.
    EdgeList(std::shared_ptr<const cv::Point> buffer, const cv::Point* first, std::size_t count)
        : shared_(std::move(buffer)), first_(first), count_(count) {}

    std::size_t size() const { return shared_ ? count_ : own_.size(); }
    bool empty() const { return size() == 0; }
    const cv::Point* data() const { return shared_ ? first_ : own_.data(); }
    const_iterator begin() const { return data(); }
    const_iterator end() const { return data() + size(); }
    const cv::Point& operator[](std::size_t i) const { return data()[i]; }

    // Changing the points gives the list its own copy first.
    iterator begin() { return ownPoints().data(); }
    iterator end() { return ownPoints().data() + own_.size(); }
    void push_back(const cv::Point& point) { ownPoints().push_back(point); }
    void append(const cv::Point* first, const cv::Point* last);
    void clear();

    // The points as a plain array, for OpenCV's functions.
    cv::Mat asMat() const;
    std::vector<cv::Point> toVector() const { return std::vector<cv::Point>(begin(), end()); }

    friend bool operator==(const EdgeList& a, const EdgeList& b);
    friend bool operator!=(const EdgeList& a, const EdgeList& b) { return !(a == b); }

private:
    std::vector<cv::Point>& ownPoints();

    std::vector<cv::Point> own_;
    std::shared_ptr<const cv::Point> shared_;  // null when the points are own_
    const cv::Point* first_ = nullptr;
    std::size_t count_ = 0;
};

// Room for count edge points that the lists of one picture will share; the
// points are written once each (placement) before any list reads them.
std::shared_ptr<cv::Point> sharedEdgeBuffer(std::size_t count);
