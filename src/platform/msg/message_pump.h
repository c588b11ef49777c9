// The thread's message loop as the system sees it: processing what is pending, the
// synchronous wait of a blocking call (wait for the next message or a timeout, then
// process everything pending), and whether the application is terminating.
#pragma once

namespace fetchora::msg {

// Dispatches every event pending for the calling thread (posted messages, socket and
// timer notifications) and returns when none is left. Does not wait.
void processMessages();

// Waits until an event arrives for the calling thread or timeoutMs pass, dispatching
// what arrived. The wait of a synchronous request: call waitForMessage(1000) and then
// processMessages() until the request is done.
void waitForMessage(int timeoutMs);

// One turn of the synchronous wait: waitForMessage(timeoutMs) then processMessages().
void waitAndProcessMessages(int timeoutMs = 1000);

// True when there is no application object, when it is closing down, or when quit()
// was asked for (or markTerminating called): a waiting call must then give up.
bool applicationTerminating();

// Marks the application as terminating (also done automatically by quit()).
void markTerminating();
// Clears the mark (for tests that run several applications' worth of cases).
void clearTerminating();

} // namespace fetchora::msg
