// pxctl detect: what each backend of this build finds on this machine, in the
// table's order, with the simulated board last (it is always there).
#include "ports/detect.h"

#include "ports/factory.h"

namespace ports {

std::vector<DetectedPort> detectPorts() {
    std::vector<DetectedPort> found;
    std::vector<DetectedPort> simulated;
    for (const Backend* backend : backends()) {
        if (backend->detect == nullptr) continue;
        auto& into = backend == &kSimBackend ? simulated : found;
        for (DetectedPort& port : backend->detect()) into.push_back(std::move(port));
    }
    found.insert(found.end(), simulated.begin(), simulated.end());
    return found;
}

}  // namespace ports
