// The message layer: posted messages reach their window's procedure in order on the
// window's thread, across windows and however they are drained, windows that are gone
// receive nothing, loops nested in a procedure still deliver what is queued, the
// synchronous wait wakes on a message, and a quit ends waits nested in the main loop.
#include "platform/msg/hidden_window.h"
#include "platform/msg/message_pump.h"
#include "support/application.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <tuple>
#include <vector>

namespace fetchora::msg {
namespace {

using Record = std::tuple<UINT, WPARAM, LPARAM>;

class MessageLayer : public ::testing::Test {
protected:
    void SetUp() override { testing::ensureApplication(); }
};

TEST_F(MessageLayer, PostedMessagesArriveInOrderWithTheirParameters) {
    std::vector<Record> seen;
    HWND window = createHiddenWindow([&](UINT m, WPARAM w, LPARAM l) {
        seen.emplace_back(m, w, l);
        return LRESULT{0};
    });
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(postMessage(window, WM_USER + 1, 7, -3));
    EXPECT_TRUE(postMessage(window, WM_USER + 2, 0, 0x7FFF0001));
    EXPECT_TRUE(seen.empty()) << "posting must not call the procedure at once";
    processMessages();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], Record(WM_USER + 1, 7, -3));
    EXPECT_EQ(seen[1], Record(WM_USER + 2, 0, 0x7FFF0001));
    destroyHiddenWindow(window);
}

TEST_F(MessageLayer, MessagesPostedWhileProcessingAreProcessedToo) {
    int count = 0;
    HWND window = nullptr;
    window = createHiddenWindow([&](UINT, WPARAM w, LPARAM) {
        ++count;
        if (w < 3)
            postMessage(window, WM_USER, w + 1, 0);
        return LRESULT{0};
    });
    postMessage(window, WM_USER, 0, 0);
    processMessages();
    EXPECT_EQ(count, 4);
    destroyHiddenWindow(window);
}

TEST_F(MessageLayer, AWindowThatIsGoneReceivesNothing) {
    int count = 0;
    HWND window = createHiddenWindow([&](UINT, WPARAM, LPARAM) {
        ++count;
        return LRESULT{0};
    });
    postMessage(window, WM_USER, 0, 0);
    destroyHiddenWindow(window);
    EXPECT_FALSE(isWindow(window));
    EXPECT_FALSE(postMessage(window, WM_USER, 0, 0));
    processMessages();
    EXPECT_EQ(count, 0);
}

TEST_F(MessageLayer, AWindowMayDestroyItselfInItsProcedure) {
    int count = 0;
    HWND window = nullptr;
    window = createHiddenWindow([&](UINT, WPARAM, LPARAM) {
        ++count;
        destroyHiddenWindow(window);
        return LRESULT{0};
    });
    postMessage(window, WM_USER, 0, 0);
    postMessage(window, WM_USER, 1, 0);
    processMessages();
    EXPECT_EQ(count, 1);
    EXPECT_FALSE(isWindow(window));
}

TEST_F(MessageLayer, OrderHoldsAcrossWindowsAndMessagesPostedWhileDelivering) {
    std::vector<std::pair<char, WPARAM>> seen;
    HWND second = nullptr;
    const auto record = [&](char window) {
        return [&seen, window, &second](UINT, WPARAM w, LPARAM) {
            seen.emplace_back(window, w);
            if (window == 'a' && w == 1)
                postMessage(second, WM_USER, 4, 0);
            return LRESULT{0};
        };
    };
    HWND first = createHiddenWindow(record('a'));
    second = createHiddenWindow(record('b'));
    postMessage(first, WM_USER, 1, 0);
    postMessage(second, WM_USER, 2, 0);
    postMessage(first, WM_USER, 3, 0);
    processMessages();
    const std::vector<std::pair<char, WPARAM>> expected = {{'a', 1}, {'b', 2}, {'a', 3}, {'b', 4}};
    EXPECT_EQ(seen, expected);
    destroyHiddenWindow(first);
    destroyHiddenWindow(second);
}

