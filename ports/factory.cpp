// The table of backends and what every port string shares: its parsing, the
// check of its keys, and delay=.
#include "ports/factory.h"

#include "ports/delay_port.h"
#include "ports/lock_port.h"
#include "ports/trace_port.h"

#include <array>
#include <chrono>

namespace ports {
namespace {

std::string validNames() {
    std::string names;
    for (const Backend* backend : backends()) {
        if (!names.empty()) names += ", ";
        names += backend->name;
    }
    return names;
}

const Backend& backendFor(const std::string& name) {
    for (const Backend* backend : backendTable()) {
        if (backend->name != name) continue;
        if (!backend->available()) throw ConfigError(std::string(backend->missing) + "; this build has " + validNames());
        return *backend;
    }
    throw ConfigError("unknown port backend '" + printable(name) + "'; valid backends: " + validNames());
}

}  // namespace

std::vector<const Backend*> backends() {
    std::vector<const Backend*> available;
    for (const Backend* backend : backendTable()) {
        if (backend->available()) available.push_back(backend);
    }
    return available;
}

namespace {
Opened openPort(std::string_view spec, LockPort** lock);
}


Opened openPort(std::string_view spec) { return openPort(spec, nullptr); }

namespace {

// The backend with its wrappers: delay= around it, and the lock outside that,
// so that the lock is taken before anything reaches the device.
Opened openPort(std::string_view spec, LockPort** lock) {
    if (spec.empty()) throw ConfigError("empty port string; valid backends: " + validNames());
    const auto [name, options] = Options::parse(spec);
    const Backend& backend = backendFor(name);
    options.acceptOnly(backend.keys);
    Opened opened = backend.make(options);
    opened.backend = &backend;
    opened.carriesTransactions = opened.carriesTransactions || backend.carriesTransactions;
    if (const auto delay = options.number(kDelayKey); delay && *delay > 0) {
        opened.port = std::make_unique<DelayPort>(std::move(opened.port), std::chrono::microseconds(*delay));
    }
    if (!opened.lockKey.empty()) {
        auto locked = std::make_unique<LockPort>(std::move(opened.port), opened.label, opened.lockKey);
        if (lock != nullptr) *lock = locked.get();
        opened.port = std::move(locked);
    }
    return opened;
}

}  // namespace

ProgramPort openProgramPort(std::string_view spec, const std::string& tracePath) {
    LockPort* lock = nullptr;
    Opened opened = openPort(spec, &lock);
    ProgramPort result{std::move(opened.port), std::move(opened.label), opened.backend, nullptr, lock,
                       std::move(opened.details), opened.board, opened.carriesTransactions};
    if (!tracePath.empty()) {
        auto traced = std::make_unique<TracePort>(std::move(result.port), tracePath);
        result.trace = traced.get();
        result.port = std::move(traced);
        if (result.details) {
            result.trace->setHeader([details = result.details, label = result.label]() -> std::optional<std::string> {
                const auto d = details();
                if (!d) return std::nullopt;
                return label + ": " + (d->adapter.empty() ? std::string("adapter") : d->adapter) + ", " + d->transfers +
                       " transfers";
            });
        }
    }
    return result;
}

std::optional<std::string> ProgramPort::takeNotice() {
    if (trace != nullptr) {
        if (auto failure = trace->takeFailure()) return failure;
    }
    if (lock != nullptr) return lock->takeNotice();
    return std::nullopt;
}

}  // namespace ports
