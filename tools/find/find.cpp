// robotas-find OBJECT SCENE [--out PICTURE]
// Looks for the object picture in the scene picture exactly as the robot's object search
// does on a camera frame, and prints what it found:
//   object keypoints N / scene keypoints N / pairs N / located 0|1 /
//   corner X Y (four lines, when located) / ms T (scene detection and description)
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "objects/objects.h"
#include "platform/datafiles.h"

namespace {

int usage() {
    std::fprintf(stderr, "usage: robotas-find OBJECT SCENE [--out PICTURE]\n");
    return 2;
}

// The picture in grey, or empty after one line on standard error that names the file
// and says why it did not load.
cv::Mat readGrey(const std::string& path) {
    const std::string unreadable = platform::whyUnreadable(path);
    if (!unreadable.empty()) {
        std::fprintf(stderr, "robotas-find: cannot read picture %s: %s\n", path.c_str(), unreadable.c_str());
        return cv::Mat();
    }
    cv::Mat picture;
    try {
        picture = cv::imread(path, cv::IMREAD_GRAYSCALE);
    } catch (const cv::Exception&) {
        picture.release();
    }
    if (picture.empty()) std::fprintf(stderr, "robotas-find: cannot read picture %s: not a picture\n", path.c_str());
    return picture;
}

}  // namespace

int main(int argc, char** argv) {
    std::string objectPath, scenePath, outPath;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--out") == 0) {
            if (i + 1 >= argc) return usage();
            outPath = argv[++i];
        } else if (objectPath.empty()) {
            objectPath = argv[i];
        } else if (scenePath.empty()) {
            scenePath = argv[i];
        } else {
            return usage();
        }
    }
    if (objectPath.empty() || scenePath.empty()) return usage();

    // A report without both pictures would read as "not found": there is none.
    const cv::Mat object = readGrey(objectPath);
    if (object.empty()) return 1;
    const cv::Mat scene = readGrey(scenePath);
    if (scene.empty()) return 1;
    const SurfParams params = cvSURFParams(500, 1);

    std::vector<SurfPoint> objectKeypoints, sceneKeypoints;
    cv::Mat objectDescriptors, sceneDescriptors;
    extractSURF(object, objectKeypoints, objectDescriptors, params);
    const int64 t0 = cv::getTickCount();
    extractSURF(scene, sceneKeypoints, sceneDescriptors, params);
    const int64 t1 = cv::getTickCount();

    std::vector<int> pairs;
    findPairs(objectKeypoints, objectDescriptors, sceneKeypoints, sceneDescriptors, pairs);
    const cv::Point corners[4] = {{0, 0}, {object.cols, 0}, {object.cols, object.rows}, {0, object.rows}};
    cv::Point found[4];
    const cv::Mat fit = refineHomography(homographyFromPairs(objectKeypoints, sceneKeypoints, pairs), objectKeypoints,
                                         objectDescriptors, sceneKeypoints, sceneDescriptors, pairs);
    const int located = projectObjectCorners(fit, corners, found);

    std::printf("object keypoints %zu\n", objectKeypoints.size());
    std::printf("scene keypoints %zu\n", sceneKeypoints.size());
    std::printf("pairs %zu\n", pairs.size() / 2);
    std::printf("located %d\n", located);
    if (located)
        for (const cv::Point& c : found) std::printf("corner %d %d\n", c.x, c.y);
    std::printf("ms %.2f\n", (t1 - t0) * 1000.0 / cv::getTickFrequency());

    if (!outPath.empty()) {
        const cv::Mat picture =
            drawCorrespondence(object, scene, objectKeypoints, sceneKeypoints, pairs, located ? found : nullptr);
        bool written = false;
        try {
            written = cv::imwrite(outPath, picture);
        } catch (const cv::Exception&) {
            written = false;
        }
        if (!written) {
            std::fprintf(stderr, "robotas-find: cannot write picture %s\n", outPath.c_str());
            return 1;
        }
    }
    return 0;
}