TEST_F(MessageLayer, AWindowDestroyedWithMessagesQueuedGetsNoneOfThem) {
    // Another window's procedure destroys it while its messages wait behind; a window
    // made afterwards (perhaps at the same address) must not receive them either.
    int destroyedGot = 0;
    int newcomerGot = 0;
    int killerGot = 0;
    HWND doomed = createHiddenWindow([&](UINT, WPARAM, LPARAM) {
        ++destroyedGot;
        return LRESULT{0};
    });
    HWND newcomer = nullptr;
    HWND killer = createHiddenWindow([&](UINT, WPARAM, LPARAM) {
        ++killerGot;
        if (killerGot == 1) {
            destroyHiddenWindow(doomed);
            newcomer = createHiddenWindow([&](UINT, WPARAM, LPARAM) {
                ++newcomerGot;
                return LRESULT{0};
            });
        }
        return LRESULT{0};
    });
    postMessage(killer, WM_USER, 0, 0);
    postMessage(doomed, WM_USER, 0, 0);
    postMessage(doomed, WM_USER, 1, 0);
    postMessage(killer, WM_USER, 1, 0);
    processMessages();
    EXPECT_EQ(killerGot, 2) << "the messages behind a destroyed window's still arrive";
    EXPECT_EQ(destroyedGot, 0);
    EXPECT_EQ(newcomerGot, 0);
    destroyHiddenWindow(newcomer);
    destroyHiddenWindow(killer);
}

TEST_F(MessageLayer, CallsRunInTurnAmongMessagesAndGoWithTheirWindow) {
    std::vector<int> seen;
    HWND window = createHiddenWindow([&](UINT, WPARAM w, LPARAM) {
        seen.push_back(static_cast<int>(w));
        return LRESULT{0};
    });
    HWND doomed = createHiddenWindow([](UINT, WPARAM, LPARAM) { return LRESULT{0}; });
    postMessage(window, WM_USER, 1, 0);
    EXPECT_TRUE(postCall(window, [&] { seen.push_back(2); }));
    EXPECT_TRUE(postCall(doomed, [&] { seen.push_back(-1); }));
    postMessage(window, WM_USER, 3, 0);
    destroyHiddenWindow(doomed);
    EXPECT_FALSE(postCall(doomed, [&] { seen.push_back(-2); }));
    EXPECT_TRUE(seen.empty()) << "a call must not run at once";
    processMessages();
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
    destroyHiddenWindow(window);
}

TEST_F(MessageLayer, AnyEventLoopDeliversWhatItsOwnThreadPosted) {
    // A post on the window's own thread wakes nothing, so a loop that is not the message
    // pump (the application's, a dialog's) must still deliver it on its next turn: posted
    // before the loop runs, and posted by a timer while it waits.
    for (const bool fromTimer : {false, true}) {
        SCOPED_TRACE(fromTimer);
        QEventLoop loop;
        HWND window = createHiddenWindow([&](UINT, WPARAM, LPARAM) {
            loop.quit();
            return LRESULT{0};
        });
        if (fromTimer)
            QTimer::singleShot(10, [window] { postMessage(window, WM_USER, 0, 0); });
        else
            postMessage(window, WM_USER, 0, 0);
        QTimer::singleShot(3000, &loop, &QEventLoop::quit);
        QElapsedTimer clock;
        clock.start();
        loop.exec();
        EXPECT_LT(clock.elapsed(), 900);
        destroyHiddenWindow(window);
    }
}

TEST_F(MessageLayer, AnExceptionInOneProcedureLosesNoFollowingMessage) {
    std::vector<WPARAM> seen;
    HWND window = createHiddenWindow([&](UINT, WPARAM w, LPARAM) -> LRESULT {
        seen.push_back(w);
        if (w == 1)
            throw std::runtime_error("procedure failed");
        return 0;
    });
    for (WPARAM w = 1; w <= 3; ++w)
        postMessage(window, WM_USER, w, 0);
    processMessages();
    EXPECT_EQ(seen, (std::vector<WPARAM>{1, 2, 3}));
    destroyHiddenWindow(window);
}

