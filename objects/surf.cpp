#include "objects/surf.h"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>

SurfParams cvSURFParams(double hessianThreshold, int extended) {
    SurfParams params;
    params.hessianThreshold = hessianThreshold;
    params.extended = extended != 0;
    return params;
}

namespace {

constexpr float kPi = 3.14159265358979f;
// Weight of the mixed derivative that balances the box approximation of the Gaussian.
constexpr float kDxyWeightSquared = 0.81f;
constexpr int kOrientationRadius = 6;      // in units of the point's sigma
constexpr float kBinDegrees = 5.f;         // orientation sectors turn in these steps
constexpr int kOrientationBins = 72;
constexpr int kSectorBins = 12;            // 60 degrees
constexpr int kDescriptorSamples = 20;     // samples across the descriptor window
constexpr int kSubregionSamples = 5;
constexpr float kDescriptorSigma = 3.3f;   // in sample units

// Four lanes that the compiler keeps in one vector register on both x86 and ARM.
typedef uint32_t Sums4 __attribute__((vector_size(16)));  // wrapping, as the integral image
typedef int32_t Ints4 __attribute__((vector_size(16)));
typedef float Floats4 __attribute__((vector_size(16)));
typedef uint64_t Pairs2 __attribute__((vector_size(16)));

inline Floats4 broadcast(float value) { return Floats4{value, value, value, value}; }
inline Sums4 broadcast(uint32_t value) { return Sums4{value, value, value, value}; }

// Box sums (differences of wrapping sums) are exact as signed 32-bit numbers.
inline Floats4 toFloats(Sums4 boxSums) { return __builtin_convertvector((Ints4)boxSums, Floats4); }

// Four integral sums from at[0], at[step], at[2 * step], at[3 * step]; a step of 2 reads
// at[7] too.
template <int kStep>
inline Sums4 loadSums(const uint32_t* at, int step) {
    Sums4 sums;
    if (kStep == 1) {
        std::memcpy(&sums, at, sizeof sums);
    } else if (kStep == 2) {
        Sums4 low, high;
        std::memcpy(&low, at, sizeof low);
        std::memcpy(&high, at + 4, sizeof high);
        sums = __builtin_shufflevector(low, high, 0, 2, 4, 6);
    } else {
        sums = Sums4{at[0], at[step], at[2 * step], at[3 * step]};
    }
    return sums;
}

// std::floor for coordinates within the picture's reach, inline: without SSE4.1 the
// library call costs more than the wavelet's arithmetic.
inline int floorToInt(float value) {
    const int truncated = static_cast<int>(value);
    return static_cast<float>(truncated) > value ? truncated - 1 : truncated;
}

// Integral image kept as wrapping 32-bit sums: the difference of four corners is exact
// for any box holding less than 2^32 / 255 pixels, whatever the picture's size.
class Integral {
public:
    // Spare sums past the last row let four-lane loads at a step of 2 read one sum too far.
    static constexpr int kSpareSums = 4;

    explicit Integral(const cv::Mat& grey)
        : width_(grey.cols), height_(grey.rows), stride_(grey.cols + 1),
          sums_(static_cast<size_t>(grey.rows + 1) * (grey.cols + 1) + kSpareSums, 0u) {
        for (int y = 0; y < height_; ++y) {
            const uint8_t* src = grey.ptr<uint8_t>(y);
            const uint32_t* above = &sums_[static_cast<size_t>(y) * stride_];
            uint32_t* row = &sums_[static_cast<size_t>(y + 1) * stride_];
            uint32_t rowSum = 0;
            for (int x = 0; x < width_; ++x) {
                rowSum += src[x];
                row[x + 1] = above[x + 1] + rowSum;
            }
        }
    }

    int width() const { return width_; }
    int height() const { return height_; }
    const uint32_t* row(int y) const { return &sums_[static_cast<size_t>(y) * stride_]; }

    // Sum over [x0,x1) x [y0,y1); the box must lie inside the picture.
    int box(int x0, int y0, int x1, int y1) const {
        const uint32_t* r0 = &sums_[static_cast<size_t>(y0) * stride_];
        const uint32_t* r1 = &sums_[static_cast<size_t>(y1) * stride_];
        return static_cast<int>(r1[x1] - r1[x0] - r0[x1] + r0[x0]);
    }

