// The recogniser's word templates file (robot.templates) as robotas-hear reads
// it at start: any bytes. A file that loads must give templates that compare:
// a distance that is a number (or infinity for a word of another length), and
// about the same distance again after saving and loading.

#include <cmath>
#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "tools/hear/templates.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::enterPrivateFolder("word_templates");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 64 * 1024) return -1;
    fuzzing::writeFile("robot.templates", data, size);
    hear::WordTemplates templates;
    std::string why;
    if (!templates.load("robot.templates", why)) {
        if (why.empty() || !templates.empty()) std::abort();
        return 0;
    }
    if (!(templates.threshold() > 0) || !std::isfinite(templates.threshold())) std::abort();
    std::vector<hear::Cepstrum> probe(20);
    for (std::size_t t = 0; t < probe.size(); ++t)
        for (int i = 0; i < hear::kCepstra; ++i) probe[t][i] = static_cast<float>(std::sin(0.3 * t + i));
    const hear::WordTemplates::Match match = templates.nearest(probe);
    if (std::isnan(match.distance) || match.distance < 0) std::abort();
    hear::WordTemplates again;
    if (!templates.save("again.templates", why) || !again.load("again.templates", why)) std::abort();
    // Saving quantises anew, so distances may move a little (and a near tie change its winner).
    const double distance = again.nearest(probe).distance;
    if (again.size() != templates.size() || std::isinf(distance) != std::isinf(match.distance)) std::abort();
    if (std::isfinite(distance) && std::fabs(distance - match.distance) > 0.02 * match.distance + 1e-3) std::abort();
    return 0;
}
