// The Qt window's start-up pieces that tests drive on their own.
#pragma once

#include "commands/program.h"
#include "platform/signals.h"

namespace ui {

class Window;

// Ends the window as E&xit does once a signal is noted: after the event under
// way (a whole frame) has returned, never inside it, and before any input
// still queued runs another.
void stopOnSignals(Window& window, const platform::SignalWatch& watch, commands::Program& program);

}  // namespace ui
