// Hidden-window sharing: components take their messages from one handler per thread
// until its block of 100 is full, derived components get their own messages, the release
// message frees a component, and an exception escaping a message goes to OnBgException.
#include "http/msg_wnd_control.h"
#include "support/application.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace fetchora {
namespace {

// A component with three messages of its own, as the HTTP client has.
class Component : public TMsgWndControl {
public:
    explicit Component(bool* destroyed = nullptr) : destroyed_(destroyed) {}
    ~Component() override {
        if (destroyed_ != nullptr)
            *destroyed_ = true;
    }

    UINT first = 0, second = 0, third = 0;
    std::vector<UINT> handled;
    bool throwOnFirst = false;
    int aborted = 0;

protected:
    int MsgHandlersCount() override { return 3 + TMsgWndControl::MsgHandlersCount(); }
    void AllocateMsgHandlers() override {
        TMsgWndControl::AllocateMsgHandlers();
        first = AllocateMsgHandler();
        second = AllocateMsgHandler();
        third = AllocateMsgHandler();
    }
    void FreeMsgHandlers() override {
        FreeMsgHandler(first);
        FreeMsgHandler(second);
        FreeMsgHandler(third);
        TMsgWndControl::FreeMsgHandlers();
    }
    void WndProc(TMessage& MsgRec) override {
        if (MsgRec.Msg == first || MsgRec.Msg == second || MsgRec.Msg == third) {
            handled.push_back(MsgRec.Msg);
            if (throwOnFirst && MsgRec.Msg == first)
                throw std::runtime_error("boom");
            return;
        }
        TMsgWndControl::WndProc(MsgRec);
    }
    void AbortComponent() override { ++aborted; }

private:
    bool* destroyed_;
};

class MsgWndControl : public ::testing::Test {
protected:
    void SetUp() override {
        testing::ensureApplication();
        ASSERT_EQ(TMsgWndHandlerPool::Instance().HandlerCount(), 0);
    }
    void TearDown() override { EXPECT_EQ(TMsgWndHandlerPool::Instance().HandlerCount(), 0); }
};

TEST_F(MsgWndControl, ComponentsShareOneWindowWithDistinctMessagesFrom1025) {
    Component a;
    Component b;
    EXPECT_FALSE(a.HandleAllocated());
    ASSERT_NE(a.Handle(), nullptr);
    ASSERT_EQ(b.Handle(), a.Handle());
    EXPECT_EQ(a.ThreadId(), std::this_thread::get_id());
    const std::set<UINT> numbers = {a.first, a.second, a.third, b.first, b.second, b.third};
    EXPECT_EQ(numbers.size(), 6u);
    EXPECT_EQ(*numbers.begin(), 1026u) << "1025 is the first component's release message";
    EXPECT_LT(*numbers.rbegin(), 1025u + 100u);
    EXPECT_EQ(TMsgWndHandlerPool::Instance().HandlerCount(), 1);

    a.PostMessage(a.second);
    b.PostMessage(b.first);
    testing::pumpUntil([&] { return !a.handled.empty() && !b.handled.empty(); });
    EXPECT_EQ(a.handled, std::vector<UINT>{a.second});
    EXPECT_EQ(b.handled, std::vector<UINT>{b.first});
}

TEST_F(MsgWndControl, AFullBlockStartsASecondWindowAndEmptyOnesGo) {
    std::vector<std::unique_ptr<Component>> components;
    for (int i = 0; i < 26; ++i) { // 26 x 4 messages: more than one block of 100
        components.push_back(std::make_unique<Component>());
        components.back()->Handle();
    }
    EXPECT_EQ(TMsgWndHandlerPool::Instance().HandlerCount(), 2);
    EXPECT_NE(components.front()->Handle(), components.back()->Handle());
    components.pop_back(); // the only one in the second window
    EXPECT_EQ(TMsgWndHandlerPool::Instance().HandlerCount(), 1);
    components.clear();
}

TEST_F(MsgWndControl, TheReleaseMessageFreesTheComponentLater) {
    bool destroyed = false;
    auto* component = new Component(&destroyed);
    component->Handle();
    component->Release();
    EXPECT_FALSE(destroyed);
    EXPECT_TRUE(testing::pumpUntil([&] { return destroyed; }));
}

TEST_F(MsgWndControl, AnEscapingExceptionGoesToOnBgExceptionWhichMayKeepTheComponent) {
    Component component;
    component.throwOnFirst = true;
    std::string told;
    bool keep = false;
    component.OnBgException = [&](TMsgWndControl* sender, const std::exception& e, bool& canClose) {
        EXPECT_EQ(sender, &component);
        told = e.what();
        canClose = !keep;
    };
    component.Handle();
    component.PostMessage(component.first);
    component.PostMessage(component.second);
    testing::pumpUntil([&] { return component.handled.size() == 2; });
    EXPECT_EQ(told, "boom");
    EXPECT_EQ(component.aborted, 1);
    EXPECT_EQ(component.handled.size(), 2u) << "the next message is handled as usual";

    keep = true;
    component.PostMessage(component.first);
    testing::pumpUntil([&] { return component.handled.size() == 3; });
    EXPECT_EQ(component.aborted, 1);
}

TEST_F(MsgWndControl, DetachAndAttachFollowTheirRules) {
    Component component;
    component.Handle();
    EXPECT_THROW(component.ThreadAttach(), EMsgWndException);
    std::string fromOther;
    std::thread other([&] {
        try {
            component.ThreadDetach();
        } catch (const EMsgWndException& e) {
            fromOther = e.what();
        }
    });
    other.join();
    EXPECT_EQ(fromOther, "Cannot detach from another thread");
    component.ThreadDetach();
    EXPECT_FALSE(component.HandleAllocated());
    EXPECT_EQ(TMsgWndHandlerPool::Instance().HandlerCount(), 0);
    component.ThreadAttach();
    EXPECT_TRUE(component.HandleAllocated());
}

TEST(MsgWndHandler, ABlockHoldsOneHundredMessages) {
    testing::ensureApplication();
    TMsgWndHandler handler;
    Component owner;
    for (int i = 0; i < TMsgWndHandler::MaxMsg; ++i)
        EXPECT_EQ(handler.AllocateMsgHandler(&owner), 1025u + static_cast<UINT>(i));
    try {
        handler.AllocateMsgHandler(&owner);
        ADD_FAILURE() << "a 101st message was given out";
    } catch (const EMsgWndException& e) {
        EXPECT_STREQ(e.what(), "No more free message");
    }
    handler.UnregisterMessage(1030);
    EXPECT_EQ(handler.AllocateMsgHandler(&owner), 1030u);
    handler.UnregisterAll(&owner);
    EXPECT_EQ(handler.UsedCount(), 0);
}

} // namespace
} // namespace fetchora
