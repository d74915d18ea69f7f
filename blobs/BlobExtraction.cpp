#include "blobs/BlobExtraction.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <type_traits>

#include <opencv2/core/hal/intrin.hpp>

#include "blobs/BlockPool.h"

// The picture is swept row by row as runs of one colour. Each run is compared
// with the overlapping runs of the row above (8-connectivity: touching at a
// corner counts) and either joins their region, starts a new one, or merges two
// regions, the higher region number being absorbed into the lower. A busy
// picture is swept as two stripes at once, joined at the seam with the records
// one sweep gives (see labelInTwoStripes). Coordinates are those of a grid
// with a one-cell frame around the picture: picture pixel (x, y) is grid cell
// (x + 1, y + 1), and the frame has the border colour.

namespace {

// What the outline saves where it cuts a corner diagonally instead of
// following two pixel sides: 2 - sqrt(2).
constexpr double kCutCorner = 0.5857864376269;

// Running sums of one region during the sweep, all whole numbers, so the order
// in which runs and absorbed regions add to them does not matter: an outline is
// counted as pixel sides and cut corners and turned into a length at the end.
// What every run adds to comes first; counts are 64-bit, as a large picture has
// more pixels and sides than an int holds. What is set when the region starts,
// or seldom, and the moments, needed less often, lie apart.
struct Region {
    std::int64_t sides = 0;
    std::int64_t corners = 0;
    std::int64_t borderSides = 0;  // the external perimeter, counted the same way
    std::int64_t borderCorners = 0;
    std::uint64_t greySum = 0;
    std::uint64_t greySquares = 0;
    std::int64_t area = 0;
    int minX = INT_MAX, maxX = 0, maxY = 0;
};

struct RegionStart {
    int parent = -1;
    int minY = 0;  // the row of its first run: rows come in order
    int exterior = 0;
    std::int64_t maskedPixels = 0;
};

struct Moments {
    double sumX = 0, sumY = 0, sumXX = 0, sumYY = 0, sumXY = 0;
};

// One edge point as the sweep finds it: the region it went to and its x (its
// row is known from where the row's points start in the log). Points are logged
// in one array in sweep order and placed into the blobs' own lists at the end,
// each region's points as one stretch of its blob's list.
struct EdgePoint {
    int region;
    int x;
};

// A growing array of plain records that keeps its memory between pictures and
// does not clear it (every slot is written before it is read). Its memory
// comes from, and goes back to, the block pool.
template <typename T>
class Log {
    static_assert(std::is_trivially_copyable_v<T>, "records are copied as bytes and never destroyed");

public:
    Log() = default;
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;
    Log(Log&& other) noexcept { swap(other); }
    Log& operator=(Log&& other) noexcept {
        swap(other);
        return *this;
    }
    ~Log() { release(); }

    void clear() { size_ = 0; }
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    const T* data() const { return data_; }
    // Room for n more records, which are then written from end() on without a
    // check and taken in with growTo.
    void reserveMore(std::size_t n) {
        if (size_ + n <= capacity_) return;
        std::size_t bytes = std::max(size_ + n, 2 * capacity_) * sizeof(T);
        T* grown = static_cast<T*>(blockpool::take(bytes, bytes));
        std::copy(data_, data_ + size_, grown);
        blockpool::giveBack(data_, capacity_ * sizeof(T));
        data_ = grown;
        capacity_ = bytes / sizeof(T);
    }
    T* end() { return data_ + size_; }
    void growTo(const T* end) { size_ = static_cast<std::size_t>(end - data_); }
    void release() {
        blockpool::giveBack(data_, capacity_ * sizeof(T));
        data_ = nullptr;
        size_ = capacity_ = 0;
    }
    void swap(Log& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
    }

private:
    T* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// The labeller's growing tables, kept per thread between pictures so that a
// camera loop does not allocate and fault in fresh memory for every frame.
struct alignas(64) Scratch {
    std::vector<Region> regions;
    std::vector<RegionStart> starts;
    std::vector<Moments> moments;  // only when asked for
    std::vector<int> survivorOf;
    Log<EdgePoint> edges;
    std::vector<std::size_t> rowStarts;  // where each pixel row's points begin in edges
    std::size_t lastEdges = 0;           // points of the last picture, whose log went to its blobs

