// What the parts of the Winsock substitute share: the start-up count and the per-thread
// last error.
#pragma once

namespace fetchora::winsock::detail {

// True while a start-up is in force.
bool started();
// Sets the last error and returns SOCKET_ERROR, for failing calls.
int fail(int wsaError);
// Fails with WSANOTINITIALISED when no start-up is in force; true when that happened.
bool notStarted();
// Cancels every pending lookup (the last clean-up).
void cancelAllLookups();

} // namespace fetchora::winsock::detail
