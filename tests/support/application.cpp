// The test programs' application object and event pumps.
#include "support/application.h"

#include "platform/msg/message_pump.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace fetchora::testing {

void ensureApplication() {
    if (QCoreApplication::instance() != nullptr)
        return;
    static int argc = 1;
    static char name[] = "fetchora-test";
    static char* argv[] = {name, nullptr};
    // Lives until the program ends, as a real application does.
    static auto* app = new QCoreApplication(argc, argv);
    (void)app;
}

bool pumpUntil(const std::function<bool()>& done, int timeoutMs) {
    ensureApplication();
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return done();
        msg::waitAndProcessMessages(20);
    }
    return true;
}

void pumpFor(int ms) {
    ensureApplication();
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        msg::waitAndProcessMessages(
            static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
}

} // namespace fetchora::testing
