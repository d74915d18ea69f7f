#include "tests/faces/face_test_support.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <filesystem>
#include <fstream>

#include "tests/support/robot_test.h"

namespace facetest {

static std::string orl(int person, int picture) {
    return robotest::testData("faces/s" + std::to_string(person) + "/" + std::to_string(picture) + ".pgm");
}

cv::Mat orlPicture(int person, int picture) { return cv::imread(orl(person, picture), cv::IMREAD_GRAYSCALE); }

void copyPicture(int person, int picture, const std::string& to) {
    const std::filesystem::path target(to);
    if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path());
    std::filesystem::copy_file(orl(person, picture), target, std::filesystem::copy_options::overwrite_existing);
}

void writeText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

cv::Mat faceOnBackground(const cv::Mat& face, double scale, cv::Size frame) {
    cv::Mat big;
    cv::resize(face, big, cv::Size(), scale, scale, cv::INTER_LINEAR);
    cv::Mat canvas(frame, CV_8U, cv::Scalar(150));
    const cv::Rect place((frame.width - big.cols) / 2, (frame.height - big.rows) / 2, big.cols, big.rows);
    const cv::Rect inside = place & cv::Rect(0, 0, frame.width, frame.height);
    big(cv::Rect(inside.x - place.x, inside.y - place.y, inside.width, inside.height)).copyTo(canvas(inside));
    cv::Mat colour;
    cv::cvtColor(canvas, colour, cv::COLOR_GRAY2BGR);
    return colour;
}

void writeCameraRecording(int index, const std::vector<cv::Mat>& frames) {
    const std::string folder = "video" + std::to_string(index);
    std::filesystem::create_directories(folder);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        cv::imwrite(cv::format("%s/frame%03d.png", folder.c_str(), static_cast<int>(i + 1)), frames[i]);
    }
}

void copyFaceCascade() {
    std::filesystem::copy_file(robotest::cascadePath("haarcascade_frontalface_alt.xml"), "haarcascade_frontalface_alt.xml",
                               std::filesystem::copy_options::overwrite_existing);
}

std::string trainingList(const std::vector<int>& persons, int firstPicture, int lastPicture) {
    std::string list;
    for (std::size_t k = 0; k < persons.size(); ++k) {
        const int number = static_cast<int>(k) + 1;
        const std::string name = "s" + std::to_string(persons[k]);
        for (int i = firstPicture; i <= lastPicture; ++i) {
            const std::string picture = cv::format("data/%d_%s%d.pgm", number, name.c_str(), i);
            copyPicture(persons[k], i, picture);
            list += std::to_string(number) + " " + name + " " + picture + "\n";
        }
    }
    return list;
}

}  // namespace facetest