    void clear() {
        regions.clear();
        starts.clear();
        moments.clear();
        survivorOf.clear();
        edges.clear();
        rowStarts.clear();
    }
    // After an unusually busy picture the memory goes back.
    void trim() {
        constexpr std::size_t kKeptBytes = 128u << 20;
        const std::size_t bytes = regions.capacity() * sizeof(Region) + starts.capacity() * sizeof(RegionStart) +
                                  moments.capacity() * sizeof(Moments) +
                                  survivorOf.capacity() * sizeof(int) +
                                  edges.capacity() * sizeof(EdgePoint) +
                                  rowStarts.capacity() * sizeof(std::size_t);
        if (bytes <= kKeptBytes) return;
        std::vector<Region>().swap(regions);
        std::vector<RegionStart>().swap(starts);
        std::vector<Moments>().swap(moments);
        std::vector<int>().swap(survivorOf);
        std::vector<std::size_t>().swap(rowStarts);
        edges.release();
    }
};

// The runs of one grid row: run k spans grid columns bounds[k] .. bounds[k + 1] - 1,
// and even runs have the border colour. The grey levels (masked pixels count 0),
// their squares and the masked pixels left of bounds[k] are kept beside it, so
// that a run's sums are two reads.
struct RunRow {
    std::vector<int> bounds;
    std::vector<std::uint64_t> greyBefore, squaresBefore;
    std::vector<int> maskedBefore;
    int runs = 0;
    int start(int k) const { return bounds[k]; }
    int end(int k) const { return bounds[k + 1] - 1; }
};

// Sum of the integers a .. b and of their squares, as the moments need them.
double sumOfRange(long long a, long long b) { return static_cast<double>((a + b) * (b - a + 1) / 2); }

long long sumOfSquaresUpTo(long long n) {
    // n may be -1 (the frame column): the sum of squares from 0 up to -1 is 0.
    return n <= 0 ? 0 : n * (n + 1) * (2 * n + 1) / 6;
}

double sumOfSquares(long long a, long long b) {
    // a may be -1 (the frame column), which adds (-1)^2.
    const long long negativePart = a < 0 ? sumOfSquaresUpTo(-a) : 0;
    const long long from = std::max(a, 0LL);
    return static_cast<double>(negativePart + sumOfSquaresUpTo(b) - sumOfSquaresUpTo(from - 1));
}

double externPerimeterOf(int start, int end, int row, int width, int height, const cv::Mat* perimeterImage) {
    double perimeter = 0;
    if (start <= 0) perimeter += 1;
    if (end >= width - 1) perimeter += 1;
    if (row <= 1) perimeter += start - end;
    if (row >= height - 1) perimeter += start - end;
    if (perimeterImage && row > 0 && row < height && row - 1 < perimeterImage->rows) {
        if (start < 0) start = 1;
        if (end >= width) end = width - 2;
        // The counts reach one column past the run; never read outside the image.
        const int first = std::max(start, 0);
        const int last = std::min(end + 1, perimeterImage->cols - 1);
        const signed char* counts = perimeterImage->ptr<signed char>(row - 1);
        for (int column = first; column <= last; ++column) perimeter += counts[column];
    }
    return perimeter;
}

// The edge points one stripe logged: the region numbers in its log start at
// regionOffset among the picture's regions, its rows at pixel row firstY.
struct LoggedStripe {
    Log<EdgePoint> log;
    std::vector<std::size_t> rowStarts;  // where each of its rows begins in log, and the end
    int firstY = 0;
    std::size_t regionOffset = 0;
    std::size_t rows() const { return rowStarts.size() - 1; }
};

// The two stripes' labellers lie side by side on the caller's stack and are
// written all the time: each on cache lines of its own.
class alignas(64) Labeller {
public:
    Labeller(const cv::Mat& source, uchar threshold, const cv::Mat& mask, bool borderColour, bool findMoments,
             Scratch& scratch)
        : source_(source), mask_(mask), hasMask_(!mask.empty()), threshold_(threshold),
          borderColour_(borderColour ? 1 : 0),
          findMoments_(findMoments), cols_(source.cols), rows_(source.rows), regions_(scratch.regions),
          starts_(scratch.starts), moments_(scratch.moments), survivorOf_(scratch.survivorOf),
          edges_(scratch.edges), rowStarts_(scratch.rowStarts), lastEdges_(scratch.lastEdges) {
        scratch.clear();
        // The last picture's log went to its blobs: room for as many points
        // (and a row's worth more) at once, rather than growing step by step.
        edges_.reserveMore(scratch.lastEdges + 16 * (static_cast<std::size_t>(source.cols) + 3));
        cv::Size whole;
        cv::Point offset;
        source.locateROI(whole, offset);
        wholeWidth_ = whole.width;
        wholeHeight_ = whole.height;
    }

    // Sweeps grid rows firstRow .. lastRow. A stripe below the first starts
    // from the runs of the row above it, each in a stand-in region of its own.
    void label(int firstRow, int lastRow);
    // Takes over the regions of the stripe below this one, swept to the end.
    void absorbLower(Labeller& lower);
    void finish();
    // With a keeper, the blobs' lists borrow from the source it gets.
    void appendBlobs(std::vector<CBlob>& blobs, std::shared_ptr<EdgeSource>* keeper);

private:
    // A run of this row as it meets one run of the last row.
    struct Meeting {
        int thisStart, thisEnd, lastStart, lastEnd;
        int thisRegion, lastRegion;
        int thisIndex;
        bool sameColour;
    };

    void setUp();
    void startAtFrame();
    void startAtSeam(int gridRow);
    void linkRoots(int a, int b);
    void gatherOwn();
    // A region's sums, wherever its stripe keeps them.
    Region& regionAt(int i) { return i < lowerOffset_ ? regions_[i] : lower_->regions_[i - lowerOffset_]; }
    RegionStart& startAt(int i) { return i < lowerOffset_ ? starts_[i] : lower_->starts_[i - lowerOffset_]; }
    Moments& momentsAt(int i) { return i < lowerOffset_ ? moments_[i] : lower_->moments_[i - lowerOffset_]; }
    int parentOf(int i) {
        const int parent = startAt(i).parent;
        return parent >= 0 && i >= lowerOffset_ ? parent + lowerOffset_ : parent;
    }
    // The blob label of a region: its number, less the stand-ins before it.
    int labelOf(int region) const { return region < lowerOffset_ ? region : region - lowerStandIns_; }
    void buildRow(int gridRow, RunRow& row);
    template <bool masked>
    void codeRow(int y, RunRow& row);
    void markMaskBoundary(int y);
    void sweepRow(int gridRow);
    void meetInside(Meeting& m, int& nextThis, int& nextLast);
    void meetAround(Meeting& m, int& nextThis, int& nextLast);
    void meetAtCorner(Meeting& m);
    void join(Meeting& m, int overlap, int corners);
    void newRegion(Meeting& m);
    void merge(Meeting& m, int overlap, int corners);
    void unite(Meeting& m);
    void addRun(int region, const Meeting& m, int sides, int corners);
    bool liesOnPictureBorder(int start, int end, int gridRow) const;

    int NewSubsume();
    void Subsume(int absorbed, int survivor);
    int regionOf(int region) {
        if (region < 0) return region;
        int* survivorOf = survivorOf_.data();
        while (survivorOf[region] != region) {
            survivorOf[region] = survivorOf[survivorOf[region]];
            region = survivorOf[region];
        }
        return region;
    }
    void pushEdge(int region, int x) {
        *edgeEnd_++ = {region, x};
    }
    // The points a meeting leaves: the region of this run gets the x where the
    // row enters it and where it leaves it, the last run's region (when it is
    // another region of the other colour) those of its own that this run bounds.
    void pushEdges(const Meeting& m, bool lastLeft, bool lastRight) {
        const int left = m.thisStart - 1;
        const int right = m.thisEnd;
        if (m.thisRegion >= 0) {
            pushEdge(m.thisRegion, left);
            pushEdge(m.thisRegion, right);
        }
        if (m.sameColour || m.lastRegion < 0 || m.lastRegion == m.thisRegion) return;
        if (lastLeft) pushEdge(m.lastRegion, left);
        if (lastRight) pushEdge(m.lastRegion, right);
    }
    LoggedStripe takeLog(std::size_t regionOffset);
    void describe(int region, CBlob& blob);

