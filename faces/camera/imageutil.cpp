#include "faces/camera/imageutil.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "shell/console/f_graph.h"
#include "shell/console/program_end.h"

int detectfacetime = 0;

namespace {

// The depth code the robot prints: bits per element, with the sign bit for signed types.
int iplDepth(int depth) {
    constexpr int kSigned = static_cast<int>(0x80000000u);
    switch (depth) {
        case CV_8U: return 8;
        case CV_8S: return kSigned | 8;
        case CV_16U: return 16;
        case CV_16S: return kSigned | 16;
        case CV_32S: return kSigned | 32;
        case CV_32F: return 32;
        case CV_64F: return 64;
        default: return 0;
    }
}

// The picture a view was cut from, as a whole.
cv::Mat wholePicture(const cv::Mat& src) {
    cv::Size wholeSize;
    cv::Point offset;
    src.locateROI(wholeSize, offset);
    cv::Mat whole = src;
    whole.adjustROI(offset.y, wholeSize.height - src.rows - offset.y, offset.x,
                    wholeSize.width - src.cols - offset.x);
    return whole;
}

// Haar detector settings of the face modes: 1.1 as the detector's single-precision value.
constexpr double kScaleFactor = static_cast<double>(1.1f);
constexpr int kMinNeighbours = 3;
const cv::Size kMinFace(20, 20);

}  // namespace

cv::Mat convertImageToGreyscale(const cv::Mat& src) {
    if (src.channels() != 3) return src.clone();
    cv::Mat grey;
    cv::cvtColor(src, grey, cv::COLOR_BGR2GRAY);
    return grey;
}

cv::Mat convertFloatImageToUcharImage(const cv::Mat& src) {
    if (src.empty() || src.cols < 1 || src.rows < 1) return cv::Mat();
    double minVal = 0, maxVal = 0;
    cv::minMaxLoc(src, &minVal, &maxVal);
    if (std::isnan(minVal) || minVal < -1e30) minVal = -1e30;
    if (std::isnan(maxVal) || maxVal > 1e30) maxVal = 1e30;
    if (maxVal - minVal == 0.0) maxVal = minVal + 0.001;
    cv::Mat out;
    const double scale = 255.0 / (maxVal - minVal);
    src.convertTo(out, CV_8U, scale, minVal * -255.0 / (maxVal - minVal));
    return out;
}

cv::Mat cropImage(const cv::Mat& img, const cv::Rect& region) {
    if (img.depth() != CV_8U) {
        gf.footerLine("KLAIDA cropImage: Nezinomas vaizdo gylis");
        gf.printf(" %d", iplDepth(img.depth()));
        gf.printf(" given in cropImage() instead of 8 bits per pixel.");
        throw ProgramEnd{1};
    }
    const cv::Rect inside = region & cv::Rect(0, 0, img.cols, img.rows);
    if (inside.empty()) return cv::Mat();
    return img(inside).clone();
}

cv::Mat resizeImage(const cv::Mat& src, int newWidth, int newHeight) {
    if (newWidth <= 0 || newHeight <= 0 || src.empty() || src.cols <= 0 || src.rows <= 0) {
        gf.showRightSide("KLAIDA: resizeImage: Blogas paveikslelio dydis", false);
        gf.printf("%dx%d", newWidth, newHeight);
        throw ProgramEnd{1};
    }
    const cv::Mat whole = wholePicture(src);
    const bool growsBothWays = newWidth > whole.cols && newHeight > whole.rows;
    cv::Mat out;
    cv::resize(whole, out, cv::Size(newWidth, newHeight), 0, 0,
               growsBothWays ? cv::INTER_LINEAR : cv::INTER_AREA);
    return out;
}

void saveFloatImage(const std::string& filename, const cv::Mat& src) {
    const cv::Mat picture = convertFloatImageToUcharImage(src);
    if (!picture.empty()) cv::imwrite(filename, picture);
}

namespace {

cv::Rect largestOf(const std::vector<cv::Rect>& faces) {
    cv::Rect biggest = kNoFace;
    for (const cv::Rect& face : faces)
        if (face.area() > biggest.area() || biggest.width < 0) biggest = face;
    return biggest;
}

// The robot looks at one face, the biggest. The detector of OpenCV 4 ignores its
// "biggest object" flag and scans every window size; like the old detector,
// search from the largest windows down, one octave of sizes at a time, and stop
// at the first octave that holds a face. The octaves overlap by one scale step,
// so a face on their border is seen whole in one of them.
cv::Rect findBiggestFace(const cv::Mat& grey, cv::CascadeClassifier& cascade) {
    const int flags = cv::CASCADE_DO_CANNY_PRUNING | cv::CASCADE_FIND_BIGGEST_OBJECT;
    std::vector<cv::Rect> faces;
    int largest = std::min(grey.cols, grey.rows);
    while (largest >= kMinFace.width) {
        const int smallest = std::max(kMinFace.width, largest / 2);
        const int overlapping = static_cast<int>(largest * kScaleFactor) + 1;
        cascade.detectMultiScale(grey, faces, kScaleFactor, kMinNeighbours, flags, cv::Size(smallest, smallest),
                                 cv::Size(overlapping, overlapping));
        if (!faces.empty()) return largestOf(faces);
        if (smallest == kMinFace.width) break;
        largest = smallest;
    }
    return kNoFace;
}

}  // namespace

cv::Rect detectFaceInImage(const cv::Mat& img, cv::CascadeClassifier& cascade) {
    cv::Mat grey = img;
    if (img.channels() > 1) cv::cvtColor(img, grey, img.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);

    const int64 before = cv::getTickCount();
    const cv::Rect biggest = (!grey.empty() && !cascade.empty()) ? findBiggestFace(grey, cascade) : kNoFace;
    const int64 after = cv::getTickCount();
    detectfacetime = static_cast<int>(std::lround(static_cast<double>(after - before) * 1000.0 / cv::getTickFrequency()));
    return biggest;
}
