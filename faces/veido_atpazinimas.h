#pragma once
// Live face recognition: both cameras look for a face, the head follows it, the
// right camera's face is recognised against the face database, a known person is
// greeted by name and an unknown one asked who they are. After 15 s without a
// face the robot calls out, looks around and watches for motion; the sixth such
// search centres the head and ends the mode.

#include <opencv2/core.hpp>

#include <string>

extern std::string naujasVeidas;  // name shown for the current face
extern std::string senasVeidas;   // name greeted last; "nepazistu" after asking an unknown person

// The face recognition mode; runs until m or until the search gives up.
void VeidoAtpazinimas();
// The same mode as the voice command "KAS" reaches it.
void PazistamiVeidai();

// One frame's steering of the head. The k pair follows the left camera's face,
// the d pair the right camera's; a face counts when wider than 10 pixels (a
// missing face is (-1, -1, -1, -1)). A camera without a face copies the other
// camera's target. True when the camera's face was there.
bool followLeftFace(const cv::Rect& left, const cv::Rect& right);
bool followRightFace(const cv::Rect& left, const cv::Rect& right);

// Whether a nearest-neighbour confidence names a known person.
bool isKnownFace(float confidence);

// "Atstumas(cm) : " on row 48 when both cameras see faces of about the same width.
void showFaceDistance(int rightWidth, int leftWidth);

// What the robot remembers of its last greeting.
struct Greeting {
    long long greetTime = 0;  // clock of the last greeting or question
};
// A recognised person: the name is spoken once, until somebody else comes.
void greetKnownPerson(Greeting& greeting, const std::string& name, long long now);
// An unknown face: asked at once when somebody new, otherwise at most every 7 s.
void askUnknownPerson(Greeting& greeting, const std::string& nearestName, long long now);
// The command line that speaks a database name; the ID digits in front are blanked.
std::string greetingCommand(const std::string& name);