    const cv::Mat& source_;
    const cv::Mat& mask_;
    const bool hasMask_;  // asked once: cv::Mat::empty is a call
    const uchar threshold_;
    const uchar borderColour_;
    const bool findMoments_;
    const int cols_;
    const int rows_;
    int wholeWidth_ = 0;
    int wholeHeight_ = 0;
    int gridRow_ = 0;
    bool rowOnBorder_ = false;  // a run of this row may touch the picture's edge or the mask anywhere

    cv::Mat externPerimeterImage_;  // only with a mask
    RunRow lastRuns_, thisRuns_;
    std::vector<int> lastRegions_, thisRegions_;  // region number of each run, -1 unassigned

    std::vector<Region>& regions_;
    std::vector<RegionStart>& starts_;
    std::vector<Moments>& moments_;
    // Union-find over region numbers: an absorbed region points at the region
    // that absorbed it, so a merge rewrites neither the region arrays of the two
    // rows nor any sums.
    std::vector<int>& survivorOf_;
    Log<EdgePoint>& edges_;
    std::vector<std::size_t>& rowStarts_;
    std::size_t& lastEdges_;
    int firstRow_ = 1;
    int standIns_ = 0;  // below the first stripe: one region for each run of the row above
    // Once the stripe below is absorbed: where its regions begin here, and its stand-ins.
    Labeller* lower_ = nullptr;
    int lowerOffset_ = INT_MAX;
    int lowerStandIns_ = 0;
    std::vector<int> relinked_;  // regions that survived their stripe but not the seam
    // The sweep's own copy of where the next edge point goes, so that logging
    // a point does not reload it.
    EdgePoint* edgeEnd_ = nullptr;
};

void Labeller::label(int firstRow, int lastRow) {
    firstRow_ = firstRow;
    setUp();
    if (firstRow == 1)
        startAtFrame();
    else
        startAtSeam(firstRow - 1);
    for (int gridRow = firstRow; gridRow <= lastRow; ++gridRow) sweepRow(gridRow);
    gatherOwn();
}

void Labeller::setUp() {
    const std::size_t gridCols = static_cast<std::size_t>(cols_) + 2;
    for (RunRow* row : {&lastRuns_, &thisRuns_}) {
        row->bounds.assign(gridCols + 1, 0);
        row->greyBefore.assign(gridCols + 1, 0);
        row->squaresBefore.assign(gridCols + 1, 0);
        row->maskedBefore.assign(gridCols + 1, 0);
    }
    lastRegions_.assign(gridCols, -1);
    thisRegions_.assign(gridCols, -1);
    if (hasMask_) {
        // Not Mat::zeros: its expression goes through an object OpenCV makes on
        // first use and hands to other threads without the ordering the
        // thread checker can see, and the two stripes set up side by side.
        externPerimeterImage_.create(mask_.size(), CV_8UC1);
        externPerimeterImage_ = cv::Scalar(0);
    }
}

// Region 0 holds the frame; grid row 0 is one run of it.
void Labeller::startAtFrame() {
    NewSubsume();
    regions_[0].area = cols_ + 2;
    regions_[0].sides = 2 * (cols_ + 2) + 2;
    thisRuns_.bounds[1] = cols_ + 2;
    thisRuns_.runs = 1;
    thisRegions_[0] = 0;
}

// The row above the stripe is coded again and each of its runs gets a region
// that stands in for the upper stripe's region of that run until the stripes
// are joined. Stand-ins hold no pixels and start nowhere.
void Labeller::startAtSeam(int gridRow) {
    buildRow(gridRow, thisRuns_);
    for (int k = 0; k < thisRuns_.runs; ++k) {
        thisRegions_[k] = NewSubsume();
        starts_[k].minY = INT_MAX;
    }
    standIns_ = thisRuns_.runs;
}

// The lower stripe's region numbers follow this one's; its sums stay where
// they are. Each stand-in joins the region of its run in this stripe's last
// row; the lower number survives, as always.
void Labeller::absorbLower(Labeller& lower) {
    const int offset = static_cast<int>(regions_.size());
    lower_ = &lower;
    lowerOffset_ = offset;
    lowerStandIns_ = lower.standIns_;
    for (int survivor : lower.survivorOf_) survivorOf_.push_back(survivor + offset);
    for (int k = 0; k < lower.standIns_; ++k) linkRoots(thisRegions_[k], offset + k);
}

// Two regions that survived their own stripes turn out to be one.
void Labeller::linkRoots(int a, int b) {
    a = regionOf(a);
    b = regionOf(b);
    if (a == b) return;
    survivorOf_[std::max(a, b)] = std::min(a, b);
    relinked_.push_back(std::max(a, b));
}

// Codes grid row gridRow into runs; rows beyond the picture are all frame.
void Labeller::buildRow(int gridRow, RunRow& row) {
    if (gridRow > rows_) {
        row.bounds[1] = cols_ + 2;
        row.greyBefore[1] = row.squaresBefore[1] = 0;
        row.maskedBefore[1] = 0;
        row.runs = 1;
        return;
    }
    const int y = gridRow - 1;
    if (!hasMask_) {
        codeRow<false>(y, row);
    } else {
        markMaskBoundary(y);
        codeRow<true>(y, row);
    }
}

// The grey sum and the sum of squares of sixteen pixels.
void addChunk(const cv::v_uint8x16& chunk, std::uint64_t& sum, std::uint64_t& sumOfSquares) {
    cv::v_uint16x8 low, high;
    cv::v_expand(chunk, low, high);
    const cv::v_int16x8 a = cv::v_reinterpret_as_s16(low), b = cv::v_reinterpret_as_s16(high);
    sum += cv::v_reduce_sum(chunk);
    sumOfSquares += static_cast<std::uint64_t>(cv::v_reduce_sum(cv::v_dotprod(a, a) + cv::v_dotprod(b, b)));
}

// One pass over the row's pixels records every change of colour and the sums
// up to it. Sixteen pixels that all continue the run before them (most of a
// camera's mask) only add to the sums. Elsewhere each pixel is taken without
// branching on its (often random) value: each column writes a candidate bound
// that only a change of colour keeps.
template <bool masked>
void Labeller::codeRow(int y, RunRow& row) {
    const uchar* pixels = source_.ptr<uchar>(y);
    const uchar* maskRow = masked ? mask_.ptr<uchar>(y) : nullptr;
    int* bounds = row.bounds.data();
    std::uint64_t* grey = row.greyBefore.data();
    std::uint64_t* squares = row.squaresBefore.data();
    int* maskedCount = row.maskedBefore.data();
    std::uint64_t sum = 0, sumOfSquares = 0;
    int outside = 0;
    unsigned previous = borderColour_;
    int count = 1;  // run 0 starts in the frame column
    const auto takePixel = [&](int x) {
        unsigned p = pixels[x];
        unsigned colour = p > threshold_ ? 1u : 0u;
        if (masked) {
            const unsigned inside = maskRow[x] != 0;
            colour = inside ? colour : borderColour_;
            p *= inside;
            maskedCount[count] = outside;
            outside += 1 - static_cast<int>(inside);
        }
        bounds[count] = x + 1;
        grey[count] = sum;
        squares[count] = sumOfSquares;
        count += colour != previous;
        previous = colour;
        sum += p;
        sumOfSquares += p * p;
    };
    const cv::v_uint8x16 thresholdVector = cv::v_setall_u8(threshold_);
    constexpr int kChunk = cv::v_uint8x16::nlanes;
    int x = 0;
    while (x < cols_) {
        for (; x + kChunk <= cols_; x += kChunk) {
            const cv::v_uint8x16 chunk = cv::v_load(pixels + x);
            const cv::v_uint8x16 bright = chunk > thresholdVector;
            bool continues = previous ? cv::v_check_all(bright) : !cv::v_check_any(bright);
            if (masked) {
                const cv::v_uint8x16 inside = cv::v_load(maskRow + x) != cv::v_setzero_u8();
                if (!cv::v_check_any(inside) && previous == borderColour_) {
                    outside += kChunk;  // masked out, the border colour's run goes on
                    continue;
                }
                continues = continues && cv::v_check_all(inside);
            }
            if (!continues) break;
            addChunk(chunk, sum, sumOfSquares);
        }
        for (const int stop = std::min(x + kChunk, cols_); x < stop; ++x) takePixel(x);
    }
    const auto bound = [&](int column) {
        bounds[count] = column;
        grey[count] = sum;
        squares[count] = sumOfSquares;
        if (masked) maskedCount[count] = outside;
    };
    // The frame column starts a run unless the last pixel has the border colour.
    bound(cols_ + 1);
    count += previous != borderColour_;
    bound(cols_ + 2);
    row.runs = count;
}

// Counts, for the pixels of row y inside the mask, how many of their neighbours
// lie outside it; the run's external perimeter reads these counts back.
void Labeller::markMaskBoundary(int y) {
    const int width = mask_.cols;
    const int height = mask_.rows;
    uchar* out = externPerimeterImage_.ptr<uchar>(y);
    const uchar* here = mask_.ptr<uchar>(y);
    const uchar* above = y >= 1 ? mask_.ptr<uchar>(y - 1) : nullptr;
    const uchar* below = y + 1 < height - 1 ? mask_.ptr<uchar>(y + 1) : nullptr;
    const bool sideways = y + 1 < height;
    // The count of the pixel in grid column c is stored one column to its right
    // (at index c), where the run arithmetic expects it; the last column is not
    // counted.
    for (int column = 1; column <= cols_ - 1; ++column) {
        const int x = column - 1;
        if (here[x] == 0) {
            out[column] = 0;
            continue;
        }
        int outside = 0;
        if (above && above[x] == 0) ++outside;
        if (sideways && x >= 1 && here[x - 1] == 0) ++outside;
        if (sideways && column < width - 1 && here[x + 1] == 0) ++outside;
        if (below && below[x] == 0) ++outside;
        out[column] = static_cast<uchar>(outside);
    }
}

void Labeller::sweepRow(int gridRow) {
    gridRow_ = gridRow;
    std::swap(lastRuns_, thisRuns_);
    std::swap(lastRegions_, thisRegions_);
    buildRow(gridRow, thisRuns_);
    const int thisRuns = thisRuns_.runs;
    const int lastRuns = lastRuns_.runs;
    int* thisRegions = thisRegions_.data();
    int* lastRegions = lastRegions_.data();
    std::fill_n(thisRegions, thisRuns, -1);
    // A meeting logs at most four edge points. Each moves on to the next run
    // of this row or of the last; only a corner contact steps back in the last
    // row, and it moves on in this row.
    edges_.reserveMore(8 * (static_cast<std::size_t>(thisRuns) + lastRuns + 1));
    rowStarts_.push_back(edges_.size());
    edgeEnd_ = edges_.end();
    rowOnBorder_ = gridRow <= 1 || gridRow >= rows_ || gridRow >= wholeHeight_ - 1 || hasMask_;

    int thisIndex = 0, lastIndex = 0;
    while (lastIndex < lastRuns && thisIndex < thisRuns) {
        Meeting m;
        m.thisStart = thisRuns_.start(thisIndex);
        m.thisEnd = thisRuns_.end(thisIndex);
        m.lastStart = lastRuns_.start(lastIndex);
        m.lastEnd = lastRuns_.end(lastIndex);
        m.thisRegion = thisRegions[thisIndex];
        m.lastRegion = lastRegions[lastIndex];
        m.thisIndex = thisIndex;
        m.sameColour = ((thisIndex ^ lastIndex) & 1) == 0;
        int nextThis = thisIndex, nextLast = lastIndex;
        if (m.thisStart > m.lastEnd + 1) {  // the last run lies wholly to the left
            if (m.thisRegion >= 0) pushEdge(m.thisRegion, m.thisStart - 1);
            if (m.lastRegion >= 0) pushEdge(m.lastRegion, m.thisEnd);
            ++nextLast;
        } else if (m.thisEnd < m.lastStart) {  // the runs touch only at a corner
            meetAtCorner(m);
            --nextLast;
            ++nextThis;
        } else if (m.lastStart < m.thisStart) {
            meetInside(m, nextThis, nextLast);
        } else {
            meetAround(m, nextThis, nextLast);
        }
        thisRegions[thisIndex] = m.thisRegion;
        lastRegions[lastIndex] = m.lastRegion;
        thisIndex = nextThis;
        lastIndex = nextLast;
    }
    edges_.growTo(edgeEnd_);
}

// This run starts inside the last one.
void Labeller::meetInside(Meeting& m, int& nextThis, int& nextLast) {
    if (m.thisEnd > m.lastEnd) {  // and reaches beyond it
        if (m.sameColour) join(m, m.lastEnd - m.thisStart + 1, 2);
        pushEdges(m, true, false);
        ++nextLast;
        return;
    }
    const bool endTogether = m.thisEnd == m.lastEnd;
    if (m.sameColour)
        join(m, m.thisEnd - m.thisStart + 1, endTogether ? 1 : 2);
    else
        newRegion(m);
    pushEdges(m, true, true);
    if (m.sameColour || !endTogether) ++nextThis;
    if (endTogether) ++nextLast;
}

// The last run starts inside this one (or with it).
void Labeller::meetAround(Meeting& m, int& nextThis, int& nextLast) {
    const bool assigned = m.thisRegion >= 0;
    if (m.thisEnd == m.lastEnd) {  // both end together
        const int corner = m.lastStart != m.thisStart ? 1 : 0;
        const int overlap = m.lastEnd - m.lastStart + 1;
        if (m.sameColour && !assigned)
            join(m, overlap, corner);
        else if (m.sameColour)
            merge(m, overlap, corner);
        else if (!assigned)
            newRegion(m);
        pushEdges(m, false, true);
        ++nextLast;
        if (m.sameColour) ++nextThis;
        return;
    }
    const bool lastInside = m.thisEnd > m.lastEnd;
    const int overlap = (lastInside ? m.lastEnd : m.thisEnd) - m.lastStart + 1;
    const int corners = m.thisStart != m.lastStart ? 2 : 1;
    if (m.sameColour && !assigned)
        join(m, overlap, corners);
    else if (m.sameColour)
        merge(m, overlap, corners);
    else if (!lastInside && !assigned)
        newRegion(m);
    pushEdges(m, false, !lastInside);
    if (m.thisRegion >= 0 && !m.sameColour && m.lastRegion >= 0 && m.lastRegion != m.thisRegion)
        pushEdge(m.thisRegion, m.thisStart - 1);
    if (lastInside)
        ++nextLast;
    else
        ++nextThis;
}

void Labeller::meetAtCorner(Meeting& m) {
    if (m.sameColour) {
        unite(m);
        if (m.thisRegion >= 0) regions_[m.thisRegion].corners += 2;
    }
    const int left = m.thisStart - 1;
    if (m.thisRegion >= 0) pushEdge(m.thisRegion, left);
    if (!m.sameColour && m.lastRegion >= 0 && m.lastRegion != m.thisRegion) pushEdge(m.lastRegion, left);
}

// This run continues the region of the last one, overlapping it by overlap
// pixels (the shared sides leave the outline) with corners cut off.
void Labeller::join(Meeting& m, int overlap, int corners) {
    m.thisRegion = m.lastRegion;
    if (m.thisRegion < 0) return;
    const int length = m.thisEnd - m.thisStart + 1;
    addRun(m.thisRegion, m, 2 * length + 2 - 2 * overlap, corners);
}

void Labeller::newRegion(Meeting& m) {
    const int length = m.thisEnd - m.thisStart + 1;
    m.thisRegion = NewSubsume();
    starts_[m.thisRegion].minY = gridRow_ - 1;
    if (m.lastRegion >= 0) starts_[m.thisRegion].parent = m.lastRegion;
    addRun(m.thisRegion, m, 2 * length + 2, 0);
}

// This run, already in a region, overlaps another run of its colour: the
// outline between them goes, and so does one of the two region numbers.
void Labeller::merge(Meeting& m, int overlap, int corners) {
    unite(m);
    regions_[m.thisRegion].sides -= 2 * overlap;
    regions_[m.thisRegion].corners += corners;
}

// Two regions turned out to be one: the higher number is absorbed by the lower.
void Labeller::unite(Meeting& m) {
    if (m.thisRegion < 0 || m.lastRegion < 0) return;
    const int a = regionOf(m.thisRegion), b = regionOf(m.lastRegion);
    const int survivor = std::min(a, b);
    survivorOf_[std::max(a, b)] = survivor;
    m.thisRegion = m.lastRegion = survivor;
}

// The run's pixels, outline, box and sums go to the region.
void Labeller::addRun(int number, const Meeting& m, int sides, int corners) {
    Region& region = regions_[number];
    const int start = m.thisStart, end = m.thisEnd;
    const int length = end - start + 1;
    region.area += length;
    region.sides += sides;
    region.corners += corners;
    // Only runs near the picture's edge (or any run, with a mask) can add to
    // the external perimeter or touch the border.
    bool onPictureBorder = false;
    if (rowOnBorder_ || start <= 1 || end >= cols_ || end >= wholeWidth_ - 1) {
        const cv::Mat* perimeterImage = hasMask_ ? &externPerimeterImage_ : nullptr;
        const double borderLength = externPerimeterOf(start, end, gridRow_, wholeWidth_, wholeHeight_, perimeterImage);
        if (start <= 1 || end >= cols_ || borderLength != 0) {
            region.borderSides += static_cast<int>(borderLength);
            region.borderCorners += corners;
        }
        onPictureBorder = liesOnPictureBorder(start, end, gridRow_);
    }
    region.minX = std::min(region.minX, std::max(start - 1, 0));
    region.maxX = std::max(region.maxX, end);
    region.maxY = gridRow_;  // rows come in order: this is the region's lowest so far
    if (onPictureBorder) starts_[number].exterior = 1;
    const int y = gridRow_ - 1;
    if (findMoments_) {
        // Pixel columns start - 1 .. end - 1, frame cells included.
        Moments& moments = moments_[number];
        const double sumX = sumOfRange(start - 1, end - 1);
        const double area = length;
        moments.sumX += sumX;
        moments.sumXX += sumOfSquares(start - 1, end - 1);
        moments.sumY += area * y;
        moments.sumXY += sumX * y;
        moments.sumYY += area * y * y;
    }
    const int k = m.thisIndex;
    region.greySum += thisRuns_.greyBefore[k + 1] - thisRuns_.greyBefore[k];
    region.greySquares += thisRuns_.squaresBefore[k + 1] - thisRuns_.squaresBefore[k];
    if (hasMask_) starts_[number].maskedPixels += thisRuns_.maskedBefore[k + 1] - thisRuns_.maskedBefore[k];
}

// The external perimeter's border test is loose near the bottom and right edges
// and misses one-pixel runs on the top row, so whether a region reaches the
// picture's edge is decided here from the run itself.
bool Labeller::liesOnPictureBorder(int start, int end, int gridRow) const {
    if (start <= 1 || end >= cols_ || gridRow <= 1 || gridRow >= rows_) return true;
    if (!hasMask_) return false;
    const uchar* outsideNeighbours = externPerimeterImage_.ptr<uchar>(gridRow - 1);
    for (int column = start; column <= end; ++column)
        if (outsideNeighbours[column] != 0) return true;
    return false;
}

// A new region: the next number, alive.
int Labeller::NewSubsume() {
    const int number = static_cast<int>(regions_.size());
    regions_.emplace_back();
    starts_.emplace_back();
    if (findMoments_) moments_.emplace_back();
    survivorOf_.push_back(number);
    return number;
}

// Folds the sums of an absorbed region into its survivor's.
void Labeller::Subsume(int absorbed, int survivor) {
    Region& s = regionAt(survivor);
    const Region& a = regionAt(absorbed);
    s.minX = std::min(s.minX, a.minX);
    s.maxX = std::max(s.maxX, a.maxX);
    s.maxY = std::max(s.maxY, a.maxY);
    s.area += a.area;
    s.sides += a.sides;
    s.corners += a.corners;
    s.borderSides += a.borderSides;
    s.borderCorners += a.borderCorners;
    s.greySum += a.greySum;
    s.greySquares += a.greySquares;
    RegionStart& survivorStart = startAt(survivor);
    const RegionStart& absorbedStart = startAt(absorbed);
    survivorStart.minY = std::min(survivorStart.minY, absorbedStart.minY);
    survivorStart.exterior = (survivorStart.exterior || absorbedStart.exterior) ? 1 : 0;
    survivorStart.maskedPixels += absorbedStart.maskedPixels;
    if (findMoments_) {
        Moments& sm = momentsAt(survivor);
        const Moments& am = momentsAt(absorbed);
        sm.sumX += am.sumX;
        sm.sumY += am.sumY;
        sm.sumXX += am.sumXX;
        sm.sumYY += am.sumYY;
        sm.sumXY += am.sumXY;
    }
}

// During the sweep a run adds to the region number it was given, which may
// have been absorbed since; the sums gather in the survivors only at the end of
// the stripe. Region numbers a record keeps (a parent) are resolved the same
// way. A region is absorbed only by a lower number, so in rising order each
// region's survivor already points at its final survivor: one step leaves
// every region pointing straight at it, for what follows.
void Labeller::gatherOwn() {
    int* survivorOf = survivorOf_.data();
    for (std::size_t i = 1; i < survivorOf_.size(); ++i) {
        const int survivor = survivorOf[survivorOf[i]];
        survivorOf[i] = survivor;
        if (survivor != static_cast<int>(i)) Subsume(static_cast<int>(i), survivor);
    }
}

void Labeller::finish() {
    // Regions that survived their stripes and met at the seam: their sums
    // gather the same way.
    if (lower_) {
        int* survivorOf = survivorOf_.data();
        for (std::size_t i = 1; i < survivorOf_.size(); ++i) survivorOf[i] = survivorOf[survivorOf[i]];
        for (int region : relinked_) Subsume(region, survivorOf[region]);
    }
    // The frame is no part of the picture; neither are masked-out pixels.
    Region& exterior = regions_[0];
    exterior.area -= starts_[0].maskedPixels + 2 * (static_cast<std::int64_t>(rows_) + cols_) + 4;
    exterior.sides -= 8;

    if (!findMoments_) return;
    for (std::size_t i = 0; i < survivorOf_.size(); ++i) {
        if (survivorOf_[i] != static_cast<int>(i)) continue;
        Moments& r = momentsAt(static_cast<int>(i));
        const double a = static_cast<double>(regionAt(static_cast<int>(i)).area);
        if (a > 0) {
            r.sumX /= a;
            r.sumY /= a;
            r.sumXX = r.sumXX / a - r.sumX * r.sumX;
            r.sumYY = r.sumYY / a - r.sumY * r.sumY;
            r.sumXY = r.sumXY / a - r.sumX * r.sumY;
            if (r.sumXY > -1e-14 && r.sumXY < 1e-14) r.sumXY = 0;
        } else {
            // A region with no pixels left (the frame alone) has no centre.
            r = Moments();
        }
    }
}

// The grey mean and sample standard deviation of A pixels from their sums.
void greyStatistics(double a, double s, double q, double& mean, double& stdDev) {
    // Rounding can leave a tiny negative variance for a flat region.
    stdDev = a <= 1 ? 0 : std::sqrt(std::max(0.0, (q * a - s * s) / ((a - 1) * a)));
    mean = a > 0 ? s / a : 0;
}

// The record of a surviving region.
void Labeller::describe(int number, CBlob& blob) {
    const Region& r = regionAt(number);
    blob.label = labelOf(number);
    const RegionStart& start = startAt(number);
    blob.exterior = start.exterior;
    blob.area = static_cast<double>(r.area);
    blob.perimeter = static_cast<double>(r.sides) - static_cast<double>(r.corners) * kCutCorner;
    blob.externPerimeter = static_cast<double>(r.borderSides) - static_cast<double>(r.borderCorners) * kCutCorner;
    blob.parent = labelOf(regionOf(parentOf(number)));
    if (findMoments_) {
        const Moments& moments = momentsAt(number);
        blob.sumX = moments.sumX;
        blob.sumY = moments.sumY;
        blob.sumXX = moments.sumXX;
        blob.sumYY = moments.sumYY;
        blob.sumXY = moments.sumXY;
    }
    blob.minX = r.minX;
    blob.maxX = r.maxX;
    blob.minY = start.minY;
    blob.maxY = r.maxY;
    greyStatistics(blob.area, static_cast<double>(r.greySum), static_cast<double>(r.greySquares), blob.mean,
                   blob.stdDev);
}

// The points the sweep logged, waiting to be sorted into the lists of the
// blobs: list k belongs to the k-th surviving region and holds the points of
// every region it absorbed, row by row.
class LoggedEdges : public EdgeSource {
public:
    std::vector<LoggedStripe> stripes;  // one or two, in picture order
    std::vector<int> survivorOf;        // of every region, flattened: its survivor
    std::size_t lists = 0;

private:
    // Where the next point of each list goes, for one stripe.
    struct Cursor {
        const LoggedStripe& stripe;
        const int* listOf;  // by the stripe's own region numbers
        std::vector<cv::Point*> next;
    };

