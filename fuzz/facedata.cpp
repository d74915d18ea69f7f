// The face database file facedata.xml as the robot reads it at start and after
// every enrolment: any bytes. A database that loads must hold together well
// enough for recognition: a face of its size projects and finds a neighbour
// whose person number names a registered person.

#include <cstdlib>
#include <vector>

#include "faces/faces.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::quietRobot();
    fuzzing::enterPrivateFolder("facedata");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 64 * 1024) return -1;
    fuzzing::writeFile("facedata.xml", data, size);
    cv::Mat trainPersonNumMat;
    if (!loadTrainingData(trainPersonNumMat)) return 0;

    if (static_cast<int>(personNames.size()) != nPersons) std::abort();
    if (pAvgTrainImg.total() > 64 * 64) return 0;  // recognition of large faces is slow, not unsafe
    const cv::Mat face(pAvgTrainImg.size(), CV_8U, cv::Scalar(128));
    float confidence = 0.0f;
    if (nEigens == 0) {
        // A database without eigenfaces loads but recognises nobody.
        float none = 0.0f;
        if (projectFace(face, &none) || findNearestNeighbor(&none, &confidence) != -1) std::abort();
        return 0;
    }
    std::vector<float> projection(static_cast<std::size_t>(nEigens));
    if (!projectFace(face, projection.data())) std::abort();
    const int nearest = findNearestNeighbor(projection.data(), &confidence);
    if (nearest < 0 || nearest >= trainPersonNumMat.cols) std::abort();
    const int person = trainPersonNumMat.at<int>(0, nearest);
    if (person < 1 || person > nPersons) std::abort();
    return 0;
}
