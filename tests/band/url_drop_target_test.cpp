// The URL drop target: the text a drop takes, its events and results, and the rule that
// registers the owner's window only on the thread's first OLE initialisation.
#include "band/url_drop_target.h"

#include <QWidget>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace fetchora {
namespace {

using com::HRESULT;

// Data whose GetData answers with the scripted result and, on success, the text in
// global memory.
class ScriptedData final : public ole::IDataObject {
public:
    explicit ScriptedData(std::optional<std::string> text, HRESULT failure = ole::DV_E_FORMATETC)
        : text_(std::move(text)), failure_(failure) {}

    HRESULT QueryInterface(const com::IID&, void**) override { return com::E_NOINTERFACE; }
    com::ULONG AddRef() override { return 1; }
    com::ULONG Release() override { return 1; }
    HRESULT GetData(const ole::FORMATETC* format, ole::STGMEDIUM* medium) override {
        asked = *format;
        if (!text_)
            return failure_;
        medium->tymed = ole::TYMED_HGLOBAL;
        medium->hGlobal = ole::GlobalAlloc(ole::GHND, text_->size() + 1);
        std::memcpy(ole::GlobalLock(medium->hGlobal), text_->c_str(), text_->size() + 1);
        ole::GlobalUnlock(medium->hGlobal);
        return com::S_OK;
    }

