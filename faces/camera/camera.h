#pragma once
// The robot's two eyes. Camera index n opens ./video<n> in the working directory
// when it exists (a link to a device node, a video file, or a folder of numbered
// pictures; files loop at their end), otherwise video device n.

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

// Capture device indices and frame size (plotis is also the left window's x offset).
extern int kamera1;  // right camera
extern int kamera2;  // left camera
extern int plotis;
extern int aukstis;
extern int ekranorezimas;  // display mode of the camera windows: 0, 1 or 2

extern cv::VideoCapture camera;   // right camera, opened from kamera1
extern cv::VideoCapture camera1;  // left camera, opened from the index its first caller passes

// The next frame of the right camera, or an empty picture. The frame is the
// camera's own buffer: it changes at the next grab, so callers that keep it clone it.
cv::Mat getCameraFrame();
// The next frame of the left camera; index matters only while it is not open yet.
cv::Mat getCameraFrame1(int index);

// A mode that changes plotis/aukstis releases the camera so that the next frame
// opens it again at the new size; modes release their cameras when they end.
void releaseRightCamera();
void releaseLeftCamera();
void releaseCameras();

// The frames the modes show in the camera windows (ui::kRightWindow, ui::kLeftWindow).
extern cv::Mat shownImg;   // last frame of the right camera (window "Desine")
extern cv::Mat shownImg1;  // last frame of the left camera (window "Kaire")

// Stretches a frame in place to the full 0..255 range (minimum and maximum over
// all channels); an empty frame stays empty.
void stretchToFullRange(cv::Mat& frame);

// "Vaizdas isjungtas" in red on shownImg (on a black picture while no frame has
// come yet), shown in "Desine" and "Kaire".
void showDisplayOffNotice();