    // The same, with the box cut to the picture (wavelets near the border).
    int boxClamped(int x0, int y0, int x1, int y1) const {
        x0 = std::clamp(x0, 0, width_);
        x1 = std::clamp(x1, 0, width_);
        y0 = std::clamp(y0, 0, height_);
        y1 = std::clamp(y1, 0, height_);
        if (x1 <= x0 || y1 <= y0) return 0;
        return box(x0, y0, x1, y1);
    }

    // Haar wavelet responses of side h (even) centred on pixel corner (x, y): right half
    // minus left half, lower half minus upper half.
    // A caller that knows the wavelets lie inside the picture says so in inside.
    inline __attribute__((always_inline)) void haar(int x, int y, int h, float& dx, float& dy,
                                                    bool inside = false) const {
        const int r = h / 2;
        if (inside || (x - r >= 0 && y - r >= 0 && x + r <= width_ && y + r <= height_)) {
            // Nine corners shared by the two wavelets.
            const uint32_t* top = &sums_[static_cast<size_t>(y - r) * stride_ + x];
            const uint32_t* mid = &sums_[static_cast<size_t>(y) * stride_ + x];
            const uint32_t* low = &sums_[static_cast<size_t>(y + r) * stride_ + x];
            const uint32_t left = low[-r] - top[-r], centre = low[0] - top[0], right = low[r] - top[r];
            dx = static_cast<float>(static_cast<int>((right - centre) - (centre - left)));
            const uint32_t upper = (mid[r] - mid[-r]) - (top[r] - top[-r]);
            const uint32_t lower = (low[r] - low[-r]) - (mid[r] - mid[-r]);
            dy = static_cast<float>(static_cast<int>(lower - upper));
            return;
        }
        haarNearBorder(x, y, h, dx, dy);
    }

    __attribute__((noinline)) void haarNearBorder(int x, int y, int h, float& dx, float& dy) const {
        const int r = h / 2;
        dx = static_cast<float>(boxClamped(x, y - r, x + r, y + r) - boxClamped(x - r, y - r, x, y + r));
        dy = static_cast<float>(boxClamped(x - r, y, x + r, y + r) - boxClamped(x - r, y - r, x + r, y));
    }

    // The same at a point between pixel corners, interpolated from its four neighbours
    // (x, y in pixel coordinates: pixel centres on integers). A caller that knows all
    // its wavelets lie inside the picture says so in inside.
    inline __attribute__((always_inline)) void haarAt(float x, float y, int h, bool inside, float& dx,
                                                      float& dy) const {
        const float cx = x + 0.5f, cy = y + 0.5f;
        const int x0 = floorToInt(cx), y0 = floorToInt(cy);
        const float ax = cx - static_cast<float>(x0), ay = cy - static_cast<float>(y0);
        const int r = h / 2;
        if (inside || (x0 - r >= 0 && y0 - r >= 0 && x0 + 1 + r <= width_ && y0 + 1 + r <= height_)) {
            // The wavelets of the four neighbours at once, one a lane, exact in integers;
            // only their weighted sum rounds.
            const uint32_t* mid = row(y0) + x0;
            const uint32_t* top = mid - static_cast<ptrdiff_t>(r) * stride_;
            const uint32_t* low = mid + static_cast<ptrdiff_t>(r) * stride_;
            const Sums4 topLeft = square(top - r), topCentre = square(top), topRight = square(top + r);
            const Sums4 midLeft = square(mid - r), midRight = square(mid + r);
            const Sums4 lowLeft = square(low - r), lowCentre = square(low), lowRight = square(low + r);
            const Sums4 left = lowLeft - topLeft, centre = lowCentre - topCentre, right = lowRight - topRight;
            const Sums4 across = (right - centre) - (centre - left);
            const Sums4 upper = (midRight - midLeft) - (topRight - topLeft);
            const Sums4 lower = (lowRight - lowLeft) - (midRight - midLeft);
            // Lanes 1 - ax, ax, 1 - ax, ax times 1 - ay, 1 - ay, ay, ay, built in registers.
            const Floats4 weights = (Floats4{1, 0, 1, 0} + Floats4{-1, 1, -1, 1} * broadcast(ax)) *
                                    (Floats4{1, 1, 0, 0} + Floats4{-1, -1, 1, 1} * broadcast(ay));
            const Floats4 wx = toFloats(across) * weights, wy = toFloats(lower - upper) * weights;
            const Floats4 halves = __builtin_shufflevector(wx, wy, 0, 4, 1, 5) + __builtin_shufflevector(wx, wy, 2, 6, 3, 7);
            dx = halves[0] + halves[2];
            dy = halves[1] + halves[3];
            return;
        }
        haarAtNearBorder(x0, y0, ax, ay, h, dx, dy);
    }