    Placed place() override {
        std::vector<int> listOf(survivorOf.size());
        std::size_t list = 0;
        for (std::size_t i = 0; i < survivorOf.size(); ++i)
            listOf[i] = survivorOf[i] == static_cast<int>(i) ? static_cast<int>(list++) : listOf[survivorOf[i]];
        // Counted stripe by stripe, so that each stripe's points of a list
        // follow the stripe above's.
        std::vector<std::vector<std::size_t>> counts;
        for (const LoggedStripe& stripe : stripes) counts.push_back(countByList(stripe, listOf.data() + stripe.regionOffset));
        Placed placed;
        placed.starts.assign(lists + 1, 0);
        for (std::size_t k = 0; k < lists; ++k) {
            std::size_t points = 0;
            for (const std::vector<std::size_t>& count : counts) points += count[k];
            placed.starts[k + 1] = placed.starts[k] + points;
        }
        placed.points = rawBuffer(placed.starts[lists]);
        std::vector<Cursor> cursors;
        for (std::size_t s = 0; s < stripes.size(); ++s) {
            cursors.push_back({stripes[s], listOf.data() + stripes[s].regionOffset, std::vector<cv::Point*>(lists)});
            for (std::size_t k = 0; k < lists; ++k) {
                cursors[s].next[k] = placed.points.get() + placed.starts[k];
                for (std::size_t above = 0; above < s; ++above) cursors[s].next[k] += counts[above][k];
            }
        }
        if (cursors.size() == 2)
            placeSideBySide(cursors[0], cursors[1]);
        else
            placeRows(cursors[0], 0, cursors[0].stripe.rowStarts[0]);
        stripes.clear();
        std::vector<int>().swap(survivorOf);
        return placed;
    }
    std::vector<std::size_t> countByList(const LoggedStripe& stripe, const int* listOf) const {
        std::vector<std::size_t> count(lists, 0);
        const EdgePoint* points = stripe.log.data();
        for (std::size_t i = stripe.rowStarts.front(); i < stripe.rowStarts.back(); ++i) ++count[listOf[points[i].region]];
        return count;
    }
    static void placeSideBySide(Cursor& a, Cursor& b);
    static void placeRows(Cursor& cursor, std::size_t row, std::size_t i);
};

// The rows of a stripe from row on (its i-th point, the first left to place,
// lies in that row).
void LoggedEdges::placeRows(Cursor& cursor, std::size_t row, std::size_t i) {
    const LoggedStripe& stripe = cursor.stripe;
    const EdgePoint* points = stripe.log.data();
    cv::Point** next = cursor.next.data();
    for (; row < stripe.rows(); ++row) {
        const int y = stripe.firstY + static_cast<int>(row);
        for (; i < stripe.rowStarts[row + 1]; ++i) new (next[cursor.listOf[points[i].region]]++) cv::Point(points[i].x, y);
    }
}

// The two stripes are placed side by side: two chains of stores that do not
// wait for each other.
void LoggedEdges::placeSideBySide(Cursor& a, Cursor& b) {
    const LoggedStripe &upper = a.stripe, &lower = b.stripe;
    const EdgePoint* pointsA = upper.log.data();
    const EdgePoint* pointsB = lower.log.data();
    cv::Point** nextA = a.next.data();
    cv::Point** nextB = b.next.data();
    std::size_t rowA = 0, rowB = 0, i = upper.rowStarts[0], j = lower.rowStarts[0];
    while (rowA < upper.rows() && rowB < lower.rows()) {
        const std::size_t endA = upper.rowStarts[rowA + 1], endB = lower.rowStarts[rowB + 1];
        const std::size_t n = std::min(endA - i, endB - j);
        const int yA = upper.firstY + static_cast<int>(rowA), yB = lower.firstY + static_cast<int>(rowB);
        for (std::size_t k = 0; k < n; ++k) {
            const EdgePoint p = pointsA[i + k], q = pointsB[j + k];
            new (nextA[a.listOf[p.region]]++) cv::Point(p.x, yA);
            new (nextB[b.listOf[q.region]]++) cv::Point(q.x, yB);
        }
        i += n;
        j += n;
        rowA += i == endA;
        rowB += j == endB;
    }
    placeRows(a, rowA, i);
    placeRows(b, rowB, j);
}

// This stripe's log, for the blobs to place.
LoggedStripe Labeller::takeLog(std::size_t regionOffset) {
    LoggedStripe stripe;
    rowStarts_.push_back(edges_.size());
    stripe.rowStarts = rowStarts_;
    stripe.firstY = firstRow_ - 1;
    stripe.regionOffset = regionOffset;
    lastEdges_ = edges_.size();
    std::swap(stripe.log, edges_);
    return stripe;
}

// Blobs, in the order of their regions, with the lists of the logged points.
void Labeller::appendBlobs(std::vector<CBlob>& blobs, std::shared_ptr<EdgeSource>* keeper) {
    auto logged = std::make_shared<LoggedEdges>();
    std::size_t survivors = 0;
    for (std::size_t i = 0; i < survivorOf_.size(); ++i) survivors += survivorOf_[i] == static_cast<int>(i);
    logged->lists = survivors;
    logged->survivorOf = survivorOf_;  // flattened by finish
    logged->stripes.push_back(takeLog(0));
    if (lower_) logged->stripes.push_back(lower_->takeLog(static_cast<std::size_t>(lowerOffset_)));
    const std::shared_ptr<EdgeSource> edges = logged;
    const std::size_t before = blobs.size();
    blobs.reserve(before + survivors);
    try {
        std::size_t list = 0;
        for (std::size_t i = 0; i < survivorOf_.size(); ++i) {
            if (survivorOf_[i] != static_cast<int>(i)) continue;
            CBlob& blob = blobs.emplace_back();
            describe(static_cast<int>(i), blob);
            if (keeper)
                blob.edges.borrow(*logged, list);
            else
                blob.edges = EdgeList(edges, list);
            ++list;
        }
    } catch (...) {
        blobs.erase(blobs.begin() + static_cast<std::ptrdiff_t>(before), blobs.end());
        throw;
    }
    if (keeper) *keeper = edges;
}

bool isGreyPicture(const cv::Mat& image) { return !image.empty() && image.type() == CV_8UC1; }

cv::Size wholeSizeOf(const cv::Mat& image) {
    cv::Size whole;
    cv::Point offset;
    image.locateROI(whole, offset);
    return whole;
}

// A busy picture is swept as two stripes, the lower one on the stripe thread,
// when that saves more than handing the stripe over costs (up to tens of
// microseconds, against about 25 ns a run). How busy it is comes from a few
// sample rows.
constexpr int kSampleRows = 8;
constexpr long kRunsWorthAThread = 8000;
constexpr int kFewestStripeRows = 16;

long estimatedRuns(const cv::Mat& source, uchar threshold) {
    long changes = 0;
    for (int k = 0; k < kSampleRows; ++k) {
        const uchar* row = source.ptr<uchar>((2 * k + 1) * source.rows / (2 * kSampleRows));
        bool previous = row[0] > threshold;
        for (int x = 1; x < source.cols; ++x) {
            const bool bright = row[x] > threshold;
            changes += bright != previous;
            previous = bright;
        }
    }
    return (changes / kSampleRows + 1) * source.rows;
}

bool worthTwoStripes(const cv::Mat& source, uchar threshold) {
    return source.rows >= 2 * kFewestStripeRows && std::thread::hardware_concurrency() > 1 &&
           estimatedRuns(source, threshold) >= kRunsWorthAThread;
}

// A thread kept for lower stripes: a new thread for every picture would start
// wherever the system puts it, often on the caller's own core.
class StripeThread {
public:
    static StripeThread& instance() {
        static StripeThread* const kept = new StripeThread;  // runs until the program ends
        return *kept;
    }
    // Starts job on the stripe thread; false when it is busy with another
    // caller's stripe.
    bool start(const std::function<void()>& job) {
        std::lock_guard<std::mutex> hold(lock_);
        if (job_ || !thread_.joinable()) return false;
        job_ = job;
        done_ = false;
        wake_.notify_one();
        return true;
    }
    void wait() {
        std::unique_lock<std::mutex> hold(lock_);
        wake_.wait(hold, [this] { return done_; });
        job_ = nullptr;
    }

private:
    StripeThread() {
        try {
            thread_ = std::thread([this] { serve(); });
        } catch (const std::system_error&) {
            // Without a thread every picture is swept on its caller's.
        }
    }
    void serve() {
        std::unique_lock<std::mutex> hold(lock_);
        for (;;) {
            wake_.wait(hold, [this] { return job_ && !done_; });
            hold.unlock();
            job_();
            hold.lock();
            done_ = true;
            wake_.notify_all();
        }
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::function<void()> job_;
    bool done_ = true;
    std::thread thread_;
};

// The upper stripe on this thread, the lower beside it; then the upper takes
// the lower's regions over. With the stripe thread busy, one after the other.
void labelInTwoStripes(Labeller& upper, Labeller& lower, int seam, int lastRow) {
    std::exception_ptr lowerFailure, upperFailure;
    const auto labelLower = [&] {
        try {
            lower.label(seam + 1, lastRow);
        } catch (...) {
            lowerFailure = std::current_exception();
        }
    };
    StripeThread& beside = StripeThread::instance();
    const bool started = beside.start(labelLower);
    try {
        upper.label(1, seam);
    } catch (...) {
        upperFailure = std::current_exception();
    }
    if (started)
        beside.wait();
    else
        labelLower();
    if (upperFailure) std::rethrow_exception(upperFailure);
    if (lowerFailure) std::rethrow_exception(lowerFailure);
    upper.absorbLower(lower);
}

bool labelInto(const cv::Mat& source, uchar threshold, const cv::Mat& mask, bool borderColour, bool findMoments,
               std::vector<CBlob>& blobs, std::shared_ptr<EdgeSource>* keeper) {
    if (!isGreyPicture(source)) return false;
    if (!mask.empty() && (mask.type() != CV_8UC1 || mask.size() != wholeSizeOf(source))) return false;
    thread_local Scratch upperScratch, lowerScratch;
    Labeller labeller(source, threshold, mask, borderColour, findMoments, upperScratch);
    std::optional<Labeller> lower;  // kept until the blobs are made: they read its sums
    const int lastRow = source.rows + 1;  // the frame row below the picture
    if (worthTwoStripes(source, threshold)) {
        lower.emplace(source, threshold, mask, borderColour, findMoments, lowerScratch);
        labelInTwoStripes(labeller, *lower, lastRow / 2, lastRow);
    } else {
        labeller.label(1, lastRow);
    }
    labeller.finish();
    labeller.appendBlobs(blobs, keeper);
    upperScratch.trim();
    lowerScratch.trim();
    return true;
}

}  // namespace

bool BlobAnalysis(const cv::Mat& source, uchar threshold, const cv::Mat& mask, bool borderColour,
                  bool findMoments, std::vector<CBlob>& blobs) {
    return labelInto(source, threshold, mask, borderColour, findMoments, blobs, nullptr);
}

bool BlobAnalysis(const cv::Mat& source, uchar threshold, const cv::Mat& mask, bool borderColour,
                  bool findMoments, std::vector<CBlob>& blobs, std::shared_ptr<EdgeSource>& keeper) {
    return labelInto(source, threshold, mask, borderColour, findMoments, blobs, &keeper);
}

double GetExternPerimeter(int start, int end, int row, int width, int height, const cv::Mat* perimeterImage) {
    if (perimeterImage && perimeterImage->empty()) perimeterImage = nullptr;
    return externPerimeterOf(start, end, row, width, height, perimeterImage);
}