    ole::FORMATETC asked;

private:
    std::optional<std::string> text_;
    HRESULT failure_;
};

class UrlDropTargetTest : public ::testing::Test {
protected:
    HRESULT drop(TURLDropTarget& target, ole::IDataObject& data) {
        ole::DWORD effect = ole::DROPEFFECT_COPY | ole::DROPEFFECT_LINK;
        const HRESULT result = target.Drop(&data, ole::MK_LBUTTON, {3, 4}, &effect);
        EXPECT_EQ(effect, ole::DROPEFFECT_COPY | ole::DROPEFFECT_LINK);
        return result;
    }
};

TEST_F(UrlDropTargetTest, DropTakesTheTextAndRaisesItsEventsInOrder) {
    TURLDropTarget target(nullptr);
    std::vector<std::string> events;
    target.OnBeforeDrop = [&](TURLDropTarget* sender) {
        EXPECT_EQ(sender, &target);
        events.push_back("before " + target.URL);
    };
    target.OnDrop = [&](TURLDropTarget*) { events.push_back("drop " + target.URL); };

    ScriptedData link("http://example.org/a.zip");
    EXPECT_EQ(drop(target, link), com::S_OK);
    EXPECT_EQ(link.asked.cfFormat, ole::CF_TEXT);
    EXPECT_EQ(link.asked.ptd, nullptr);
    EXPECT_EQ(link.asked.dwAspect, ole::DVASPECT_CONTENT);
    EXPECT_EQ(link.asked.lindex, -1);
    EXPECT_EQ(link.asked.tymed, 0xFFFFFFFFu);

    // Two lines stay as they are, line break and all.
    ScriptedData lines("first\r\nsecond ");
    EXPECT_EQ(drop(target, lines), com::S_OK);
    EXPECT_EQ(target.URL, "first\r\nsecond ");

    // No text: the failure comes back, OnDrop still fires, and the earlier link is gone,
    // so the window cannot take it for this drop's.
    ScriptedData image(std::nullopt);
    EXPECT_EQ(drop(target, image), ole::DV_E_FORMATETC);
    EXPECT_EQ(target.URL, "");
    EXPECT_EQ(events,
              (std::vector<std::string>{"before ", "drop http://example.org/a.zip", "before ",
                                        "drop first\r\nsecond ", "before ", "drop "}));
}

TEST_F(UrlDropTargetTest, DragCallsAcceptEverythingWithoutHandlersAndTakeTheHandlersResult) {
    TURLDropTarget target(nullptr);
    ScriptedData data("x");
    ole::DWORD effect = ole::DROPEFFECT_MOVE | ole::DROPEFFECT_COPY;
    EXPECT_EQ(target.DragEnter(&data, 0, {}, &effect), com::S_OK);
    EXPECT_EQ(target.DragOver(0, {}, &effect), com::S_OK);
    EXPECT_EQ(target.DragLeave(), com::S_OK);
    // A drop without handlers still takes its text.
    EXPECT_EQ(target.Drop(&data, 0, {}, &effect), com::S_OK);
    EXPECT_EQ(target.URL, "x");
    EXPECT_EQ(effect, ole::DROPEFFECT_MOVE | ole::DROPEFFECT_COPY);

    std::vector<std::string> calls;
    target.OnDragEnter = [&](TURLDropTarget*, HRESULT& accept) {
        calls.push_back(accept == com::S_OK ? "enter S_OK" : "enter ?");
        accept = com::S_FALSE;
    };
    target.OnDragOver = [&](TURLDropTarget*, HRESULT& accept) {
        calls.push_back("over");
        accept = com::E_UNEXPECTED;
    };
    target.OnDragLeave = [&](TURLDropTarget*, HRESULT&) { calls.push_back("leave"); };
    EXPECT_EQ(target.DragEnter(&data, 0, {}, &effect), com::S_FALSE);
    EXPECT_EQ(target.DragOver(0, {}, &effect), com::E_UNEXPECTED);
    EXPECT_EQ(target.DragLeave(), com::S_OK);
    EXPECT_EQ(calls, (std::vector<std::string>{"enter S_OK", "over", "leave"}));
    EXPECT_EQ(effect, ole::DROPEFFECT_MOVE | ole::DROPEFFECT_COPY);
}

TEST_F(UrlDropTargetTest, AnswersItsInterfacesWithoutCountingReferences) {
    auto target = std::make_unique<TURLDropTarget>(nullptr);
    void* object = nullptr;
    EXPECT_EQ(target->QueryInterface(ole::IID_IDropTarget, &object), com::S_OK);
    EXPECT_EQ(object, static_cast<ole::IDropTarget*>(target.get()));
    EXPECT_EQ(target->QueryInterface(com::IID_IUnknown, &object), com::S_OK);
    EXPECT_EQ(target->QueryInterface(ole::IID_IDataObject, &object), com::E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    target->Release();
    target->Release();
    target.reset(); // ASan reports a double free if Release destroyed it
}

TEST_F(UrlDropTargetTest, RegistersItsOwnerOnlyOnTheThreadsFirstInitialisation) {
    QWidget owner;
    ASSERT_EQ(ole::oleInitCount(), 0);
    {
        // The thread's first initialisation: the component registers its owner.
        TURLDropTarget target(&owner);
        EXPECT_EQ(target.registeredWindow(), &owner);
        EXPECT_TRUE(owner.acceptDrops());
        EXPECT_EQ(ole::RegisterDragDrop(&owner, &target), ole::DRAGDROP_E_ALREADYREGISTERED);
    }
    EXPECT_FALSE(owner.acceptDrops()) << "the component withdraws its own registration";
    EXPECT_EQ(ole::oleInitCount(), 0) << "destruction uninitialises once";

    // Initialised before, as in the browser (S_FALSE): the owner registers its window.
    ASSERT_EQ(ole::OleInitialize(), com::S_OK);
    {
        TURLDropTarget target(&owner);
        EXPECT_EQ(target.registeredWindow(), nullptr);
        EXPECT_FALSE(owner.acceptDrops());
        EXPECT_EQ(ole::RegisterDragDrop(&owner, &target), com::S_OK);
        EXPECT_EQ(ole::RevokeDragDrop(&owner), com::S_OK);
        EXPECT_EQ(ole::oleInitCount(), 2);
    }
    EXPECT_EQ(ole::oleInitCount(), 1);
    ole::OleUninitialize();
}

} // namespace
} // namespace fetchora
