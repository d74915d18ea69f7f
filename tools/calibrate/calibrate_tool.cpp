// robotas-calibrate IMAGELIST Q.xml [--square SIZE]
// Computes the stereo rectification of the robot's two cameras from 9 x 6
// chessboard pairs and writes the reprojection matrix Q.xml that the depth
// modes read. The list is an OpenCV storage file whose "imagelist" node holds
// picture names, left and right alternating, relative to the list's folder.
// The cameras run at 320 x 240 in the depth modes, so that is the size the
// matrices are computed for; corners are found at the pictures' own size
// (the board is easier to find there) and scaled down.

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/datafiles.h"

namespace {

const cv::Size kBoard(9, 6);             // inner corners
const cv::Size kDepthModeFrame(320, 240);
constexpr int kMinimumPairs = 3;
const char* const kListForm = "OpenCV XML, YAML or JSON with an \"imagelist\" of picture names";

int usage() {
    std::fprintf(stderr, "usage: robotas-calibrate IMAGELIST Q.xml [--square SIZE]\n");
    return 2;
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Names in the list are relative to the list's folder.
std::string nameBesideList(const std::string& name, const std::string& listPath) {
    return !name.empty() && name[0] == '/' ? name : folderOf(listPath) + name;
}

// Blank files are lists of no pictures (OpenCV's reader refuses them with a riddle).
bool isBlank(const std::string& path) {
    std::ifstream file(path);
    for (char c; file.get(c);)
        if (!std::isspace(static_cast<unsigned char>(c))) return false;
    return true;
}

bool notAPictureList(const std::string& listPath) {
    std::fprintf(stderr, "robotas-calibrate: %s is not a picture list (%s)\n", listPath.c_str(),
                 kListForm);
    return false;
}

bool readImageList(const std::string& listPath, std::vector<std::string>& names) {
    const std::string unreadable = platform::whyUnreadable(listPath);
    if (!unreadable.empty()) {
        std::fprintf(stderr, "robotas-calibrate: cannot read list %s: %s\n", listPath.c_str(),
                     unreadable.c_str());
        return false;
    }
    if (isBlank(listPath)) return true;
    try {
        cv::FileStorage fs(listPath, cv::FileStorage::READ);
        if (!fs.isOpened()) return notAPictureList(listPath);
        cv::FileNode list = fs["imagelist"];
        if (list.empty()) list = fs.getFirstTopLevelNode();
        // An XML list of one name reads back as that name alone.
        if (list.isString()) {
            names.push_back(nameBesideList(list.string(), listPath));
        } else if (list.isSeq()) {
            for (const cv::FileNode& item : list) {
                if (!item.isString()) {
                    std::fprintf(stderr, "robotas-calibrate: %s: list entry is not a file name\n",
                                 listPath.c_str());
                    return false;
                }
                names.push_back(nameBesideList(item.string(), listPath));
            }
        } else if (!list.empty() && !list.isNone()) {  // none: a list without pictures
            std::fprintf(stderr, "robotas-calibrate: %s holds no list of pictures\n", listPath.c_str());
            return false;
        }
    } catch (const cv::Exception&) {
        return notAPictureList(listPath);
    }
    if (names.size() % 2 != 0) {
        std::fprintf(stderr, "robotas-calibrate: odd number of pictures (%zu): left and right "
                     "must alternate\n", names.size());
        return false;
    }
    return true;
}

// Corners of the board in the picture, scaled to the depth modes' frame size.
bool findBoard(const cv::Mat& grey, std::vector<cv::Point2f>& corners) {
    bool found = cv::findChessboardCorners(
        grey, kBoard, corners, cv::CALIB_CB_ADAPTIVE_THRESH | cv::CALIB_CB_NORMALIZE_IMAGE);
    if (found) {
        cv::cornerSubPix(grey, corners, cv::Size(11, 11), cv::Size(-1, -1),
                         cv::TermCriteria(cv::TermCriteria::EPS | cv::TermCriteria::COUNT, 30,
                                          0.01));
    } else {
        found = cv::findChessboardCornersSB(grey, kBoard, corners, cv::CALIB_CB_EXHAUSTIVE);
    }
    if (!found) return false;
    const float sx = float(kDepthModeFrame.width) / grey.cols;
    const float sy = float(kDepthModeFrame.height) / grey.rows;
    for (cv::Point2f& c : corners) c = {c.x * sx, c.y * sy};
    return true;
}

std::vector<cv::Point3f> boardModel(float square) {
    std::vector<cv::Point3f> model;
    for (int row = 0; row < kBoard.height; ++row)
        for (int col = 0; col < kBoard.width; ++col)
            model.emplace_back(col * square, row * square, 0.f);
    return model;
}

// Both pictures of a pair, read and with the board found; otherwise false after a
// "skipped" line that says why.
bool boardOfPair(const std::string& leftName, const std::string& rightName,
                 std::vector<cv::Point2f>& left, std::vector<cv::Point2f>& right) {
    const std::string pair = leftName + " / " + rightName;
    cv::Mat pictures[2];
    const std::string* names[2] = {&leftName, &rightName};
    for (int k = 0; k < 2; ++k) {
        std::string unreadable = platform::whyUnreadable(*names[k]);
        if (unreadable.empty()) {
            pictures[k] = cv::imread(*names[k], cv::IMREAD_GRAYSCALE);
            if (pictures[k].empty()) unreadable = "not a picture";
        }
        if (!unreadable.empty()) {
            std::printf("skipped %s: cannot read %s: %s\n", pair.c_str(), names[k]->c_str(),
                        unreadable.c_str());
            return false;
        }
    }
    if (pictures[0].size() != pictures[1].size()) {
        std::printf("skipped %s: sizes differ\n", pair.c_str());
        return false;
    }
    if (!findBoard(pictures[0], left) || !findBoard(pictures[1], right)) {
        std::printf("skipped %s: board not found\n", pair.c_str());
        return false;
    }
    return true;
}

// Calibrates each camera, then the pair, and rectifies: Q for the depth modes.
bool computeQ(const std::vector<std::vector<cv::Point2f>>& leftCorners,
              const std::vector<std::vector<cv::Point2f>>& rightCorners, float square, cv::Mat& Q) {
    const std::vector<std::vector<cv::Point3f>> model(leftCorners.size(), boardModel(square));
    cv::Mat M1, D1, M2, D2, R, T, E, F, R1, R2, P1, P2;
    std::vector<cv::Mat> rvecs, tvecs;
    double rms = 0;
    try {
        cv::calibrateCamera(model, leftCorners, kDepthModeFrame, M1, D1, rvecs, tvecs);
        cv::calibrateCamera(model, rightCorners, kDepthModeFrame, M2, D2, rvecs, tvecs);
        rms = cv::stereoCalibrate(
            model, leftCorners, rightCorners, M1, D1, M2, D2, kDepthModeFrame, R, T, E, F,
            cv::CALIB_USE_INTRINSIC_GUESS,
            cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 100, 1e-6));
        cv::stereoRectify(M1, D1, M2, D2, kDepthModeFrame, R, T, R1, R2, P1, P2, Q,
                          cv::CALIB_ZERO_DISPARITY, -1, kDepthModeFrame);
    } catch (const cv::Exception&) {
        std::fprintf(stderr, "robotas-calibrate: the chessboard pairs give no calibration; take "
                     "pairs with the board at different places and angles\n");
        return false;
    }
    std::printf("rms %.3f px, baseline %.3f squares\n", rms, cv::norm(T) / square);
    return true;
}

bool writeQ(const std::string& path, const cv::Mat& Q) {
    try {
        cv::FileStorage fs(path, cv::FileStorage::WRITE);
        if (!fs.isOpened()) return false;
        fs << "Q" << Q;  // the only, so also the first, node: what the depth modes load
        return true;
    } catch (const cv::Exception&) {
        return false;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 5) return usage();
    float square = 1.f;
    if (argc == 5) {
        if (std::string(argv[3]) != "--square") return usage();
        char* end = nullptr;
        square = std::strtof(argv[4], &end);
        if (end == argv[4] || *end != '\0' || !(square > 0) || !std::isfinite(square)) {
            std::fprintf(stderr, "robotas-calibrate: square size must be a positive number\n");
            return 2;
        }
    }
    std::vector<std::string> names;
    if (!readImageList(argv[1], names)) return 1;

    std::vector<std::vector<cv::Point2f>> leftCorners, rightCorners;
    for (size_t i = 0; i + 1 < names.size(); i += 2) {
        std::vector<cv::Point2f> l, r;
        if (boardOfPair(names[i], names[i + 1], l, r)) {
            leftCorners.push_back(l);
            rightCorners.push_back(r);
        }
    }
    const size_t pairs = names.size() / 2;
    std::printf("pairs used %zu of %zu\n", leftCorners.size(), pairs);
    std::fflush(stdout);  // the skipped pairs and this count come before the verdict
    if (leftCorners.size() < size_t(kMinimumPairs)) {
        std::fprintf(stderr,
                     "robotas-calibrate: needs at least %d pairs with the chessboard found in both "
                     "pictures, got %zu\n",
                     kMinimumPairs, leftCorners.size());
        return 1;
    }

    cv::Mat Q;
    if (!computeQ(leftCorners, rightCorners, square, Q)) return 1;
    if (!writeQ(argv[2], Q)) {
        std::fprintf(stderr, "robotas-calibrate: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
