// Training list files ("number name picture" a line): the fuzzer writes the
// list; the folder holds three small face pictures (two of one size, one of
// another) that entries may name. A list that loads must describe itself
// consistently, and training on it must work.

#include <opencv2/imgcodecs.hpp>

#include <cstdlib>

#include "faces/faces.h"
#include "fuzz/fuzz_support.h"

namespace {

void writePictures() {
    cv::Mat face(8, 8, CV_8U);
    cv::randu(face, 0, 256);
    cv::imwrite("a.pgm", face);
    cv::imwrite("b.pgm", 255 - face);
    cv::imwrite("c.pgm", cv::Mat(7, 9, CV_8U, cv::Scalar(90)));
}

// A failed load (0) leaves the arrays to be ignored; a load that worked must
// describe every picture it counted.
void checkList(int loaded) {
    if (nPersons != static_cast<int>(personNames.size())) std::abort();
    if (loaded == 0) return;
    if (loaded != static_cast<int>(faceImgArr.size())) std::abort();
    if (personNumTruthMat.rows != 1 || personNumTruthMat.cols != loaded) std::abort();
    for (int i = 0; i < loaded; ++i) {
        const int person = personNumTruthMat.at<int>(0, i);
        if (person < 1 || person > nPersons) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::quietRobot();
    fuzzing::enterPrivateFolder("facelist");
    writePictures();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return -1;
    fuzzing::writeFile("list.txt", data, size);
    const int loaded = loadFaceImgArray("list.txt");
    checkList(loaded);
    if (loaded >= 2 && loaded <= 16) {
        nTrainFaces = loaded;
        trainOnFaceImgArr();
        if (nEigens != loaded - 1 || projectedTrainFaceMat.rows != loaded) std::abort();
    }
    return 0;
}
