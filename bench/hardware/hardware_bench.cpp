// The serial work of one mechanics step in real time: akys_servo (two commands)
// and ssc32in (query, the controller's 3 ms, the reply), against the simulator.

#include <benchmark/benchmark.h>

#include <cstdlib>

#include "hardware/hardware.h"
#include "platform/clock.h"
#include "platform/terminal.h"
#include "tests/support/robot_test.h"
#include "tests/support/ssc32_peer.h"

namespace {

class SimulatorPort {
public:
    SimulatorPort() : simulator_(workDir_.path(), "COM2", "1110") {
        platform::Terminal::instance().setEcho(false);
        platform::useVirtualTime(false);
        opened_ = simulator_.running() && OpenComport(1, 115200) == 0;
    }
    ~SimulatorPort() { CloseComport(1); }
    bool opened() const { return opened_; }

private:
    robotest::ScopedWorkDir workDir_;
    robotest::Ssc32Simulator simulator_;
    bool opened_ = false;
};

void BM_HeadCommandsAndInputQuery(benchmark::State& state) {
    SimulatorPort port;
    if (!port.opened()) {
        state.SkipWithError("robotas-ssc32sim did not start");
        return;
    }
    int answered = 0;
    for (auto _ : state) {
        servo_x = 1400 + (answered % 50);
        akys_servo();
        answered += ssc32in() == 128;
    }
    state.counters["answered"] = benchmark::Counter(answered, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_HeadCommandsAndInputQuery)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_HeadCommandsOnly(benchmark::State& state) {
    SimulatorPort port;
    if (!port.opened()) {
        state.SkipWithError("robotas-ssc32sim did not start");
        return;
    }
    for (auto _ : state) {
        servo_x = servo_x == 1400 ? 1410 : 1400;
        akys_servo();
    }
}
BENCHMARK(BM_HeadCommandsOnly)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    setenv("ROBOTAS_BIN", ROBOTAS_BIN_DIR, 0);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