    // The same response as haarAt, from the nine wavelet corners each interpolated
    // between four sums: the computation the descriptors have always used. Its rounding
    // (within roughly 2^-16 of (2r + 2)^2 * 255) decides the sign of responses that are
    // nearly zero.
    __attribute__((noinline)) void haarAtByCorners(float x, float y, int h, float& dx, float& dy) const {
        const float cx = x + 0.5f, cy = y + 0.5f;
        const int x0 = floorToInt(cx), y0 = floorToInt(cy);
        const float ax = cx - static_cast<float>(x0), ay = cy - static_cast<float>(y0);
        const int r = h / 2;
        if (!(x0 - r >= 0 && y0 - r >= 0 && x0 + 1 + r <= width_ && y0 + 1 + r <= height_)) {
            haarAtNearBorder(x0, y0, ax, ay, h, dx, dy);
            return;
        }
        // Sums are taken relative to the first corner so that floats hold them exactly.
        // One vector a row of corners: left, centre, right (and a spare lane).
        const uint32_t base = row(y0 - r)[x0 - r];
        const Floats4 w00 = broadcast((1 - ax) * (1 - ay)), w10 = broadcast(ax * (1 - ay)),
                      w01 = broadcast((1 - ax) * ay), w11 = broadcast(ax * ay);
        const Sums4 baseLanes = broadcast(base);
        Floats4 v[3];
        for (int a = 0; a < 3; ++a) {
            const uint32_t* upper = row(y0 + (a - 1) * r) + x0;
            Sums4 here, right, below, belowRight;
            spread(upper, r, here, right);
            spread(upper + stride_, r, below, belowRight);
            v[a] = w00 * toFloats(here - baseLanes) + w10 * toFloats(right - baseLanes) +
                   w01 * toFloats(below - baseLanes) + w11 * toFloats(belowRight - baseLanes);
        }
        const Floats4 across = v[2] - v[0];
        const float left = across[0], centre = across[1], right = across[2];
        dx = (right - centre) - (centre - left);
        const float upperHalf = (v[1][2] - v[1][0]) - (v[0][2] - v[0][0]);
        const float lowerHalf = (v[2][2] - v[2][0]) - (v[1][2] - v[1][0]);
        dy = lowerHalf - upperHalf;
    }

private:
    __attribute__((noinline)) void haarAtNearBorder(int x0, int y0, float ax, float ay, int h, float& dx,
                                                    float& dy) const {
        float d00x, d00y, d10x, d10y, d01x, d01y, d11x, d11y;
        haar(x0, y0, h, d00x, d00y);
        haar(x0 + 1, y0, h, d10x, d10y);
        haar(x0, y0 + 1, h, d01x, d01y);
        haar(x0 + 1, y0 + 1, h, d11x, d11y);
        const float w00 = (1 - ax) * (1 - ay), w10 = ax * (1 - ay), w01 = (1 - ax) * ay, w11 = ax * ay;
        dx = w00 * d00x + w10 * d10x + w01 * d01x + w11 * d11x;
        dy = w00 * d00y + w10 * d10y + w01 * d01y + w11 * d11y;
    }

    // The sums at at[-r], at[0], at[r] in the first three lanes of left, and their right
    // neighbours in right: three pairs of neighbours loaded and dealt out, in registers
    // (a vector filled through memory in halves would wait for both stores).
    static inline __attribute__((always_inline)) void spread(const uint32_t* at, int r, Sums4& left, Sums4& right) {
        const Sums4 near = (Sums4)Pairs2{pair(at - r), pair(at)}, far = (Sums4)Pairs2{pair(at + r), 0};
        left = __builtin_shufflevector(near, far, 0, 2, 4, 6);
        right = __builtin_shufflevector(near, far, 1, 3, 5, 7);
    }

    // The sums at at[0], at[1] and the two below them: the corners of the four pixels
    // around a point between them, in one vector.
    Sums4 square(const uint32_t* at) const { return (Sums4)Pairs2{pair(at), pair(at + stride_)}; }

    // Two neighbouring sums as one 64-bit number.
    static uint64_t pair(const uint32_t* at) {
        uint64_t both;
        std::memcpy(&both, at, sizeof both);
        return both;
    }

