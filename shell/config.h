#pragma once
// The robot's configuration block and the run-time variables every mode shares.
// There is no configuration file: these built-in values are the robot's settings.
// Variables the mechanics step reads while a mode writes them are atomic words.

#include <atomic>

// Haar cascades in the working directory.
extern const char* veidasCascadeFilename;    // frontal faces
extern const char* veidasPrCascadeFilename;  // profile faces

extern int SAVE_EIGENFACE_IMAGES;  // non-zero: training also stores the eigenface pictures
extern int ekranorezimas;          // display mode of the camera windows: 0, 1 or 2

// Cameras: capture device indices and frame size (plotis is also the left window's x offset).
extern int kamera1;  // right camera
extern int kamera2;  // left camera
extern int plotis;
extern int aukstis;

// Head servos: speeds, limits (microseconds) and the shared positions and targets.
extern std::atomic<int> servo_greitisX, servo_greitisY;
extern int servo_xmin, servo_xmax;
extern int servo_ymin, servo_ymax;
extern std::atomic<int> servo_x, servo_xk, servo_xd, servo_xksen, servo_xdsen;
extern std::atomic<int> servo_y, servo_yk, servo_yd, servo_yksen, servo_ydsen;
constexpr int kServoCentreX = 1400;
constexpr int kServoCentreY = 1850;

extern int lptportas;  // parallel port I/O address (0x378)
extern int cport_nr;   // serial port index: 1 = COM2
extern int bdrate;     // serial baud rate

extern int win_size;                // point tracker search window
extern int faceWidth, faceHeight;   // normalised face picture size
extern int recsize, recsize1;       // record sizes of the person file

// Run-time state.
extern int prisijungimas;  // recogniser socket when connected (above 1); 1 or -1 when not
extern int robotorezimas;  // robot mode the voice dialogue chose last
extern std::atomic<int> keyPressed;  // last key a mode or menu read; 109 ('m') leaves a mode
constexpr int kKeyLeaveMode = 109;    // 'm'
constexpr int kKeyMenuRead = 999;     // set by the menus before they read a number

extern int StatuseProDas;  // result of the last board open or initialise call
extern int Pin, InitialState;

// Centres the head: all five X variables 1400, all five Y variables 1850.
void centreAllServoVariables();
