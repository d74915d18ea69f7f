#include "hardware/servo.h"

#include <cstdio>
#include <initializer_list>

#include "hardware/rs232.h"
#include "hardware/status_row.h"
#include "platform/clock.h"
#include "shell/console/f_graph.h"

std::atomic<int> servo_greitisX{400}, servo_greitisY{300};
int servo_xmin = 700, servo_xmax = 2100;
int servo_ymin = 1300, servo_ymax = 2400;
std::atomic<int> servo_x{kServoCentreX}, servo_xk{kServoCentreX}, servo_xd{kServoCentreX},
    servo_xksen{kServoCentreX}, servo_xdsen{kServoCentreX};
std::atomic<int> servo_y{kServoCentreY}, servo_yk{kServoCentreY}, servo_yd{kServoCentreY},
    servo_yksen{kServoCentreY}, servo_ydsen{kServoCentreY};
int cport_nr = 1;
int bdrate = 115200;

std::atomic<unsigned char> daviklisSSC{0};

void centreAllServoVariables() {
    for (auto* x : {&servo_x, &servo_xk, &servo_xd, &servo_xksen, &servo_xdsen}) *x = kServoCentreX;
    for (auto* y : {&servo_y, &servo_yk, &servo_yd, &servo_yksen, &servo_ydsen}) *y = kServoCentreY;
}

namespace {

constexpr int kSpeedXMin = 200, kSpeedXMax = 600;
constexpr int kSpeedYMin = 20, kSpeedYMax = 600;
constexpr int kInputReplyWaitMs = 3;  // the controller needs 3 ms to answer "A B C D"
constexpr int kInputReplyMax = 8;     // bytes of the reply looked at
constexpr int kRandMax = 32767;

int clampInto(int value, int low, int high) {
    if (value > high) return high;
    if (value < low) return low;
    return value;
}

// Clamps a shared target. A mode may write a new target at this very moment:
// the clamped value replaces only the value seen, never a newer one (that one
// is clamped by the next call). Returns the value to send.
int clampShared(std::atomic<int>& target, int low, int high) {
    int seen = target.load();
    const int clamped = clampInto(seen, low, high);
    if (clamped != seen) target.compare_exchange_strong(seen, clamped);
    return clamped;
}

// The value row is blanked over 16 columns first; so is the command row, where a
// shorter command would otherwise keep the tail of a longer one.
void showAndSend(int valueRow, const char* label, int value, const char* command) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%d", label, value);
    statusRow(7, valueRow, -1, "%-16s", text);
    statusRow(7, valueRow + 1, -1, "%-16s", command);
    sendCommand(cport_nr, command);
}

bool active(const unsigned char* reply, int count, int input) { return input < count && reply[input] == '0'; }

// Inputs in reply order A, B, C, D; a byte that never arrived counts as not active.
unsigned char decodeInputs(const unsigned char* reply, int count, unsigned char previous) {
    const bool a = active(reply, count, 0), b = active(reply, count, 1);
    const bool c = active(reply, count, 2), d = active(reply, count, 3);
    if (d) return static_cast<unsigned char>((c ? 192 : 128) | (b ? 32 : 0) | (a ? 16 : 0));
    return static_cast<unsigned char>(previous | (c ? 4 : 0) | (b ? 2 : 0) | (a ? 1 : 0));
}

void showInputsReply(const unsigned char* reply, int count) {
    char text[kInputReplyMax + 1] = {};
    for (int i = 0; i < count; ++i) text[i] = static_cast<char>(reply[i]);
    makePrintable(text, count);
    statusRow(4, 55, f_graph::kGreen, "A B C D : %s     'SSC32' atsakymas: %i baitai.\n", text, count);
}

void setAllTargets(int x, int y) {
    for (auto* v : {&servo_x, &servo_xk, &servo_xd, &servo_xdsen, &servo_xksen}) *v = x;
    for (auto* v : {&servo_y, &servo_yk, &servo_yd, &servo_ydsen, &servo_yksen}) *v = y;
}

}  // namespace

void akys_servo() {
    // What is sent is what the variables hold now; the rest is only kept in range.
    const int x = clampShared(servo_x, servo_xmin, servo_xmax);
    const int y = clampShared(servo_y, servo_ymin, servo_ymax);
    const int speedX = clampShared(servo_greitisX, kSpeedXMin, kSpeedXMax);
    const int speedY = clampShared(servo_greitisY, kSpeedYMin, kSpeedYMax);
    clampShared(servo_xk, servo_xmin, servo_xmax);
    clampShared(servo_yk, servo_ymin, servo_ymax);
    clampShared(servo_xd, servo_xmin, servo_xmax);
    clampShared(servo_yd, servo_ymin, servo_ymax);

    char command[32];
    std::snprintf(command, sizeof command, "#7 P%d S%d |", x, speedX);
    showAndSend(50, "Servo X = ", x, command);
    std::snprintf(command, sizeof command, "#0 P%d S%d |", y, speedY);
    showAndSend(52, "Servo Y = ", y, command);
}

unsigned char ssc32in() {
    sendQuery(cport_nr, "A B C D");
    unsigned char reply[16] = {};
    const int count = awaitReply(cport_nr, reply, kInputReplyMax, kInputReplyWaitMs,
                                 [](const unsigned char*, int got) { return got >= 4; });
    if (count > 0) showInputsReply(reply, count);
    const unsigned char mask = decodeInputs(reply, count, daviklisSSC.load());
    daviklisSSC = mask;
    return mask;
}

void paieska_servo() {
    const int x = servo_xmin + ((servo_xmax - servo_xmin) * platform::rand15()) / kRandMax;
    const int y = servo_ymin - (servo_ymax - servo_ymin) / 2 + (platform::rand15() * (servo_ymax - servo_ymin)) / kRandMax;
    setAllTargets(x, y);
}

void rndservo() { paieska_servo(); }

void centreEyes() {
    setAllTargets(kServoCentreX, kServoCentreY);
    akys_servo();
}
