// robotas-blobs PICTURE THRESHOLD REPORT [--mask MASK]
// Labels a picture file the way object extraction does (frame bright, moments
// on), writes the blob report to REPORT and prints the number of blobs and the
// labelling time as "blobs N" and "ms T".

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "blobs/blobs.h"
#include "platform/datafiles.h"

namespace {

int usage() {
    std::fprintf(stderr, "usage: robotas-blobs PICTURE THRESHOLD REPORT [--mask MASK]\n");
    return 2;
}

bool parseThreshold(const char* text, int& value) {
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || parsed < 0 || parsed > 255) return false;
    value = static_cast<int>(parsed);
    return true;
}

bool readGrey(const std::string& path, const char* what, cv::Mat& picture) {
    picture = cv::imread(path, cv::IMREAD_GRAYSCALE);
    if (picture.empty()) {
        std::fprintf(stderr, "robotas-blobs: cannot read %s %s\n", what, path.c_str());
        return false;
    }
    return true;
}

// Found out before labelling, so that a report that cannot be written costs no
// labelling time; the file is created, but nothing in it is lost.
bool canWrite(const std::string& path) { return platform::appendToFile(path, ""); }

int reportNotWritten(const std::string& path) {
    std::fprintf(stderr, "robotas-blobs: cannot write the report %s\n", path.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 6) return usage();
    const std::string picturePath = argv[1];
    const std::string reportPath = argv[3];
    std::string maskPath;
    if (argc == 6) {
        if (std::string(argv[4]) != "--mask") return usage();
        maskPath = argv[5];
    }
    int threshold = 0;
    if (!parseThreshold(argv[2], threshold)) {
        std::fprintf(stderr, "robotas-blobs: THRESHOLD must be a whole number 0..255, not \"%s\"\n", argv[2]);
        return 2;
    }

    cv::Mat picture, mask;
    if (!readGrey(picturePath, "picture", picture)) return 1;
    if (!maskPath.empty() && !readGrey(maskPath, "mask", mask)) return 1;
    if (!mask.empty() && mask.size() != picture.size()) {
        std::fprintf(stderr, "robotas-blobs: the mask is %d x %d, the picture %d x %d\n", mask.cols, mask.rows,
                     picture.cols, picture.rows);
        return 1;
    }
    if (!canWrite(reportPath)) return reportNotWritten(reportPath);

    CBlobResult blobs;
    const std::int64_t start = cv::getTickCount();
    try {
        blobs = CBlobResult(picture, mask, threshold, true);
    } catch (int code) {
        std::fprintf(stderr, "robotas-blobs: labelling failed (error %d)\n", code);
        return 1;
    }
    const double ms = (cv::getTickCount() - start) * 1000.0 / cv::getTickFrequency();
    std::ostringstream report;
    blobs.PrintBlobs(report);
    if (!platform::writeWholeFile(reportPath, report.str())) return reportNotWritten(reportPath);
    std::printf("blobs %d\nms %.3f\n", blobs.BlobCount(), ms);
    return 0;
}