    int width_;
    int height_;
    int stride_;
    std::vector<uint32_t> sums_;
};

// The box approximation of the second Gaussian derivatives at one filter size.
struct BoxFilter {
    int size;        // side L = 3 * lobe, odd
    int lobe;        // lobe length
    int half;        // L / 2: the filter's centre offset
    int lobeOffset;  // where the (2 * lobe - 1) wide lobes start across the filter
    // Every box is weighted by the inverse of its own area, so that the responses (and the
    // Hessian threshold of 500) are those of mean intensities, comparable across scales.
    float lobeNorm;  // 1 / area of one lobe of the pure derivatives
    float mixedNorm; // 1 / area of one quadrant of the mixed derivative

    explicit BoxFilter(int lobeLength)
        : size(3 * lobeLength), lobe(lobeLength), half(3 * lobeLength / 2),
          lobeOffset((3 * lobeLength - (2 * lobeLength - 1)) / 2),
          lobeNorm(1.f / (lobeLength * (2.f * lobeLength - 1))),
          mixedNorm(1.f / (float(lobeLength) * lobeLength)) {}

    // Determinant of the approximated Hessian at pixel (x, y), trace through *trace.
    float response(const Integral& ii, int x, int y, float* trace = nullptr) const {
        const int ox = x - half, oy = y - half;
        const int a0 = ox + lobeOffset, a1 = a0 + 2 * lobe - 1;
        const int b0 = oy + lobeOffset, b1 = b0 + 2 * lobe - 1;
        // Lobes weighted +1, -2, +1: the whole strip minus three times its middle.
        const int dxx = ii.box(ox, b0, ox + size, b1) - 3 * ii.box(ox + lobe, b0, ox + 2 * lobe, b1);
        const int dyy = ii.box(a0, oy, a1, oy + size) - 3 * ii.box(a0, oy + lobe, a1, oy + 2 * lobe);
        const int c0 = half - lobe, c1 = half + 1;  // the quadrants, one pixel apart
        const int dxy = ii.box(ox + c0, oy + c0, ox + half, oy + half) +
                        ii.box(ox + c1, oy + c1, ox + c1 + lobe, oy + c1 + lobe) -
                        ii.box(ox + c1, oy + c0, ox + c1 + lobe, oy + half) -
                        ii.box(ox + c0, oy + c1, ox + half, oy + c1 + lobe);
        const float fxx = dxx * lobeNorm, fyy = dyy * lobeNorm, fxy = dxy * mixedNorm;
        if (trace) *trace = fxx + fyy;
        return fxx * fyy - kDxyWeightSquared * fxy * fxy;
    }

