#pragma once
// The robot's two eyes. Camera index n opens ./video<n> in the working directory
// when it exists (a link to a device node, a video file, or a folder of numbered
// pictures; files loop at their end), otherwise video device n.

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

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
