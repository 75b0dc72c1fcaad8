// What both programs' main functions do, for one program.
#pragma once

#include "platform/signals.h"
#include "commands/descriptor.h"


namespace ui {
class Window;
}

namespace apps {

int run(const commands::Descriptor& program, int argc, char** argv);

// Ends the window as E&xit does once a signal is noted: after the event under
// way (a whole frame) has returned, never inside it, and before any input
// still queued runs another.
void stopOnSignals(ui::Window& window, const platform::SignalWatch& watch, commands::Program& program);

}  // namespace apps
