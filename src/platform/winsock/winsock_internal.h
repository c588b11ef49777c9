// What the parts of the Winsock substitute share: the start-up count, the per-thread last
// error and the resolver behind host lookups.
#pragma once

#include "platform/winsock/winsock.h"

#include <chrono>
#include <string>

namespace fetchora::winsock::detail {

// True while a start-up is in force.
bool started();
// Sets the last error and returns SOCKET_ERROR, for failing calls.
int fail(int wsaError);
// Fails with WSANOTINITIALISED when no start-up is in force; true when that happened.
bool notStarted();
// Cancels every pending lookup (the last clean-up).
void cancelAllLookups();

// The resolver behind every host lookup: the Winsock error (0 with the addresses in
// result) for a host name. Installing one (nullptr: the system's) forgets the kept
// results and returns the one before; tests count or script the resolver's calls.
using ResolveFunction = int (*)(const std::string& name, HOSTENT& result);
ResolveFunction setResolveFunction(ResolveFunction resolve);
// How long a successful lookup's result is kept for its host name (30 s; 0 keeps none).
// Forgets the kept results and returns the time before.
std::chrono::milliseconds setLookupKeepTime(std::chrono::milliseconds keepTime);

} // namespace fetchora::winsock::detail
