#include "tools/hear/transform.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace hear {
namespace {

constexpr std::size_t kPairsAWord = 200;
// Directions where words spread hardly more than voices do keep this much of
// their weight (as spread against voices' spread), not none: a little of the
// word is in them too.
constexpr double kLeastWordSpread = 0.05;
// Added to the voices' spread in every direction, as a share of its mean, so
// that a direction no recording varies in (too few of them) cannot make it
// singular; small against any real direction's.
constexpr double kSpreadFloor = 1e-4;

using Matrix = std::vector<double>;  // kCepstra by kCepstra, row by row

double frameDistance(const TemplateFrame& a, const TemplateFrame& b) {
    double sum = 0;
    for (int k = 0; k < 2 * kCepstra; ++k) sum += (a[k] - b[k]) * (a[k] - b[k]);
    return std::sqrt(sum);
}

// Adds weight times the outer product of the cepstral part of a - b to scatter.
void addDifference(const TemplateFrame& a, const TemplateFrame& b, double weight, Matrix& scatter) {
    for (int i = 0; i < kCepstra; ++i)
        for (int j = 0; j < kCepstra; ++j) {
            const float product = (a[i] - b[i]) * (a[j] - b[j]);
            scatter[i * kCepstra + j] += weight * product;
        }
}

Matrix multiplied(const Matrix& a, const Matrix& b) {
    Matrix product(kCepstra * kCepstra, 0.0);
    for (int i = 0; i < kCepstra; ++i)
        for (int k = 0; k < kCepstra; ++k)
            for (int j = 0; j < kCepstra; ++j) product[i * kCepstra + j] += a[i * kCepstra + k] * b[k * kCepstra + j];
    return product;
}

Matrix transposed(const Matrix& a) {
    Matrix t(a.size());
    for (int i = 0; i < kCepstra; ++i)
        for (int j = 0; j < kCepstra; ++j) t[j * kCepstra + i] = a[i * kCepstra + j];
    return t;
}

// vectors' rows scaled by scale(value), as columns times rows: V^T diag V.
Matrix fromEigen(const std::vector<double>& values, const Matrix& vectors, double (*scale)(double)) {
    Matrix diagonal(kCepstra * kCepstra, 0.0);
    for (int i = 0; i < kCepstra; ++i) diagonal[i * kCepstra + i] = scale(values[i]);
    return multiplied(multiplied(transposed(vectors), diagonal), vectors);
}

double trace(const Matrix& a) {
    double sum = 0;
    for (int i = 0; i < kCepstra; ++i) sum += a[i * kCepstra + i];
    return sum;
}

}  // namespace

std::vector<std::pair<std::size_t, std::size_t>> warpingPath(const TemplateFeatures& a, const TemplateFeatures& b) {
    const std::size_t n = a.size(), m = b.size();
    if (n == 0 || m == 0) return {};
    std::vector<double> cost((n + 1) * (m + 1), INFINITY);
    const auto at = [&](std::size_t i, std::size_t j) -> double& { return cost[i * (m + 1) + j]; };
    at(0, 0) = 0;
    for (std::size_t i = 1; i <= n; ++i)
        for (std::size_t j = 1; j <= m; ++j) {
            const double d = frameDistance(a[i - 1], b[j - 1]);
            at(i, j) = std::min({at(i - 1, j - 1) + 2 * d, at(i - 1, j) + d, at(i, j - 1) + d});
        }
    std::vector<std::pair<std::size_t, std::size_t>> path;
    for (std::size_t i = n, j = m; i > 0 && j > 0;) {
        path.emplace_back(i - 1, j - 1);
        const double diagonal = at(i - 1, j - 1), up = at(i - 1, j), left = at(i, j - 1);
        if (diagonal <= up && diagonal <= left) {
            --i;
            --j;
        } else if (up <= left) {
            --i;
        } else {
            --j;
        }
    }
    std::reverse(path.begin(), path.end());
    return path;
}

