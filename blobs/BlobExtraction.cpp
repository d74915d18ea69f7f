#include "blobs/BlobExtraction.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <memory>

// The picture is swept row by row as runs of one colour. Each run is compared
// with the overlapping runs of the row above (8-connectivity: touching at a
// corner counts) and either joins their region, starts a new one, or merges two
// regions, the higher region number being absorbed into the lower. Coordinates
// are those of a grid with a one-cell frame around the picture: picture pixel
// (x, y) is grid cell (x + 1, y + 1), and the frame has the border colour.

namespace {

// Perimeter corrections where the outline cuts a corner diagonally instead of
// following two pixel sides: one corner saves 2 - sqrt(2), two save twice that.
constexpr double kOneCorner = 0.5857864376269;
constexpr double kTwoCorners = 1.1715728752538;

// Running sums of one region during the sweep. Areas, moments and grey levels
// are whole numbers, so the order in which runs and absorbed regions add to
// them does not change the result; the perimeters are added in sweep order.
struct Region {
    double area = 0;
    double perimeter = 0;
    double externPerimeter = 0;
    int exterior = 0;
    int parent = -1;
    int minX = INT_MAX, maxX = 0, minY = INT_MAX, maxY = 0;
    double sumX = 0, sumY = 0, sumXX = 0, sumYY = 0, sumXY = 0;
    std::uint64_t greySum = 0;
    std::uint64_t greySquares = 0;
    std::uint64_t maskedPixels = 0;
};

// One edge point as the sweep finds it: the region it went to and its x (its
// row is known from where the row's points start in the log). Points are logged
// in one array in sweep order and placed into the blobs' own lists at the end.
struct EdgePoint {
    int region;
    int x;
};

// A region absorbed by another: its points follow the survivor's first offset
// points; the survivor's later points follow them. loggedBefore: the number of
// points logged when it happened.
struct Absorption {
    int absorbed;
    int survivor;
    int offset;
    std::size_t loggedBefore;
};

// A growing array of plain records that keeps its memory between pictures and
// does not clear it (every slot is written before it is read).
template <typename T>
class Log {
public:
    void clear() { size_ = 0; }
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    const T& operator[](std::size_t i) const { return data_[i]; }
    // Room for n more records, so that push needs no check.
    void reserveMore(std::size_t n) {
        if (size_ + n <= capacity_) return;
        const std::size_t capacity = std::max(size_ + n, 2 * capacity_);
        std::unique_ptr<T[]> grown(new T[capacity]);
        std::copy(data_.get(), data_.get() + size_, grown.get());
        data_ = std::move(grown);
        capacity_ = capacity;
    }
    void push(const T& record) { data_[size_++] = record; }
    void release() {
        data_.reset();
        size_ = capacity_ = 0;
    }

private:
    std::unique_ptr<T[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// The labeller's growing tables, kept per thread between pictures so that a
// camera loop does not allocate and fault in fresh memory for every frame.
struct Scratch {
    std::vector<Region> regions;
    std::vector<int> survivorOf;
    std::vector<int> edgeCount;  // points logged for each region, its absorbed regions' included
    Log<EdgePoint> edges;
    std::vector<std::size_t> rowStarts;  // where each pixel row's points begin in edges
    std::vector<Absorption> absorptions;

    void clear() {
        regions.clear();
        survivorOf.clear();
        edgeCount.clear();
        edges.clear();
        rowStarts.clear();
        absorptions.clear();
    }
    // After an unusually busy picture the memory goes back.
    void trim() {
        constexpr std::size_t kKeptBytes = 128u << 20;
        const std::size_t bytes = regions.capacity() * sizeof(Region) +
                                  (survivorOf.capacity() + edgeCount.capacity()) * sizeof(int) +
                                  edges.capacity() * sizeof(EdgePoint) + absorptions.capacity() * sizeof(Absorption);
        if (bytes <= kKeptBytes) return;
        std::vector<Region>().swap(regions);
        std::vector<int>().swap(survivorOf);
        std::vector<int>().swap(edgeCount);
        std::vector<std::size_t>().swap(rowStarts);
        edges.release();
        std::vector<Absorption>().swap(absorptions);
    }
};

// The runs of one grid row: the columns where the colour changes, then the
// terminator cols + 2. Run k spans start(k) .. end(k); even runs have the border
// colour. The grey sums of the row's pixels up to each column let a run's grey
// levels be read in constant time.
struct RunRow {
    std::vector<int> transitions;
    int runs = 0;
    int start(int k) const { return k == 0 ? 0 : transitions[k - 1]; }
    int end(int k) const { return transitions[k] - 1; }
    // Over the pixels left of pixel column x (x = 0 .. cols), the masked ones left out.
    std::vector<std::uint64_t> greyUpTo, squaresUpTo;
    std::vector<int> maskedUpTo;
};

// What a run adds to its region in one comparison.
struct RunContribution {
    double area = 0;
    double perimeter = 0;
    double externPerimeter = 0;
    double overlap = 0;
    int parent = -1;
    bool statistics = false;  // area, moments, grey levels and box are counted once per run
};

// One comparison of a run of this row with a run of the row above.
struct Comparison {
    int kind;  // which of the eight ways the two runs lie, see selectCase
    int thisStart, thisEnd, lastStart, lastEnd;
    int thisRegion, lastRegion;
    bool sameColour;
    bool thisAssigned;
    bool touchingBorder;   // decides whether the run adds to the external perimeter
    bool onPictureBorder;  // the run lies on the picture's edge or next to a masked pixel
    double borderLength;
    int nextThis, nextLast;
    RunContribution run;
};

int selectCase(const Comparison& c) {
    if (c.thisStart > c.lastEnd + 1) return 1;  // last run lies wholly to the left
    if (c.thisEnd < c.lastStart) return 8;      // this run lies wholly to the left
    if (c.lastStart < c.thisStart) {
        if (c.thisEnd > c.lastEnd) return 2;
        if (c.thisEnd < c.lastEnd) return 3;
        return 4;
    }
    if (c.thisEnd == c.lastEnd) return 5;
    if (c.thisEnd > c.lastEnd) return 6;
    return 7;
}

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

class Labeller {
public:
    Labeller(const cv::Mat& source, uchar threshold, const cv::Mat& mask, bool borderColour, bool findMoments,
             Scratch& scratch)
        : source_(source), mask_(mask), threshold_(threshold), borderColour_(borderColour ? 1 : 0),
          findMoments_(findMoments), cols_(source.cols), rows_(source.rows), regions_(scratch.regions),
          survivorOf_(scratch.survivorOf), edgeCount_(scratch.edgeCount), edges_(scratch.edges),
          rowStarts_(scratch.rowStarts), absorptions_(scratch.absorptions) {
        scratch.clear();
        cv::Size whole;
        cv::Point offset;
        source.locateROI(whole, offset);
        wholeWidth_ = whole.width;
        wholeHeight_ = whole.height;
    }

    void label();
    void appendBlobs(std::vector<CBlob*>& blobs);

private:
    void setUp();
    void buildRow(int gridRow, RunRow& row);
    void sumGreyLevels(int y, RunRow& row);
    void markMaskBoundary(int y);
    void sweepRow(int gridRow);
    void compare(Comparison& c, int gridRow);
    void applyCase(Comparison& c);
    void join(Comparison& c);
    void newRegion(Comparison& c);
    void merge(Comparison& c);
    void pushEdges(const Comparison& c);
    void countStatistics(const Comparison& c, int gridRow);
    void accumulate(const Comparison& c, int gridRow);
    void finish();
    bool liesOnPictureBorder(int start, int end, int gridRow) const;

    int NewSubsume();
    void Subsume(int absorbed, int survivor);
    int regionOf(int region);
    void pushEdge(int region, int x) {
        edges_.push({region, x});
        ++edgeCount_[region];
    }
    void placeEdges(const std::vector<CBlob*>& blobOf);

    const cv::Mat& source_;
    const cv::Mat& mask_;
    const uchar threshold_;
    const uchar borderColour_;
    const bool findMoments_;
    const int cols_;
    const int rows_;
    int wholeWidth_ = 0;
    int wholeHeight_ = 0;

    cv::Mat externPerimeterImage_;  // only with a mask
    RunRow lastRuns_, thisRuns_;
    std::vector<int> lastRegions_, thisRegions_;  // region number of each run, -1 unassigned
    std::vector<uchar> colours_;                 // one grid row being coded

    std::vector<Region>& regions_;
    // Union-find over region numbers: an absorbed region points at the region
    // that absorbed it, so the region arrays of the two rows are relabelled
    // lazily when read instead of being rewritten at every merge.
    std::vector<int>& survivorOf_;
    std::vector<int>& edgeCount_;
    Log<EdgePoint>& edges_;
    std::vector<std::size_t>& rowStarts_;
    std::vector<Absorption>& absorptions_;
};

void Labeller::label() {
    setUp();
    for (int gridRow = 1; gridRow <= rows_ + 1; ++gridRow) sweepRow(gridRow);
    finish();
}

void Labeller::setUp() {
    const std::size_t gridCols = static_cast<std::size_t>(cols_) + 2;
    for (RunRow* row : {&lastRuns_, &thisRuns_}) {
        row->transitions.assign(gridCols + 1, 0);
        row->greyUpTo.assign(static_cast<std::size_t>(cols_) + 1, 0);
        row->squaresUpTo.assign(static_cast<std::size_t>(cols_) + 1, 0);
        row->maskedUpTo.assign(static_cast<std::size_t>(cols_) + 1, 0);
    }
    lastRegions_.assign(gridCols, -1);
    thisRegions_.assign(gridCols, -1);
    colours_.assign(gridCols, borderColour_);
    if (!mask_.empty()) externPerimeterImage_ = cv::Mat::zeros(mask_.size(), CV_8UC1);

    // Region 0 holds the frame; grid row 0 is one run of it.
    Region exterior;
    exterior.area = cols_ + 2;
    exterior.perimeter = 2.0 * (cols_ + 2) + 2;
    regions_.push_back(exterior);
    survivorOf_.push_back(0);
    edgeCount_.push_back(0);
    thisRuns_.transitions[0] = cols_ + 2;
    thisRuns_.runs = 1;
    thisRegions_[0] = 0;
}

// Codes grid row gridRow into runs; rows beyond the picture are all frame.
void Labeller::buildRow(int gridRow, RunRow& row) {
    int* transitions = row.transitions.data();
    int count = 0;
    if (gridRow <= rows_) {
        const int y = gridRow - 1;
        const uchar* pixels = source_.ptr<uchar>(y);
        uchar* colours = colours_.data() + 1;
        for (int x = 0; x < cols_; ++x) colours[x] = pixels[x] > threshold_ ? 1 : 0;
        if (!mask_.empty()) {
            const uchar* maskRow = mask_.ptr<uchar>(y);
            for (int x = 0; x < cols_; ++x)
                if (maskRow[x] == 0) colours[x] = borderColour_;
            markMaskBoundary(y);
        }
        // colours_ holds the frame colour at both ends; record every change of
        // colour without branching on the (often random) pixel values.
        const uchar* grid = colours_.data();
        for (int column = 1; column <= cols_ + 1; ++column) {
            transitions[count] = column;
            count += grid[column] != grid[column - 1];
        }
        sumGreyLevels(y, row);
    }
    transitions[count] = cols_ + 2;
    row.runs = count + 1;
}

void Labeller::sumGreyLevels(int y, RunRow& row) {
    const uchar* pixels = source_.ptr<uchar>(y);
    std::uint64_t* grey = row.greyUpTo.data();
    std::uint64_t* squares = row.squaresUpTo.data();
    std::uint64_t sum = 0, sumOfSquares = 0;
    if (mask_.empty()) {
        for (int x = 0; x < cols_; ++x) {
            const unsigned p = pixels[x];
            sum += p;
            sumOfSquares += p * p;
            grey[x + 1] = sum;
            squares[x + 1] = sumOfSquares;
        }
        return;
    }
    const uchar* maskRow = mask_.ptr<uchar>(y);
    int* masked = row.maskedUpTo.data();
    int maskedCount = 0;
    for (int x = 0; x < cols_; ++x) {
        const unsigned inside = maskRow[x] != 0;
        const unsigned p = pixels[x] * inside;
        sum += p;
        sumOfSquares += p * p;
        maskedCount += 1 - static_cast<int>(inside);
        grey[x + 1] = sum;
        squares[x + 1] = sumOfSquares;
        masked[x + 1] = maskedCount;
    }
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
    std::swap(lastRuns_, thisRuns_);
    std::swap(lastRegions_, thisRegions_);
    buildRow(gridRow, thisRuns_);
    std::fill_n(thisRegions_.begin(), thisRuns_.runs, -1);
    // A comparison logs at most four edge points. Each moves on to the next run
    // of this row or of the last; only a corner contact steps back in the last
    // row, and it moves on in this row.
    edges_.reserveMore(8 * (static_cast<std::size_t>(thisRuns_.runs) + lastRuns_.runs + 1));
    rowStarts_.push_back(edges_.size());

    const cv::Mat* perimeterImage = externPerimeterImage_.empty() ? nullptr : &externPerimeterImage_;
    int borderRunOf = -1;  // the run whose border values are known
    double borderLength = 0;
    bool touchingBorder = false;
    bool onPictureBorder = false;
    int thisIndex = 0, lastIndex = 0;
    const int thisRuns = thisRuns_.runs;
    const int lastRuns = lastRuns_.runs;
    while (lastIndex < lastRuns && thisIndex < thisRuns) {
        Comparison c;
        c.thisStart = thisRuns_.start(thisIndex);
        c.thisEnd = thisRuns_.end(thisIndex);
        c.lastStart = lastRuns_.start(lastIndex);
        c.lastEnd = lastRuns_.end(lastIndex);
        c.thisRegion = regionOf(thisRegions_[thisIndex]);
        c.lastRegion = regionOf(lastRegions_[lastIndex]);
        c.sameColour = ((thisIndex ^ lastIndex) & 1) == 0;
        c.thisAssigned = c.thisRegion >= 0;
        if (borderRunOf != thisIndex) {
            borderLength = externPerimeterOf(c.thisStart, c.thisEnd, gridRow, wholeWidth_, wholeHeight_,
                                             perimeterImage);
            touchingBorder = c.thisStart <= 1 || c.thisEnd >= cols_ || borderLength != 0;
            onPictureBorder = liesOnPictureBorder(c.thisStart, c.thisEnd, gridRow);
            borderRunOf = thisIndex;
        }
        c.borderLength = borderLength;
        c.touchingBorder = touchingBorder;
        c.onPictureBorder = onPictureBorder;
        c.nextThis = thisIndex;
        c.nextLast = lastIndex;

        compare(c, gridRow);

        thisRegions_[thisIndex] = c.thisRegion;
        lastRegions_[lastIndex] = c.lastRegion;
        thisIndex = c.nextThis;
        lastIndex = c.nextLast;
    }
}

void Labeller::compare(Comparison& c, int gridRow) {
    c.kind = selectCase(c);
    applyCase(c);
    pushEdges(c);
    if (c.run.statistics) countStatistics(c, gridRow);
    accumulate(c, gridRow);
}

void Labeller::applyCase(Comparison& c) {
    RunContribution& run = c.run;
    const double length = c.thisEnd - c.thisStart + 1;
    const bool same = c.sameColour;
    switch (c.kind) {
    case 1:
        ++c.nextLast;
        break;
    case 2:  // this run starts inside the last one and reaches beyond it
        if (same) {
            join(c);
            run.area = length;
            run.overlap = c.lastEnd - c.thisStart + 1;
            run.perimeter = 2 * length + 2 - run.overlap - kTwoCorners;
            if (c.touchingBorder) run.externPerimeter = c.borderLength - kTwoCorners;
        }
        ++c.nextLast;
        break;
    case 3:  // this run lies strictly inside the last one
        if (same) {
            join(c);
            run.area = run.overlap = length;
            run.perimeter = length + 2 - kTwoCorners;
            if (c.touchingBorder) run.externPerimeter = c.borderLength - kTwoCorners;
        } else {
            newRegion(c);
        }
        ++c.nextThis;
        break;
    case 4:  // this run starts inside the last one, both end together
        if (same) {
            join(c);
            run.area = run.overlap = length;
            run.perimeter = length + 2 - kOneCorner;
            if (c.touchingBorder) run.externPerimeter = c.borderLength - kOneCorner;
            ++c.nextThis;
        } else {
            newRegion(c);
        }
        ++c.nextLast;
        break;
    case 5: {  // the last run starts inside this one, both end together
        const double corner = c.lastStart != c.thisStart ? kOneCorner : 0;
        const double overlap = c.lastEnd - c.lastStart + 1;
        if (same && !c.thisAssigned) {
            join(c);
            run.area = length;
            run.overlap = overlap;
            run.perimeter = 2 * length + 2 - overlap - corner;
            if (c.touchingBorder) run.externPerimeter = c.borderLength - corner;
        } else if (same) {
            run.overlap = overlap;
            run.perimeter = -2 * overlap - corner;
            merge(c);
        } else if (!c.thisAssigned) {
            newRegion(c);
        }
        ++c.nextLast;
        if (same) ++c.nextThis;
        break;
    }
    case 6:    // the last run lies inside this one
    case 7: {  // the last run starts inside this one and reaches beyond it
        const double overlap = c.kind == 6 ? c.lastEnd - c.lastStart + 1 : c.thisEnd - c.lastStart + 1;
        const double corners = c.thisStart != c.lastStart ? kTwoCorners : kOneCorner;
        if (same && !c.thisAssigned) {
            join(c);
            run.area = length;
            run.overlap = overlap;
            run.perimeter = 2 * length + 2 - overlap - corners;
            if (c.touchingBorder) run.externPerimeter = c.borderLength - corners;
        } else if (same) {
            run.overlap = overlap;
            run.perimeter = -2 * overlap - corners;
            merge(c);
        } else if (c.kind == 7 && !c.thisAssigned) {
            newRegion(c);
        }
        if (c.kind == 6)
            ++c.nextLast;
        else
            ++c.nextThis;
        break;
    }
    case 8:  // the runs touch only at a corner
        if (same) {
            merge(c);
            if (c.thisRegion >= 0) regions_[c.thisRegion].perimeter -= kTwoCorners;
        }
        --c.nextLast;
        ++c.nextThis;
        break;
    }
}

void Labeller::join(Comparison& c) {
    c.thisRegion = c.lastRegion;
    c.run.statistics = true;
}

void Labeller::newRegion(Comparison& c) {
    const double length = c.thisEnd - c.thisStart + 1;
    c.thisRegion = NewSubsume();
    c.run.parent = c.lastRegion;
    c.run.area = length;
    c.run.perimeter = 2 * length + 2;
    if (c.touchingBorder) c.run.externPerimeter = c.borderLength;
    c.run.statistics = true;
}

// Two regions turned out to be one: the higher number is absorbed by the lower.
void Labeller::merge(Comparison& c) {
    if (c.thisRegion < 0 || c.lastRegion < 0 || c.thisRegion == c.lastRegion) return;
    if (c.thisRegion > c.lastRegion) {
        Subsume(c.thisRegion, c.lastRegion);
        c.thisRegion = c.lastRegion;
    } else {
        Subsume(c.lastRegion, c.thisRegion);
        c.lastRegion = c.thisRegion;
    }
}

// Edge points mark where a row enters and leaves a region: x is the pixel just
// left of the run or its last pixel + 1.
void Labeller::pushEdges(const Comparison& c) {
    const int left = c.thisStart - 1;
    const int right = c.thisEnd;
    const int thisRegion = c.thisRegion;
    const int lastRegion = c.lastRegion;
    const bool thisSide = thisRegion >= 0;
    const bool lastSide = !c.sameColour && lastRegion >= 0 && lastRegion != thisRegion;
    switch (c.kind) {
    case 1:
        if (thisSide) pushEdge(thisRegion, left);
        if (lastRegion >= 0) pushEdge(lastRegion, right);
        break;
    case 2:
        if (thisSide) {
            pushEdge(thisRegion, left);
            pushEdge(thisRegion, right);
        }
        if (lastSide) pushEdge(lastRegion, left);
        break;
    case 3:
    case 4:
        if (thisSide) {
            pushEdge(thisRegion, left);
            pushEdge(thisRegion, right);
        }
        if (lastSide) {
            pushEdge(lastRegion, left);
            pushEdge(lastRegion, right);
        }
        break;
    case 5:
    case 6:
    case 7:
        if (thisSide) {
            pushEdge(thisRegion, right);
            pushEdge(thisRegion, left);
        }
        if (lastSide && c.kind == 5) pushEdge(lastRegion, right);
        if (lastSide && c.kind == 7) pushEdge(lastRegion, right);
        if (lastSide && thisSide && c.kind != 5) pushEdge(thisRegion, left);
        break;
    case 8:
        if (thisSide) pushEdge(thisRegion, left);
        if (lastSide) pushEdge(lastRegion, left);
        break;
    }
}

void Labeller::countStatistics(const Comparison& c, int gridRow) {
    if (c.thisRegion < 0) return;
    const int y = gridRow - 1;
    Region& region = regions_[c.thisRegion];
    if (findMoments_) {
        // Pixel columns thisStart - 1 .. thisEnd - 1, frame cells included.
        const double sumX = sumOfRange(c.thisStart - 1, c.thisEnd - 1);
        region.sumX += sumX;
        region.sumXX += sumOfSquares(c.thisStart - 1, c.thisEnd - 1);
        region.sumY += c.run.area * y;
        region.sumXY += sumX * y;
        region.sumYY += c.run.area * y * y;
    }
    if (gridRow <= rows_) {
        // Pixels first .. last - 1 of the run, frame cells left out.
        const int first = std::max(c.thisStart, 1) - 1;
        const int last = std::min(c.thisEnd, cols_);
        if (first < last) {
            region.greySum += thisRuns_.greyUpTo[last] - thisRuns_.greyUpTo[first];
            region.greySquares += thisRuns_.squaresUpTo[last] - thisRuns_.squaresUpTo[first];
            if (!mask_.empty())
                region.maskedPixels += static_cast<std::uint64_t>(thisRuns_.maskedUpTo[last] - thisRuns_.maskedUpTo[first]);
        }
    }
}

void Labeller::accumulate(const Comparison& c, int gridRow) {
    if (c.thisRegion < 0) return;
    const RunContribution& run = c.run;
    Region& region = regions_[c.thisRegion];
    if (run.parent >= 0) region.parent = run.parent;
    region.area += run.area;
    region.perimeter += run.perimeter;
    region.externPerimeter += run.externPerimeter;
    if (run.statistics) {
        region.perimeter -= run.overlap;
        region.minX = std::min(region.minX, std::max(c.thisStart - 1, 0));
        region.maxX = std::max(region.maxX, c.thisEnd);
        region.minY = std::min(region.minY, gridRow - 1);
        region.maxY = std::max(region.maxY, gridRow);
    }
    if (c.onPictureBorder) region.exterior = 1;
}

// The external perimeter's border test is loose near the bottom and right edges
// and misses one-pixel runs on the top row, so whether a region reaches the
// picture's edge is decided here from the run itself.
bool Labeller::liesOnPictureBorder(int start, int end, int gridRow) const {
    if (start <= 1 || end >= cols_ || gridRow <= 1 || gridRow >= rows_) return true;
    if (externPerimeterImage_.empty()) return false;
    const uchar* outsideNeighbours = externPerimeterImage_.ptr<uchar>(gridRow - 1);
    for (int column = start; column <= end; ++column)
        if (outsideNeighbours[column] != 0) return true;
    return false;
}

// A new region: the next number, alive.
int Labeller::NewSubsume() {
    const int number = static_cast<int>(regions_.size());
    regions_.emplace_back();
    survivorOf_.push_back(number);
    edgeCount_.push_back(0);
    return number;
}

void Labeller::Subsume(int absorbed, int survivor) {
    Region& s = regions_[survivor];
    Region& a = regions_[absorbed];
    s.minX = std::min(s.minX, a.minX);
    s.minY = std::min(s.minY, a.minY);
    s.maxX = std::max(s.maxX, a.maxX);
    s.maxY = std::max(s.maxY, a.maxY);
    s.area += a.area;
    s.perimeter += a.perimeter;
    s.externPerimeter += a.externPerimeter;
    s.exterior = (s.exterior || a.exterior) ? 1 : 0;
    s.greySum += a.greySum;
    s.greySquares += a.greySquares;
    s.maskedPixels += a.maskedPixels;
    s.sumX += a.sumX;
    s.sumY += a.sumY;
    s.sumXX += a.sumXX;
    s.sumYY += a.sumYY;
    s.sumXY += a.sumXY;
    // The absorbed region's edge points follow the survivor's so far.
    absorptions_.push_back({absorbed, survivor, edgeCount_[survivor], edges_.size()});
    edgeCount_[survivor] += edgeCount_[absorbed];
    // Regions enclosed by the absorbed one now lie in the survivor; their parent
    // numbers are resolved through survivorOf_ at the end.
    survivorOf_[absorbed] = survivor;
}

int Labeller::regionOf(int region) {
    if (region < 0) return region;
    while (survivorOf_[region] != region) {
        survivorOf_[region] = survivorOf_[survivorOf_[region]];
        region = survivorOf_[region];
    }
    return region;
}

void Labeller::finish() {
    // The frame is no part of the picture; neither are masked-out pixels.
    Region& exterior = regions_[0];
    exterior.area -= static_cast<double>(exterior.maskedPixels) + 2.0 * (rows_ + cols_) + 4;
    exterior.perimeter -= 8;

    if (!findMoments_) return;
    for (std::size_t i = 0; i < regions_.size(); ++i) {
        if (survivorOf_[i] != static_cast<int>(i)) continue;
        Region& r = regions_[i];
        const double a = r.area;
        if (a > 0) {
            r.sumX /= a;
            r.sumY /= a;
            r.sumXX = r.sumXX / a - r.sumX * r.sumX;
            r.sumYY = r.sumYY / a - r.sumY * r.sumY;
            r.sumXY = r.sumXY / a - r.sumX * r.sumY;
            if (r.sumXY > -1e-14 && r.sumXY < 1e-14) r.sumXY = 0;
        } else {
            // A region with no pixels left (the frame alone) has no centre.
            r.sumX = r.sumY = r.sumXX = r.sumYY = r.sumXY = 0;
        }
    }
}

// Every logged point goes to its place in the list of the region that holds
// it at the end: a point's place in its own region's list, shifted by where
// that region's list landed in each region that absorbed it in turn.
void Labeller::placeEdges(const std::vector<CBlob*>& blobOf) {
    std::vector<int> holder(regions_.size()), shift(regions_.size(), 0);
    for (std::size_t i = 0; i < holder.size(); ++i) holder[i] = static_cast<int>(i);
    // Later absorptions first, so that the survivor's own place is already known.
    for (auto it = absorptions_.rbegin(); it != absorptions_.rend(); ++it) {
        holder[it->absorbed] = holder[it->survivor];
        shift[it->absorbed] = shift[it->survivor] + it->offset;
    }
    // Where each region's next point goes: its own points follow those of the
    // regions it absorbed before them.
    std::vector<cv::Point*> next(regions_.size(), nullptr);
    for (std::size_t i = 0; i < regions_.size(); ++i)
        if (blobOf[holder[i]]) next[i] = blobOf[holder[i]]->edges.data() + shift[i];
    rowStarts_.push_back(edges_.size());
    auto absorption = absorptions_.begin();
    for (std::size_t y = 0; y + 1 < rowStarts_.size(); ++y) {
        std::size_t i = rowStarts_[y];
        const std::size_t rowEnd = rowStarts_[y + 1];
        while (i < rowEnd) {
            for (; absorption != absorptions_.end() && absorption->loggedBefore <= i; ++absorption) {
                const Absorption& a = *absorption;
                next[a.survivor] = blobOf[holder[a.survivor]]->edges.data() + shift[a.survivor] + a.offset +
                                   edgeCount_[a.absorbed];
            }
            const std::size_t stop =
                absorption == absorptions_.end() ? rowEnd : std::min(rowEnd, absorption->loggedBefore);
            for (; i < stop; ++i) *next[edges_[i].region]++ = cv::Point(edges_[i].x, static_cast<int>(y));
        }
    }
}

// The grey mean and sample standard deviation of A pixels from their sums.
void greyStatistics(double a, double s, double q, double& mean, double& stdDev) {
    // Rounding can leave a tiny negative variance for a flat region.
    stdDev = a <= 1 ? 0 : std::sqrt(std::max(0.0, (q * a - s * s) / ((a - 1) * a)));
    mean = a > 0 ? s / a : 0;
}

void Labeller::appendBlobs(std::vector<CBlob*>& blobs) {
    std::vector<std::unique_ptr<CBlob>> made;
    std::vector<CBlob*> blobOf(regions_.size(), nullptr);
    for (std::size_t i = 0; i < regions_.size(); ++i) {
        if (survivorOf_[i] != static_cast<int>(i)) continue;
        const Region& r = regions_[i];
        auto blob = std::make_unique<CBlob>();
        blob->label = static_cast<int>(i);
        blob->exterior = r.exterior;
        blob->area = r.area;
        blob->perimeter = r.perimeter;
        blob->externPerimeter = r.externPerimeter;
        blob->parent = regionOf(r.parent);
        blob->sumX = r.sumX;
        blob->sumY = r.sumY;
        blob->sumXX = r.sumXX;
        blob->sumYY = r.sumYY;
        blob->sumXY = r.sumXY;
        blob->minX = r.minX;
        blob->maxX = r.maxX;
        blob->minY = r.minY;
        blob->maxY = r.maxY;
        greyStatistics(r.area, static_cast<double>(r.greySum), static_cast<double>(r.greySquares), blob->mean,
                       blob->stdDev);
        blob->edges.resize(static_cast<std::size_t>(edgeCount_[i]));
        blobOf[i] = blob.get();
        made.push_back(std::move(blob));
    }
    placeEdges(blobOf);
    blobs.reserve(blobs.size() + made.size());
    for (auto& blob : made) blobs.push_back(blob.release());
}

bool isGreyPicture(const cv::Mat& image) { return !image.empty() && image.type() == CV_8UC1; }

cv::Size wholeSizeOf(const cv::Mat& image) {
    cv::Size whole;
    cv::Point offset;
    image.locateROI(whole, offset);
    return whole;
}

}  // namespace

bool BlobAnalysis(const cv::Mat& source, uchar threshold, const cv::Mat& mask, bool borderColour,
                  bool findMoments, std::vector<CBlob*>& blobs) {
    if (!isGreyPicture(source)) return false;
    if (!mask.empty() && (mask.type() != CV_8UC1 || mask.size() != wholeSizeOf(source))) return false;
    thread_local Scratch scratch;
    Labeller labeller(source, threshold, mask, borderColour, findMoments, scratch);
    labeller.label();
    labeller.appendBlobs(blobs);
    scratch.trim();
    return true;
}

double GetExternPerimeter(int start, int end, int row, int width, int height, const cv::Mat* perimeterImage) {
    if (perimeterImage && perimeterImage->empty()) perimeterImage = nullptr;
    return externPerimeterOf(start, end, row, width, height, perimeterImage);
}
