#pragma once
// The edge points of one region. The labeller keeps the points of all the
// regions of a picture as it found them, in one log, and sorts them into one
// buffer that their lists share the first time any of the lists is read (its
// points or its length): a picture with thousands of regions costs one
// allocation, not one per region, and nothing when no list is read. A list
// copies its points out only when it is changed.

#include <opencv2/core.hpp>

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <vector>

#include "blobs/BlockPool.h"

// Placed points go back to the block pool.
struct PointsGiveBack {
    std::size_t bytes = 0;
    void operator()(cv::Point* p) const { blockpool::giveBack(p, bytes); }
};

// The points of every list drawn from one labelling, list i a stretch of
// them, placed once by the first reader on any thread.
class EdgeSource : public std::enable_shared_from_this<EdgeSource> {
public:
    virtual ~EdgeSource() = default;
    const cv::Point* points(std::size_t list) { return placed().points.get() + placed().starts[list]; }
    std::size_t count(std::size_t list) { return placed().starts[list + 1] - placed().starts[list]; }

protected:
    using Buffer = std::unique_ptr<cv::Point, PointsGiveBack>;
    struct Placed {
        Buffer points;
        std::vector<std::size_t> starts;  // list i: starts[i] .. starts[i + 1] - 1
    };
    // Room for count points, each constructed where it is placed.
    static Buffer rawBuffer(std::size_t count) {
        std::size_t bytes = 0;
        void* memory = blockpool::take(count * sizeof(cv::Point), bytes);
        return Buffer(static_cast<cv::Point*>(memory), PointsGiveBack{bytes});
    }
    virtual Placed place() = 0;

private:
    const Placed& placed() {
        std::call_once(once_, [this] { placed_ = place(); });
        return placed_;
    }
    std::once_flag once_;
    Placed placed_;
};

class EdgeList {
public:
    using value_type = cv::Point;
    using const_iterator = const cv::Point*;
    using iterator = cv::Point*;

    EdgeList() = default;
    EdgeList(std::initializer_list<cv::Point> points) : own_(points) {}
    // List number list of source.
    EdgeList(std::shared_ptr<EdgeSource> source, std::size_t list)
        : kept_(std::move(source)), source_(kept_.get()), list_(list) {}
    // This list becomes list number list of source, without keeping the
    // source: for the lists of a blob set, which keeps the source itself. A
    // copy, or a list moved away, keeps it.
    void borrow(EdgeSource& source, std::size_t list) {
        clear();
        source_ = &source;
        list_ = list;
    }
    EdgeList(const EdgeList& other) : own_(other.own_), kept_(other.keptSource()), source_(other.source_), list_(other.list_) {}
    EdgeList(EdgeList&& other) noexcept
        : own_(std::move(other.own_)), kept_(other.keptSource()), source_(other.source_), list_(other.list_) {
        other.kept_.reset();
        other.source_ = nullptr;
    }
    EdgeList& operator=(const EdgeList& other) { return *this = EdgeList(other); }
    EdgeList& operator=(EdgeList&& other) noexcept {
        EdgeList moved(std::move(other));
        own_.swap(moved.own_);
        kept_.swap(moved.kept_);
        std::swap(source_, moved.source_);
        list_ = moved.list_;
        return *this;
    }
    ~EdgeList() = default;

    std::size_t size() const { return source_ ? source_->count(list_) : own_.size(); }
    bool empty() const { return size() == 0; }
    const cv::Point* data() const { return source_ ? source_->points(list_) : own_.data(); }
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

private:
    std::vector<cv::Point>& ownPoints();
    std::shared_ptr<EdgeSource> keptSource() const { return kept_ || !source_ ? kept_ : source_->shared_from_this(); }

    std::vector<cv::Point> own_;
    std::shared_ptr<EdgeSource> kept_;  // null when the points are own_ or borrowed
    EdgeSource* source_ = nullptr;      // null when the points are own_
    std::size_t list_ = 0;
};
