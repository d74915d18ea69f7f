#include "hardware/mechanika.h"

#include "hardware/chassis.h"
#include "hardware/servo.h"
#include "hardware/status_row.h"

std::atomic<unsigned char> daviklisePD{0};
pthread_t pthread_Mechanika{};

namespace {

constexpr long kChassisPulseMs = 1;
std::atomic<bool> stepStarted{false};  // a step was started and not yet joined

}  // namespace

void* Mechanika(void* /*arg*/) {
    akys_servo();
    ssc32in();
    daviklisePD = daviklisePD.load() == 0 ? 1 : 0;
    statusRow(4, 58, -1, "Daviklis eProDas= %i", daviklisePD.load());
    statusRow(4, 59, -1, "Daviklis SSC32  = %i", daviklisSSC.load());
    vaziuokle(vazDR, kChassisPulseMs);
    return nullptr;
}

bool startMechanika() {
    if (stepStarted) return false;
    if (pthread_create(&pthread_Mechanika, nullptr, Mechanika, nullptr) != 0) return false;
    stepStarted = true;
    return true;
}

void joinMechanika() {
    if (!stepStarted) return;
    pthread_join(pthread_Mechanika, nullptr);
    stepStarted = false;
}

bool mechanikaRunning() { return stepStarted; }
