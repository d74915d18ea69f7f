#include "tests/support/stereo_data.h"

#include <opencv2/core.hpp>

namespace robotest {

void writeTestReprojectionMatrix(const std::string& path) {
    cv::Mat Q = cv::Mat::eye(4, 4, CV_64F);
    Q.at<double>(0, 3) = -160;
    Q.at<double>(1, 3) = -120;
    Q.at<double>(2, 2) = 0;
    Q.at<double>(2, 3) = 270;
    Q.at<double>(3, 2) = 0.3;
    Q.at<double>(3, 3) = 0;
    cv::FileStorage fs(path, cv::FileStorage::WRITE);
    fs << "Q" << Q;
}

}  // namespace robotest