TEST_F(MessageLayer, LoopsNestedInAProcedureDeliverWhatIsQueuedBehindIt) {
    // A procedure that waits (a synchronous request, a modal dialog) must see the messages
    // queued after its own, those it posts itself, and those from other threads.
    enum class Nesting { MessagePump, EventLoop, CrossThreadWait };
    for (const Nesting nesting :
         {Nesting::MessagePump, Nesting::EventLoop, Nesting::CrossThreadWait}) {
        SCOPED_TRACE(static_cast<int>(nesting));
        std::vector<WPARAM> seen;
        bool finished = false;
        HWND window = nullptr;
        std::thread poster;
        const auto seenAll = [&] { return seen.size() == 3; };
        window = createHiddenWindow([&](UINT, WPARAM w, LPARAM) {
            seen.push_back(w);
            if (w != 1)
                return LRESULT{0};
            QElapsedTimer clock;
            clock.start();
            switch (nesting) {
            case Nesting::MessagePump:
                postMessage(window, WM_USER, 3, 0);
                while (!seenAll() && clock.elapsed() < 3000)
                    waitAndProcessMessages(1000);
                break;
            case Nesting::EventLoop: {
                postMessage(window, WM_USER, 3, 0);
                QEventLoop loop;
                QTimer poll;
                QObject::connect(&poll, &QTimer::timeout, [&] {
                    if (seenAll() || clock.elapsed() > 3000)
                        loop.quit();
                });
                poll.start(1);
                loop.exec();
                break;
            }
            case Nesting::CrossThreadWait:
                poster = std::thread([window] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    postMessage(window, WM_USER, 3, 0);
                });
                while (!seenAll() && clock.elapsed() < 3000)
                    waitAndProcessMessages(1000);
                break;
            }
            finished = clock.elapsed() < 900;
            return LRESULT{0};
        });
        postMessage(window, WM_USER, 1, 0);
        postMessage(window, WM_USER, 2, 0);
        processMessages();
        if (poster.joinable())
            poster.join();
        EXPECT_EQ(seen, (std::vector<WPARAM>{1, 2, 3}));
        EXPECT_TRUE(finished) << "the nested wait must end when the messages arrive";
        destroyHiddenWindow(window);
    }
}

TEST_F(MessageLayer, AWindowPostingToItselfForeverLetsTheLoopsOtherEventsRun) {
    int delivered = 0;
    HWND window = nullptr;
    window = createHiddenWindow([&](UINT, WPARAM, LPARAM) {
        ++delivered;
        postMessage(window, WM_USER, 0, 0);
        return LRESULT{0};
    });
    bool timerRan = false;
    QTimer::singleShot(0, [&] { timerRan = true; });
    postMessage(window, WM_USER, 0, 0);
    QElapsedTimer clock;
    clock.start();
    while (!timerRan && clock.elapsed() < 3000)
        QAbstractEventDispatcher::instance()->processEvents(QEventLoop::AllEvents);
    EXPECT_TRUE(timerRan);
    EXPECT_GT(delivered, 0);
    destroyHiddenWindow(window);
    processMessages();
}

TEST_F(MessageLayer, AMessageFromAnotherThreadRunsOnTheWindowsThread) {
    std::thread::id ranOn;
    bool done = false;
    HWND window = createHiddenWindow([&](UINT, WPARAM, LPARAM) {
        ranOn = std::this_thread::get_id();
        done = true;
        return LRESULT{0};
    });
    std::thread poster([window] { postMessage(window, WM_USER, 0, 0); });
    poster.join();
    EXPECT_TRUE(testing::pumpUntil([&] { return done; }));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    destroyHiddenWindow(window);
}

TEST_F(MessageLayer, TheWaitWakesOnAMessageAndOtherwiseOnTheTimeout) {
    bool done = false;
    HWND window = createHiddenWindow([&](UINT, WPARAM, LPARAM) {
        done = true;
        return LRESULT{0};
    });
    std::thread poster([window] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        postMessage(window, WM_USER, 0, 0);
    });
    QElapsedTimer clock;
    clock.start();
    while (!done && clock.elapsed() < 3000)
        waitAndProcessMessages(1000);
    poster.join();
    EXPECT_TRUE(done);
    EXPECT_LT(clock.elapsed(), 900) << "the wait must end when a message arrives";

    clock.restart();
    waitAndProcessMessages(100);
    EXPECT_LT(clock.elapsed(), 900) << "the wait must end at its timeout";
    destroyHiddenWindow(window);
}

TEST_F(MessageLayer, QuitEndsAWaitNestedInTheMainLoop) {
    clearTerminating();
    EXPECT_FALSE(applicationTerminating());
    bool gaveUp = false;
    QTimer::singleShot(0, [&] {
        // A synchronous call waiting inside an event handler, as a download does.
        QTimer::singleShot(20, [] { QCoreApplication::quit(); });
        QElapsedTimer clock;
        clock.start();
        while (!applicationTerminating() && clock.elapsed() < 3000)
            waitAndProcessMessages(1000);
        gaveUp = applicationTerminating();
        QCoreApplication::exit(0);
    });
    QCoreApplication::exec();
    EXPECT_TRUE(gaveUp);
    clearTerminating();
}

} // namespace
} // namespace fetchora::msg
