// The report for unhandled errors and the guard that every event handler runs in: an
// error that no handler catches ends that handler, is shown in an error box with its
// message and written to stderr, and the window stays usable.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace fetchora {

// Shows the message (title "Error") and writes it to stderr.
void reportUnhandledError(const std::string& message);

// Runs an event handler's body; any exception it lets escape is reported.
template <typename Body> void guarded(Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
    } catch (const std::exception& error) {
        reportUnhandledError(error.what());
    } catch (...) {
        reportUnhandledError("Unknown error");
    }
}

} // namespace fetchora
