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

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const cv::Size kBoard(9, 6);             // inner corners
const cv::Size kDepthModeFrame(320, 240);
constexpr int kMinimumPairs = 3;

int usage() {
    std::fprintf(stderr, "usage: robotas-calibrate IMAGELIST Q.xml [--square SIZE]\n");
    return 2;
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool readImageList(const std::string& listPath, std::vector<std::string>& names) {
    try {
        cv::FileStorage fs(listPath, cv::FileStorage::READ);
        if (!fs.isOpened()) {
            std::fprintf(stderr, "robotas-calibrate: cannot read list %s\n", listPath.c_str());
            return false;
        }
        cv::FileNode list = fs["imagelist"];
        if (list.empty()) list = fs.getFirstTopLevelNode();
        if (!list.isSeq()) {
            std::fprintf(stderr, "robotas-calibrate: %s holds no list of pictures\n",
                         listPath.c_str());
            return false;
        }
        for (const cv::FileNode& item : list) {
            if (!item.isString()) {
                std::fprintf(stderr, "robotas-calibrate: %s: list entry is not a file name\n",
                             listPath.c_str());
                return false;
            }
            const std::string name = item.string();
            names.push_back(!name.empty() && name[0] == '/' ? name : folderOf(listPath) + name);
        }
    } catch (const cv::Exception& e) {
        std::fprintf(stderr, "robotas-calibrate: %s: %s\n", listPath.c_str(), e.err.c_str());
        return false;
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
        const cv::Mat left = cv::imread(names[i], cv::IMREAD_GRAYSCALE);
        const cv::Mat right = cv::imread(names[i + 1], cv::IMREAD_GRAYSCALE);
        if (left.empty() || right.empty()) {
            std::printf("skipped %s / %s: cannot read\n", names[i].c_str(), names[i + 1].c_str());
            continue;
        }
        if (left.size() != right.size()) {
            std::printf("skipped %s / %s: sizes differ\n", names[i].c_str(), names[i + 1].c_str());
            continue;
        }
        std::vector<cv::Point2f> l, r;
        if (!findBoard(left, l) || !findBoard(right, r)) {
            std::printf("skipped %s / %s: board not found\n", names[i].c_str(),
                        names[i + 1].c_str());
            continue;
        }
        leftCorners.push_back(l);
        rightCorners.push_back(r);
    }
    const size_t pairs = names.size() / 2;
    std::printf("pairs used %zu of %zu\n", leftCorners.size(), pairs);
    if (leftCorners.size() < size_t(kMinimumPairs)) {
        std::fprintf(stderr, "robotas-calibrate: at least %d pairs with the whole board needed\n",
                     kMinimumPairs);
        return 1;
    }

    const std::vector<std::vector<cv::Point3f>> model(leftCorners.size(), boardModel(square));
    cv::Mat M1, D1, M2, D2, R, T, E, F, R1, R2, P1, P2, Q;
    std::vector<cv::Mat> rvecs, tvecs;
    cv::calibrateCamera(model, leftCorners, kDepthModeFrame, M1, D1, rvecs, tvecs);
    cv::calibrateCamera(model, rightCorners, kDepthModeFrame, M2, D2, rvecs, tvecs);
    const double rms = cv::stereoCalibrate(
        model, leftCorners, rightCorners, M1, D1, M2, D2, kDepthModeFrame, R, T, E, F,
        cv::CALIB_USE_INTRINSIC_GUESS,
        cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 100, 1e-6));
    cv::stereoRectify(M1, D1, M2, D2, kDepthModeFrame, R, T, R1, R2, P1, P2, Q,
                      cv::CALIB_ZERO_DISPARITY, -1, kDepthModeFrame);
    std::printf("rms %.3f px, baseline %.3f squares\n", rms, cv::norm(T) / square);
    if (!writeQ(argv[2], Q)) {
        std::fprintf(stderr, "robotas-calibrate: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
