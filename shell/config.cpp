#include "shell/config.h"

#include <initializer_list>

const char* veidasCascadeFilename = "haarcascade_frontalface_alt.xml";
const char* veidasPrCascadeFilename = "haarcascade_profileface.xml";

int SAVE_EIGENFACE_IMAGES = 1;
int ekranorezimas = 2;

int kamera1 = 1;
int kamera2 = 2;
int plotis = 320;
int aukstis = 240;

std::atomic<int> servo_greitisX{400}, servo_greitisY{300};
int servo_xmin = 700, servo_xmax = 2100;
int servo_ymin = 1300, servo_ymax = 2400;
std::atomic<int> servo_x{kServoCentreX}, servo_xk{kServoCentreX}, servo_xd{kServoCentreX},
    servo_xksen{kServoCentreX}, servo_xdsen{kServoCentreX};
std::atomic<int> servo_y{kServoCentreY}, servo_yk{kServoCentreY}, servo_yd{kServoCentreY},
    servo_yksen{kServoCentreY}, servo_ydsen{kServoCentreY};

int lptportas = 888;
int cport_nr = 1;
int bdrate = 115200;

int win_size = 10;
int faceWidth = 120, faceHeight = 90;
int recsize = 256, recsize1 = 1024;

int prisijungimas = 0;
int robotorezimas = 0;
std::atomic<int> keyPressed{0};
int StatuseProDas = 0;
int Pin = 0, InitialState = 0;

void centreAllServoVariables() {
    for (auto* x : {&servo_x, &servo_xk, &servo_xd, &servo_xksen, &servo_xdsen}) *x = kServoCentreX;
    for (auto* y : {&servo_y, &servo_yk, &servo_yd, &servo_yksen, &servo_ydsen}) *y = kServoCentreY;
}
