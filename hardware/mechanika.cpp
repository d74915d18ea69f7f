#include "hardware/mechanika.h"

#include "hardware/chassis.h"
#include "hardware/servo.h"
#include "hardware/status_row.h"
#include "platform/thread.h"

std::atomic<unsigned char> daviklisePD{0};

namespace {

constexpr long kChassisPulseMs = 1;
std::atomic<bool> stepStarted{false};  // a step was started and not yet joined
platform::WorkerThread stepWorker;

}  // namespace

void Mechanika() {
    akys_servo();
    ssc32in();
    daviklisePD = daviklisePD.load() == 0 ? 1 : 0;
    statusRow(4, 58, -1, "Daviklis eProDas= %i", daviklisePD.load());
    statusRow(4, 59, -1, "Daviklis SSC32  = %i", daviklisSSC.load());
    vaziuokle(vazDR, kChassisPulseMs);
}

bool startMechanika() {
    if (stepStarted) return false;
    if (!stepWorker.start(Mechanika)) return false;
    stepStarted = true;
    return true;
}

void joinMechanika() {
    if (!stepStarted) return;
    stepWorker.join();
    stepStarted = false;
}

bool mechanikaRunning() { return stepStarted; }