void symmetricEigen(std::vector<double> a, std::size_t n, std::vector<double>& values, std::vector<double>& vectors) {
    vectors.assign(n * n, 0.0);
    for (std::size_t i = 0; i < n; ++i) vectors[i * n + i] = 1;
    for (int sweep = 0; sweep < 100; ++sweep) {
        double offDiagonal = 0;
        for (std::size_t p = 0; p < n; ++p)
            for (std::size_t q = p + 1; q < n; ++q) offDiagonal += a[p * n + q] * a[p * n + q];
        if (offDiagonal < 1e-22) break;
        for (std::size_t p = 0; p < n; ++p)
            for (std::size_t q = p + 1; q < n; ++q) {
                if (std::fabs(a[p * n + q]) < 1e-300) continue;
                // The rotation in the (p, q) plane that zeroes a[p][q].
                const double theta = (a[q * n + q] - a[p * n + p]) / (2 * a[p * n + q]);
                const double t = (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1));
                const double c = 1 / std::sqrt(t * t + 1), s = t * c;
                for (std::size_t k = 0; k < n; ++k) {  // columns p and q
                    const double akp = a[k * n + p], akq = a[k * n + q];
                    a[k * n + p] = c * akp - s * akq;
                    a[k * n + q] = s * akp + c * akq;
                }
                for (std::size_t k = 0; k < n; ++k) {  // rows p and q
                    const double apk = a[p * n + k], aqk = a[q * n + k];
                    a[p * n + k] = c * apk - s * aqk;
                    a[q * n + k] = s * apk + c * aqk;
                }
                for (std::size_t k = 0; k < n; ++k) {  // the eigenvectors, as rows
                    const double vpk = vectors[p * n + k], vqk = vectors[q * n + k];
                    vectors[p * n + k] = c * vpk - s * vqk;
                    vectors[q * n + k] = s * vpk + c * vqk;
                }
            }
    }
    values.resize(n);
    for (std::size_t i = 0; i < n; ++i) values[i] = a[i * n + i];
}

CepstralTransform wordDiscriminatingTransform(const std::vector<std::vector<TemplateFeatures>>& recordingsByWord) {
    Matrix withinWords(kCepstra * kCepstra, 0.0), overall(kCepstra * kCepstra, 0.0);
    double pairedFrames = 0, frames = 0;
    std::mt19937 pick(7);
    const TemplateFrame zero{};
    for (const std::vector<TemplateFeatures>& recordings : recordingsByWord) {
        for (const TemplateFeatures& recording : recordings)
            for (const TemplateFrame& frame : recording) {
                addDifference(frame, zero, 1, overall);  // the cepstra less their means: about zero on average
                ++frames;
            }
        if (recordings.size() < 2) continue;
        std::uniform_int_distribution<std::size_t> any(0, recordings.size() - 1);
        for (std::size_t pair = 0; pair < kPairsAWord; ++pair) {
            const std::size_t first = any(pick), second = any(pick);
            if (first == second) continue;
            for (const auto& [i, j] : warpingPath(recordings[first], recordings[second])) {
                // Each of the two frames strays from the word by half the difference.
                addDifference(recordings[first][i], recordings[second][j], 0.5, withinWords);
                ++pairedFrames;
            }
        }
    }
    CepstralTransform transform = identityTransform();
    if (pairedFrames == 0) return transform;
    for (double& v : withinWords) v /= pairedFrames;
    for (double& v : overall) v /= frames;
    const double floor = kSpreadFloor * trace(withinWords) / kCepstra;
    for (int i = 0; i < kCepstra; ++i) withinWords[i * kCepstra + i] += floor;
    // Whiten the voices' spread, then weigh each direction of the words' spread
    // (there) by how far it exceeds the voices'.
    std::vector<double> values, vectors;
    symmetricEigen(withinWords, kCepstra, values, vectors);
    if (*std::min_element(values.begin(), values.end()) <= 0) return transform;
    const Matrix whitening = fromEigen(values, vectors, [](double v) { return 1 / std::sqrt(v); });
    symmetricEigen(multiplied(multiplied(whitening, overall), whitening), kCepstra, values, vectors);
    for (int i = 0; i < kCepstra; ++i) {
        const double weight = std::sqrt(std::max(values[i] - 1, kLeastWordSpread));
        for (int j = 0; j < kCepstra; ++j) vectors[i * kCepstra + j] *= weight;
    }
    const Matrix map = multiplied(vectors, whitening);
    const double keepSpread = std::sqrt(trace(overall) / trace(multiplied(multiplied(map, overall), transposed(map))));
    for (int k = 0; k < kCepstra * kCepstra; ++k) transform[k] = static_cast<float>(map[k] * keepSpread);
    return transform;
}

}  // namespace hear