    // Determinants along row y for the filter's left edges ox = firstLeft + k * step,
    // k < count: the same sums as response(), four at a time in the first two octaves.
    template <int kStep>
    void responseRow(const Integral& ii, int y, int firstLeft, int count, int step, float* out) const {
        const int oy = y - half;
        const int b0 = oy + lobeOffset, b1 = b0 + 2 * lobe - 1;
        const int c0 = half - lobe, c1 = half + 1;
        const int a0 = lobeOffset, a1 = lobeOffset + 2 * lobe - 1;
        const int L = size, l = lobe, h = half, e = c1 + lobe;
        const uint32_t *B0 = ii.row(b0), *B1 = ii.row(b1);
        const uint32_t *Y0 = ii.row(oy), *Y1 = ii.row(oy + l), *Y2 = ii.row(oy + 2 * l), *Y3 = ii.row(oy + L);
        const uint32_t *Q0 = ii.row(oy + c0), *Q1 = ii.row(oy + h), *Q2 = ii.row(oy + c1), *Q3 = ii.row(oy + e);
        const float nl = lobeNorm, nm = mixedNorm;
        int k = 0;
        if (kStep == 1 || kStep == 2) {
            // Four responses at once, with the same operations as one at a time below.
            const Floats4 nl4 = broadcast(nl), nm4 = broadcast(nm), weight = broadcast(kDxyWeightSquared);
            const auto box = [&](const uint32_t* upper, const uint32_t* lower, int x, int left, int right) {
                return loadSums<kStep>(lower + x + right, kStep) - loadSums<kStep>(lower + x + left, kStep) -
                       loadSums<kStep>(upper + x + right, kStep) + loadSums<kStep>(upper + x + left, kStep);
            };
            for (; k + 4 <= count; k += 4) {
                const int x = firstLeft + k * kStep;
                const Sums4 whole = box(B0, B1, x, 0, L), mid = box(B0, B1, x, l, 2 * l);
                const Sums4 wholeY = box(Y0, Y3, x, a0, a1), midY = box(Y1, Y2, x, a0, a1);
                const Sums4 tl = box(Q0, Q1, x, c0, h), br = box(Q2, Q3, x, c1, e);
                const Sums4 tr = box(Q0, Q1, x, c1, e), bl = box(Q2, Q3, x, c0, h);
                const Floats4 fxx = toFloats(whole - (mid + mid + mid)) * nl4;
                const Floats4 fyy = toFloats(wholeY - (midY + midY + midY)) * nl4;
                const Floats4 fxy = toFloats(tl + br - tr - bl) * nm4;
                const Floats4 det = fxx * fyy - weight * fxy * fxy;
                std::memcpy(out + k, &det, sizeof det);
            }
        }
        for (; k < count; ++k) {
            const int x = firstLeft + k * (kStep > 0 ? kStep : step);
            const uint32_t whole = B1[x + L] - B1[x] - B0[x + L] + B0[x];
            const uint32_t mid = B1[x + 2 * l] - B1[x + l] - B0[x + 2 * l] + B0[x + l];
            const uint32_t wholeY = Y3[x + a1] - Y3[x + a0] - Y0[x + a1] + Y0[x + a0];
            const uint32_t midY = Y2[x + a1] - Y2[x + a0] - Y1[x + a1] + Y1[x + a0];
            const uint32_t tl = Q1[x + h] - Q1[x + c0] - Q0[x + h] + Q0[x + c0];
            const uint32_t br = Q3[x + e] - Q3[x + c1] - Q2[x + e] + Q2[x + c1];
            const uint32_t tr = Q1[x + e] - Q1[x + c1] - Q0[x + e] + Q0[x + c1];
            const uint32_t bl = Q3[x + h] - Q3[x + c0] - Q2[x + h] + Q2[x + c0];
            const float fxx = static_cast<float>(static_cast<int32_t>(whole - 3u * mid)) * nl;
            const float fyy = static_cast<float>(static_cast<int32_t>(wholeY - 3u * midY)) * nl;
            const float fxy = static_cast<float>(static_cast<int32_t>(tl + br - tr - bl)) * nm;
            out[k] = fxx * fyy - kDxyWeightSquared * fxy * fxy;
        }
    }
};

// Filter sizes 9, 15, 21, 27 in the first octave; each octave doubles the size step
// and the sampling step.
BoxFilter filterFor(int octave, int layer) { return BoxFilter((2 << octave) * (layer + 1) + 1); }

// Responses of one octave on its sampling grid; a grid point is valid for a layer when
// that layer's filter lies inside the picture.
struct Octave {
    int index = 0;
    int step = 1;
    std::vector<BoxFilter> filters;
    std::vector<cv::Mat1f> responses;

