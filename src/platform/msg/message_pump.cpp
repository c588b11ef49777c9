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
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (dispatcher == nullptr) {
        MessageQueue::deliverPendingOfCurrentThread();
        QCoreApplication::sendPostedEvents();
        return;
    }
    // Messages posted while processing are processed too, as a PeekMessage loop does;
    // the bound keeps a component that posts to itself forever from holding the caller.
    // The thread's own posts are delivered here directly, before each turn, so they cost
    // the loop no wake-up.
    for (int round = 0; round < 1000; ++round) {
        MessageQueue::deliverPendingOfCurrentThread();
        if (!dispatcher->processEvents(QEventLoop::AllEvents))
            break;
    }
}

void waitForMessage(int timeoutMs) {
    ensureQuitWatch();
    // Messages waiting already are the message waited for.
    if (MessageQueue::deliverPendingOfCurrentThread())
        return;
    if (QAbstractEventDispatcher::instance() == nullptr)
        return;
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(timeoutMs < 0 ? 0 : timeoutMs);
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    MessageQueue::deliverPendingOfCurrentThread();
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
