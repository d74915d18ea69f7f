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
    // The first save quantises to scales of its own, which may move a distance
    // across the farthest a word may lie; saving what was saved keeps them.
    hear::WordTemplates again, thrice;
    if (!templates.save("again.templates", why) || !again.load("again.templates", why)) std::abort();
    if (!again.save("thrice.templates", why) || !thrice.load("thrice.templates", why)) std::abort();
    if (again.size() != templates.size() || thrice.size() != templates.size()) std::abort();
    const double saved = again.nearest(probe).distance;
    const double savedTwice = thrice.nearest(probe).distance;
    if (std::isnan(saved) || std::isinf(saved) != std::isinf(savedTwice)) std::abort();
    if (std::isfinite(saved) && std::fabs(savedTwice - saved) > 0.02 * saved + 1e-3) std::abort();
    return 0;
}
