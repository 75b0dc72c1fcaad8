// What both programs' main functions do, for one program.
#pragma once

#include "apps/signals.h"
#include "commands/descriptor.h"

#include <functional>

class QObject;

namespace apps {

int run(const commands::Descriptor& program, int argc, char** argv);

// Runs `stop` from the event loop once a signal is noted: after the event under
// way (a whole frame) has returned, never inside it.
void stopOnSignals(QObject& context, const SignalWatch& watch, std::function<void()> stop);

}  // namespace apps
