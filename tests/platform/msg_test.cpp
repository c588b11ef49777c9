// The message layer: posted messages reach their window's procedure in order on the
// window's thread, windows that are gone receive nothing, the synchronous wait wakes on
// a message, and a quit ends waits nested in the main loop.
#include "platform/msg/hidden_window.h"
#include "platform/msg/message_pump.h"
#include "support/application.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

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