    int firstValid(int layer) const { return (filters[layer].half + step - 1) / step; }
    int lastValid(int layer, int extent) const { return (extent - 1 - filters[layer].half) / step; }
};

Octave buildOctave(const Integral& ii, int octave, int layers) {
    Octave oct;
    oct.index = octave;
    oct.step = 1 << octave;
    const int gw = (ii.width() - 1) / oct.step + 1, gh = (ii.height() - 1) / oct.step + 1;
    for (int l = 0; l < layers; ++l) {
        oct.filters.push_back(filterFor(octave, l));
        // Left unset outside the filter's reach: the search reads only responses whose
        // largest neighbouring filter fits, and those every layer has.
        oct.responses.emplace_back(gh, gw);
    }
    cv::parallel_for_(cv::Range(0, gh), [&](const cv::Range& rows) {
        for (int l = 0; l < layers; ++l) {
            const int i0 = std::max(rows.start, oct.firstValid(l));
            const int i1 = std::min(rows.end - 1, oct.lastValid(l, ii.height()));
            const int j0 = oct.firstValid(l), j1 = oct.lastValid(l, ii.width());
            if (j1 < j0) continue;
            const BoxFilter& f = oct.filters[l];
            for (int i = i0; i <= i1; ++i) {
                float* out = oct.responses[l].ptr<float>(i) + j0;
                const int firstLeft = j0 * oct.step - f.half;
                if (oct.step == 1) f.responseRow<1>(ii, i * oct.step, firstLeft, j1 - j0 + 1, 1, out);
                else if (oct.step == 2) f.responseRow<2>(ii, i * oct.step, firstLeft, j1 - j0 + 1, 2, out);
                else f.responseRow<0>(ii, i * oct.step, firstLeft, j1 - j0 + 1, oct.step, out);
            }
        }
    });
    return oct;
}

bool isLocalMaximum(const Octave& oct, int l, int i, int j, float value) {
    for (int dl = -1; dl <= 1; ++dl) {
        const cv::Mat1f& r = oct.responses[l + dl];
        for (int di = -1; di <= 1; ++di) {
            const float* row = r.ptr<float>(i + di);
            for (int dj = -1; dj <= 1; ++dj) {
                if (dl == 0 && di == 0 && dj == 0) continue;
                if (row[j + dj] >= value) return false;
            }
        }
    }
    return true;
}

// Fits a quadratic to the 3x3x3 neighbourhood; false when the peak lies farther than
// one sample from the grid point (or the fit is degenerate).
bool interpolatePeak(const Octave& oct, int l, int i, int j, cv::Vec3f& offset) {
    const cv::Mat1f &below = oct.responses[l - 1], &mid = oct.responses[l], &above = oct.responses[l + 1];
    const float v = mid(i, j);
    const float dx = (mid(i, j + 1) - mid(i, j - 1)) * 0.5f;
    const float dy = (mid(i + 1, j) - mid(i - 1, j)) * 0.5f;
    const float ds = (above(i, j) - below(i, j)) * 0.5f;
    const float dxx = mid(i, j + 1) + mid(i, j - 1) - 2 * v;
    const float dyy = mid(i + 1, j) + mid(i - 1, j) - 2 * v;
    const float dss = above(i, j) + below(i, j) - 2 * v;
    const float dxy = (mid(i + 1, j + 1) - mid(i + 1, j - 1) - mid(i - 1, j + 1) + mid(i - 1, j - 1)) * 0.25f;
    const float dxs = (above(i, j + 1) - above(i, j - 1) - below(i, j + 1) + below(i, j - 1)) * 0.25f;
    const float dys = (above(i + 1, j) - above(i - 1, j) - below(i + 1, j) + below(i - 1, j)) * 0.25f;
    const cv::Matx33f hessian(dxx, dxy, dxs, dxy, dyy, dys, dxs, dys, dss);
    const cv::Vec3f gradient(dx, dy, ds);
    cv::Vec3f solution;
    if (!cv::solve(hessian, -gradient, solution, cv::DECOMP_LU)) return false;
    for (int k = 0; k < 3; ++k)
        if (!(std::fabs(solution[k]) < 1.f)) return false;
    offset = solution;
    return true;
}

void detectInOctave(const Integral& ii, const Octave& oct, int layers, float threshold,
                    std::vector<SurfPoint>& out) {
    const int gh = oct.responses[0].rows;
    std::vector<std::vector<SurfPoint>> perRow(gh);
    cv::parallel_for_(cv::Range(0, gh), [&](const cv::Range& rows) {
        for (int l = 1; l + 1 < layers; ++l) {
            // The largest neighbouring filter must fit around the point.
            const int i0 = std::max(rows.start, oct.firstValid(l + 1) + 1);
            const int i1 = std::min(rows.end - 1, oct.lastValid(l + 1, ii.height()) - 1);
            const int j0 = oct.firstValid(l + 1) + 1, j1 = oct.lastValid(l + 1, ii.width()) - 1;
            for (int i = i0; i <= i1; ++i) {
                const float* row = oct.responses[l].ptr<float>(i);
                for (int j = j0; j <= j1; ++j) {
                    const float value = row[j];
                    if (value <= threshold || !isLocalMaximum(oct, l, i, j, value)) continue;
                    cv::Vec3f offset;
                    if (!interpolatePeak(oct, l, i, j, offset)) continue;
                    SurfPoint p;
                    p.pt = cv::Point2f((j + offset[0]) * oct.step, (i + offset[1]) * oct.step);
                    const int sizeStep = oct.filters[l + 1].size - oct.filters[l].size;
                    p.size = cvRound(oct.filters[l].size + offset[2] * sizeStep);
                    float trace = 0.f;
                    oct.filters[l].response(ii, j * oct.step, i * oct.step, &trace);
                    p.laplacian = trace > 0.f ? 1 : -1;
                    p.hessian = value;
                    perRow[i].push_back(p);
                }
            }
        }
    });
    for (auto& row : perRow) out.insert(out.end(), row.begin(), row.end());
}

// Sample offsets (in sigmas) within the orientation circle, with their Gaussian weights.
struct OrientationSamples {
    struct Offset { int i, j; float weight; };
    std::vector<Offset> offsets;
    OrientationSamples() {
        for (int i = -kOrientationRadius; i <= kOrientationRadius; ++i)
            for (int j = -kOrientationRadius; j <= kOrientationRadius; ++j)
                if (i * i + j * j < kOrientationRadius * kOrientationRadius)
                    offsets.push_back({i, j, std::exp(-(i * i + j * j) / 8.f)});  // sigma 2s
    }
};

// Orientation: the longest sum of Haar responses within a 60-degree sector, the sector
// turned in 5-degree steps around the circle.
float dominantDirection(const Integral& ii, const SurfPoint& p) {
    static const OrientationSamples circle;
    const float s = 1.2f * p.size / 9.f;
    const int wavelet = std::max(2, 2 * cvRound(2 * s));
    float binX[kOrientationBins] = {}, binY[kOrientationBins] = {};
    bool any = false;
    const float reach = kOrientationRadius * s + 1.f + wavelet / 2;
    const bool inside = p.pt.x - reach >= 0 && p.pt.y - reach >= 0 && p.pt.x + reach <= ii.width() &&
                        p.pt.y + reach <= ii.height();
    for (const auto& o : circle.offsets) {
        const int x = cvRound(p.pt.x + o.i * s), y = cvRound(p.pt.y + o.j * s);
        float dx, dy;
        ii.haar(x, y, wavelet, dx, dy, inside);
        if (dx == 0.f && dy == 0.f) continue;
        const int bin = std::min(kOrientationBins - 1, static_cast<int>(cv::fastAtan2(dy, dx) / kBinDegrees));
        binX[bin] += o.weight * dx;
        binY[bin] += o.weight * dy;
        any = true;
    }
    if (!any) return 0.f;
    float sumX = 0.f, sumY = 0.f;
    for (int b = 0; b < kSectorBins; ++b) {
        sumX += binX[b];
        sumY += binY[b];
    }
    float bestLength = sumX * sumX + sumY * sumY, bestX = sumX, bestY = sumY;
    for (int first = 1; first < kOrientationBins; ++first) {
        const int leaving = first - 1, entering = (first + kSectorBins - 1) % kOrientationBins;
        sumX += binX[entering] - binX[leaving];
        sumY += binY[entering] - binY[leaving];
        const float length = sumX * sumX + sumY * sumY;
        if (length > bestLength) {
            bestLength = length;
            bestX = sumX;
            bestY = sumY;
        }
    }
    float degrees = cv::fastAtan2(bestY, bestX);
    if (degrees >= 360.f) degrees -= 360.f;
    return degrees;
}

struct DescriptorWeights {
    float w[kDescriptorSamples][kDescriptorSamples];
    DescriptorWeights() {
        const float c = (kDescriptorSamples - 1) * 0.5f;
        for (int i = 0; i < kDescriptorSamples; ++i)
            for (int j = 0; j < kDescriptorSamples; ++j)
                w[i][j] = std::exp(-((i - c) * (i - c) + (j - c) * (j - c)) /
                                   (2 * kDescriptorSigma * kDescriptorSigma));
    }
};

// Adds one turned, weighted wavelet response to its subregion's sums.
template <bool kExtended>
inline void accumulate(float* cell, float rx, float ry) {
    if (!kExtended) {
        cell[0] += rx;
        cell[1] += std::fabs(rx);
        cell[2] += ry;
        cell[3] += std::fabs(ry);
    } else {
        float* xs = cell + (ry < 0.f ? 0 : 2);
        xs[0] += rx;
        xs[1] += std::fabs(rx);
        float* ys = cell + 4 + (rx < 0.f ? 0 : 2);
        ys[0] += ry;
        ys[1] += std::fabs(ry);
    }
}

// Haar responses on a 20 x 20 grid of sigma spacing, turned into the point's frame,
// summed per 4 x 4 subregion (split by the sign of the other component when extended).
template <bool kExtended>
void describe(const Integral& ii, const SurfPoint& p, float* out) {
    static const DescriptorWeights weights;
    constexpr int perRegion = kExtended ? 8 : 4;
    const float s = 1.2f * p.size / 9.f;
    const int wavelet = std::max(2, 2 * cvRound(s));
    const float angle = p.dir * kPi / 180.f;
    const float co = std::cos(angle), si = std::sin(angle);
    std::fill(out, out + 16 * perRegion, 0.f);
    // The extended sums split each response by the sign of the other one; where that is
    // within the corner interpolation's rounding of zero, the sign is taken from it, so
    // that the split does not depend on which of the two computations is used.
    const float cornerSpan = 2.f * (wavelet / 2) + 2.f;
    const float signDoubt = 256.f * 255.f * cornerSpan * cornerSpan * std::ldexp(1.f, -24);
    const float c = (kDescriptorSamples - 1) * 0.5f;
    // Whether every sample's wavelets (half a side around the pixel corner next to it)
    // lie inside the picture.
    const float reach = c * s * (std::fabs(co) + std::fabs(si)) + 2.f + wavelet / 2;
    const bool inside = p.pt.x - reach >= 0 && p.pt.y - reach >= 0 && p.pt.x + reach <= ii.width() &&
                        p.pt.y + reach <= ii.height();
    // The turned grid's steps along the point's x axis, the same for every row.
    float cosU[kDescriptorSamples], sinU[kDescriptorSamples];
    for (int j = 0; j < kDescriptorSamples; ++j) {
        const float u = (j - c) * s;
        cosU[j] = co * u;
        sinU[j] = si * u;
    }
    for (int i = 0; i < kDescriptorSamples; ++i) {        // along the point's y axis
        const float v = (i - c) * s;
        const float sinV = si * v, cosV = co * v;
        float* cells = out + (i / kSubregionSamples) * 4 * perRegion;
        for (int j = 0; j < kDescriptorSamples; ++j) {    // along the point's x axis
            float dx, dy;
            // Sampled between pixels: rounding to pixel corners would shift the wavelets by
            // up to half a pixel, a large part of the small ones.
            const float x = p.pt.x + cosU[j] - sinV, y = p.pt.y + sinU[j] + cosV;
            ii.haarAt(x, y, wavelet, inside, dx, dy);
            const float w = weights.w[i][j];
            float rx = w * (co * dx + si * dy);
            float ry = w * (-si * dx + co * dy);
            if (kExtended && std::min(std::fabs(rx), std::fabs(ry)) < w * signDoubt) {
                ii.haarAtByCorners(x, y, wavelet, dx, dy);
                rx = w * (co * dx + si * dy);
                ry = w * (-si * dx + co * dy);
            }
            accumulate<kExtended>(cells + (j / kSubregionSamples) * perRegion, rx, ry);
        }
    }
    constexpr int length = 16 * perRegion;
    double norm = 0;
    for (int k = 0; k < length; ++k) norm += double(out[k]) * out[k];
    if (norm > 0) {
        const float scale = static_cast<float>(1.0 / std::sqrt(norm));
        for (int k = 0; k < length; ++k) out[k] *= scale;
    }
}

cv::Mat toGrey8(const cv::Mat& image) {
    cv::Mat grey = image;
    if (grey.channels() == 3) cv::cvtColor(grey, grey, cv::COLOR_BGR2GRAY);
    else if (grey.channels() == 4) cv::cvtColor(grey, grey, cv::COLOR_BGRA2GRAY);
    else if (grey.channels() != 1) return cv::Mat();
    if (grey.depth() != CV_8U) grey.convertTo(grey, CV_8U);
    return grey;
}

}  // namespace

