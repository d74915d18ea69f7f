#pragma once
// Foreground detection against a learned background (Li, Huang, Gu, Tian: statistics of
// colour and colour co-occurrence features per pixel, Bayes decision). The robot makes it
// from a picture of the empty scene and updates it with the scene holding a new object;
// the foreground mask is then the object.

#include <opencv2/core.hpp>

#include <cstdint>
#include <memory>
#include <vector>

struct FgdParams {
    int Lc = 128;        // quantisation levels of a colour channel
    int N1c = 15;        // significant colour features kept per pixel
    int N2c = 25;        // colour features kept per pixel
    int Lcc = 64;        // quantisation levels of a co-occurrence channel
    int N1cc = 25;
    int N2cc = 40;
    bool is_obj_without_holes = true;
    int perform_morphing = 1;  // iterations of the opening and the closing
    float alpha1 = 0.1f;       // background picture learning rate
    float alpha2 = 0.005f;     // feature statistics learning rate
    float alpha3 = 0.1f;       // learning rate while the model is young
    float delta = 2.f;         // features within delta quantisation steps match
    float T = 0.9f;            // share of foreground features that makes them the new background
    float minArea = 15.f;      // smaller foreground regions are dropped
};

class FgdModel {
public:
    // firstFrame: 8-bit BGR (grey is taken as BGR), the background.
    explicit FgdModel(const cv::Mat& firstFrame, const FgdParams& params = FgdParams());
    ~FgdModel();
    FgdModel(const FgdModel&) = delete;
    FgdModel& operator=(const FgdModel&) = delete;

    // Classifies the frame's pixels and learns from it. A frame of another size or type
    // than the first one is refused (returns false; nothing changes).
    bool update(const cv::Mat& frame);

    const cv::Mat& foreground() const { return foreground_; }  // CV_8UC1, 0 or 255
    const cv::Mat& background() const { return background_; }  // CV_8UC3 reference picture

    // The change thresholds chosen for the last frame, per channel (B, G, R).
    cv::Vec3i frameDifferenceThresholds() const { return frameThresholds_; }
    cv::Vec3i backgroundDifferenceThresholds() const { return backgroundThresholds_; }

private:
    struct Tables;

    void detectChanges(const cv::Mat& frame, cv::Mat& frameChange, cv::Mat& backgroundChange);
    void classifyChanged(const cv::Mat& frame, const cv::Mat& frameChange, const cv::Mat& backgroundChange);
    void cleanForeground();
    void learn(const cv::Mat& frame, const cv::Mat& frameChange, const cv::Mat& backgroundChange);

    FgdParams params_;
    cv::Mat background_;
    cv::Mat previous_;
    cv::Mat foreground_;
    cv::Vec3i frameThresholds_{0, 0, 0};
    cv::Vec3i backgroundThresholds_{0, 0, 0};
    long updates_ = 0;
    std::unique_ptr<Tables> tables_;
};
