// The Qt application every event-driven test needs, made once per test program, and a
// pump that runs the event loop until a condition holds or a time limit passes.
#pragma once

#include <functional>

namespace fetchora::testing {

// Creates a QCoreApplication unless the program already has an application object.
void ensureApplication();

// Processes events until done() is true or timeoutMs have passed; returns done().
bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 5000);

// Processes events for about ms milliseconds.
void pumpFor(int ms);

} // namespace fetchora::testing