void extractSURF(const cv::Mat& image, std::vector<SurfPoint>& keypoints, cv::Mat& descriptors,
                 const SurfParams& params) {
    keypoints.clear();
    const int length = surfDescriptorLength(params);
    descriptors.create(0, length, CV_32F);
    if (image.empty()) return;
    const cv::Mat grey = toGrey8(image);
    if (grey.empty()) return;

    const Integral ii(grey);
    const int layers = std::max(1, params.nOctaveLayers) + 2;
    for (int o = 0; o < params.nOctaves; ++o) {
        const int largest = filterFor(o, layers - 1).size;
        if (largest + 2 * (1 << o) > std::min(grey.cols, grey.rows)) break;
        const Octave oct = buildOctave(ii, o, layers);
        detectInOctave(ii, oct, layers, static_cast<float>(params.hessianThreshold), keypoints);
    }
    if (keypoints.empty()) return;

    descriptors.create(static_cast<int>(keypoints.size()), length, CV_32F);
    cv::parallel_for_(cv::Range(0, static_cast<int>(keypoints.size())), [&](const cv::Range& range) {
        for (int k = range.start; k < range.end; ++k) {
            SurfPoint& p = keypoints[k];
            p.dir = params.upright ? 0.f : dominantDirection(ii, p);
            if (params.extended) describe<true>(ii, p, descriptors.ptr<float>(k));
            else describe<false>(ii, p, descriptors.ptr<float>(k));
        }
    });
}
