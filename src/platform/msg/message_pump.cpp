// Processing and waiting on the calling thread's Qt event dispatcher, and the watch for
// the application's quit.
#include "platform/msg/message_pump.h"
#include "platform/msg/hidden_window_qt.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <atomic>

namespace fetchora::msg {

namespace {

std::atomic<bool> terminating{false};

// Sees the application's Quit event (sent by quit() and by closing the last window) and
// marks the application as terminating, so that waits nested in the main loop end.
class QuitWatch final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Quit)
            terminating = true;
        return QObject::eventFilter(watched, event);
    }
};

void ensureQuitWatch() {
    static QPointer<QuitWatch> watch;
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || watch != nullptr || QThread::currentThread() != app->thread())
        return;
    watch = new QuitWatch(app);
    app->installEventFilter(watch);
}

} // namespace

void processMessages() {
    ensureQuitWatch();
    MessageQueue::loopTurnOfCurrentThread();
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (dispatcher == nullptr) {
        QCoreApplication::sendPostedEvents();
        return;
    }
    // Messages posted while processing are processed too, as a PeekMessage loop does;
    // the bound keeps a component that posts to itself forever from holding the caller.
    for (int round = 0; round < 1000; ++round) {
        if (!dispatcher->processEvents(QEventLoop::AllEvents))
            break;
    }
}

void waitForMessage(int timeoutMs) {
    ensureQuitWatch();
    MessageQueue::loopTurnOfCurrentThread();
    if (QAbstractEventDispatcher::instance() == nullptr)
        return;
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(timeoutMs < 0 ? 0 : timeoutMs);
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void waitAndProcessMessages(int timeoutMs) {
    waitForMessage(timeoutMs);
    processMessages();
}

bool applicationTerminating() {
    ensureQuitWatch();
    return terminating || QCoreApplication::instance() == nullptr ||
           QCoreApplication::closingDown();
}

void markTerminating() {
    terminating = true;
}

void clearTerminating() {
    terminating = false;
}

} // namespace fetchora::msg
