// robotas-sim report LOG [--camera N]: how well the head followed the targets
// of a scene, from the log its scene camera wrote (see README: "A simulated head").

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/datafiles.h"
#include "tools/sim/report.h"

int main(int argc, char** argv) {
    const std::string usage = "usage: robotas-sim report LOG [--camera N]\n";
    if (argc != 3 && !(argc == 5 && std::string(argv[3]) == "--camera")) return std::fputs(usage.c_str(), stderr), 2;
    if (std::string(argv[1]) != "report") return std::fputs(usage.c_str(), stderr), 2;
    char* end = nullptr;
    const long camera = argc == 5 ? std::strtol(argv[4], &end, 10) : -1;
    if (argc == 5 && (*end != '\0' || camera < 0)) return std::fputs(usage.c_str(), stderr), 2;
    std::string log, why;
    if (!platform::readWholeFile(argv[2], log)) {
        std::fprintf(stderr, "robotas-sim: cannot read %s: %s\n", argv[2], platform::whyUnreadable(argv[2]).c_str());
        return 1;
    }
    sim::Figures figures;
    if (!sim::figuresOf(log, static_cast<int>(camera), figures, why)) {
        std::fprintf(stderr, "robotas-sim: %s: %s\n", argv[2], why.c_str());
        return 1;
    }
    std::fputs(sim::describe(figures).c_str(), stdout);
    return 0;
}
