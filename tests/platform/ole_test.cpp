// OLE drag and drop: the per-thread initialisation, global memory, GUIDs, the text that a
// drag's mime data gives as CF_TEXT, and the registration of a window.
#include "platform/ole/mime_data_object.h"
#include "platform/ole/ole.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace fetchora::ole {
namespace {

TEST(OleTest, InitialisationCountsPerThread) {
    std::vector<HRESULT> results;
    std::thread([&] {
        results.push_back(OleInitialize());
        results.push_back(OleInitialize());
        OleUninitialize();
        OleUninitialize();
        // Balanced: the thread starts over.
        results.push_back(OleInitialize());
        OleUninitialize();
    }).join();
    EXPECT_EQ(results, (std::vector<HRESULT>{com::S_OK, com::S_FALSE, com::S_OK}));

    // Another thread's initialisation is not this thread's.
    std::thread([] {
        EXPECT_EQ(OleInitialize(), com::S_OK);
        std::thread([] {
            EXPECT_EQ(OleInitialize(), com::S_OK);
            OleUninitialize();
        }).join();
        OleUninitialize();
    }).join();
}

TEST(OleTest, HresultsAndGuidsHaveTheirRealValuesAndForm) {
    EXPECT_EQ(static_cast<uint32_t>(DV_E_FORMATETC), 0x80040064u);
    EXPECT_EQ(DRAGDROP_E_ALREADYREGISTERED, 0x40101);
    EXPECT_TRUE(com::SUCCEEDED(DRAGDROP_E_NOTREGISTERED))
        << "the DRAGDROP_E codes carry no failure bit";
    EXPECT_TRUE(com::FAILED(com::E_UNEXPECTED));
    EXPECT_EQ(com::guidToString(IID_IDropTarget), "{00000122-0000-0000-C000-000000000046}");
    EXPECT_EQ(com::guidToString(IID_IDataObject), "{0000010E-0000-0000-C000-000000000046}");
    EXPECT_EQ(com::guidFromString("{0000010e-0000-0000-c000-000000000046}"), IID_IDataObject);
    EXPECT_NE(IID_IDataObject, IID_IDropTarget);
    EXPECT_FALSE(com::guidFromString("{0000010e-0000-0000-c000-00000000004}"));
    EXPECT_FALSE(com::guidFromString("{0000010e-0000-0000-c000-00000000004g}"));
}

TEST(OleTest, GlobalMemoryKeepsItsBytesAndCountsLocks) {
    const HGLOBAL memory = GlobalAlloc(GHND, 4);
    ASSERT_NE(memory, nullptr);
    EXPECT_EQ(GlobalSize(memory), 4u);
    auto* bytes = static_cast<char*>(GlobalLock(memory));
    EXPECT_EQ(std::memcmp(bytes, "\0\0\0\0", 4), 0) << "GHND zeroes the block";
    std::memcpy(bytes, "abc", 4);
    EXPECT_EQ(GlobalLock(memory), bytes);
    EXPECT_TRUE(GlobalUnlock(memory));
    EXPECT_FALSE(GlobalUnlock(memory));
    EXPECT_STREQ(static_cast<char*>(GlobalLock(memory)), "abc");
    GlobalUnlock(memory);

    STGMEDIUM medium;
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = memory;
    ReleaseStgMedium(&medium); // frees it; ASan reports a leak otherwise
    EXPECT_EQ(medium.hGlobal, nullptr);
    EXPECT_EQ(medium.tymed, TYMED_NULL);
}

// What GetData gives for CF_TEXT: the text, or the error.
std::pair<HRESULT, std::string> textOf(IDataObject& data) {
    FORMATETC format;
    format.cfFormat = CF_TEXT;
    format.tymed = TYMED_ANY;
    STGMEDIUM medium;
    const HRESULT result = data.GetData(&format, &medium);
    std::string text;
    if (result == com::S_OK) {
        EXPECT_EQ(medium.tymed, TYMED_HGLOBAL);
        text = static_cast<const char*>(GlobalLock(medium.hGlobal));
        GlobalUnlock(medium.hGlobal);
        ReleaseStgMedium(&medium);
    }
    return {result, text};
}

std::pair<HRESULT, std::string> textOf(const QMimeData& mime) {
    MimeDataObject* data = MimeDataObject::create(mime);
    auto result = textOf(*data);
    EXPECT_EQ(data->Release(), 0u);
    return result;
}

QByteArray utf16(const QString& text) {
    return {reinterpret_cast<const char*>(text.utf16()), static_cast<qsizetype>(text.size() * 2)};
}

TEST(OleTest, DragDataGivesTheLinkAddressAsText) {
    const std::string link = "http://example.org/files/a%20b.zip";
    const QString qlink = QString::fromStdString(link);

    QMimeData plain;
    plain.setText(QStringLiteral("two\r\nlines"));
    EXPECT_EQ(textOf(plain), std::make_pair(com::S_OK, std::string("two\r\nlines")));

    QMimeData uriList;
    uriList.setData(QStringLiteral("text/uri-list"),
                    "# a comment\r\n" + qlink.toUtf8() + "\r\nhttp://other/\r\n");
    EXPECT_EQ(textOf(uriList), std::make_pair(com::S_OK, link));

    // What Firefox offers for a link, without its text/plain.
    QMimeData firefox;
    firefox.setData(QStringLiteral("text/x-moz-url"), utf16(qlink + QStringLiteral("\nThe title")));
    firefox.setData(QStringLiteral("text/html"),
                    "<a href=\"" + qlink.toUtf8() + "\">The title</a>");
    EXPECT_EQ(textOf(firefox), std::make_pair(com::S_OK, link));

    // And what Chromium offers: text/plain holds the address.
    QMimeData chromium;
    chromium.setData(QStringLiteral("text/uri-list"), qlink.toUtf8());
    chromium.setText(qlink);
    chromium.setData(QStringLiteral("text/html"), "<a href=\"x\">t</a>");
    EXPECT_EQ(textOf(chromium), std::make_pair(com::S_OK, link));

    // A page view whose text/plain is the link's title still gives the address.
    QMimeData titled;
    titled.setData(QStringLiteral("text/uri-list"), qlink.toUtf8() + "\r\n");
    titled.setText(QStringLiteral("Download the archive"));
    EXPECT_EQ(textOf(titled), std::make_pair(com::S_OK, link));

    QMimeData image;
    image.setData(QStringLiteral("image/png"), "\x89PNG");
    EXPECT_EQ(textOf(image).first, DV_E_FORMATETC);

    // Another format or medium is refused for text that is there.
    MimeDataObject* data = MimeDataObject::create(std::optional<std::string>("x"));
    FORMATETC format;
    format.cfFormat = 13;
    format.tymed = TYMED_ANY;
    STGMEDIUM medium;
    EXPECT_EQ(data->GetData(&format, &medium), DV_E_FORMATETC);
    format.cfFormat = CF_TEXT;
    format.tymed = TYMED_ISTREAM;
    EXPECT_EQ(data->GetData(&format, &medium), DV_E_TYMED);
    data->Release();
}

struct CountingTarget final : IDropTarget {
    HRESULT QueryInterface(const com::IID&, void**) override { return com::E_NOINTERFACE; }
    com::ULONG AddRef() override { return static_cast<com::ULONG>(++references); }
    com::ULONG Release() override { return static_cast<com::ULONG>(--references); }
    HRESULT DragEnter(IDataObject*, DWORD, POINTL, DWORD*) override { return com::S_OK; }
    HRESULT DragOver(DWORD, POINTL, DWORD*) override { return com::S_OK; }
    HRESULT DragLeave() override { return com::S_OK; }
    HRESULT Drop(IDataObject*, DWORD, POINTL, DWORD*) override { return com::S_OK; }
    int references = 0;
};

TEST(OleTest, RegistrationOfAWindowAndItsResults) {
    QWidget window;
    CountingTarget target;
    ASSERT_EQ(oleInitCount(), 0);
    EXPECT_EQ(RegisterDragDrop(&window, &target), com::CO_E_NOTINITIALIZED);

    ASSERT_EQ(OleInitialize(), com::S_OK);
    EXPECT_EQ(RegisterDragDrop(nullptr, &target), DRAGDROP_E_INVALIDHWND);
    EXPECT_EQ(RegisterDragDrop(&window, nullptr), com::E_INVALIDARG);
    EXPECT_EQ(RevokeDragDrop(&window), DRAGDROP_E_NOTREGISTERED);
    EXPECT_FALSE(window.acceptDrops());

    EXPECT_EQ(RegisterDragDrop(&window, &target), com::S_OK);
    EXPECT_TRUE(window.acceptDrops());
    EXPECT_EQ(target.references, 1);
    EXPECT_EQ(RegisterDragDrop(&window, &target), DRAGDROP_E_ALREADYREGISTERED);
    EXPECT_EQ(RevokeDragDrop(&window), com::S_OK);
    EXPECT_EQ(target.references, 0);
    EXPECT_FALSE(window.acceptDrops());
    EXPECT_EQ(RevokeDragDrop(&window), DRAGDROP_E_NOTREGISTERED);
    EXPECT_EQ(RevokeDragDrop(nullptr), DRAGDROP_E_INVALIDHWND);
    OleUninitialize();
}

// Records the calls a window's drags make and answers Drop with a narrower effect.
struct RecordingTarget final : IDropTarget {
    HRESULT QueryInterface(const com::IID&, void**) override { return com::E_NOINTERFACE; }
    com::ULONG AddRef() override { return 1; }
    com::ULONG Release() override { return 1; }
    HRESULT DragEnter(IDataObject* data, DWORD, POINTL, DWORD* effect) override {
        calls.push_back("enter " + std::to_string(*effect) + " " + textOf(*data).second);
        return com::S_OK;
    }
    HRESULT DragOver(DWORD, POINTL, DWORD* effect) override {
        calls.push_back("over " + std::to_string(*effect));
        return refuseOver ? com::E_FAIL : com::S_OK;
    }
    HRESULT DragLeave() override {
        calls.push_back("leave");
        return com::S_OK;
    }
    HRESULT Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) override {
        calls.push_back("drop " + std::to_string(*effect) + " " + textOf(*data).second);
        return com::S_OK;
    }
    std::vector<std::string> calls;
    bool refuseOver = false;
};

TEST(OleTest, RegisteredWindowPassesQtDragsAndKeepsTheOfferedAction) {
    QWidget window;
    RecordingTarget target;
    ASSERT_EQ(OleInitialize(), com::S_OK);
    ASSERT_EQ(RegisterDragDrop(&window, &target), com::S_OK);
    QMimeData mime;
    mime.setText(QStringLiteral("http://h/a.zip"));
    const Qt::DropActions offered = Qt::CopyAction | Qt::LinkAction;

    QDragEnterEvent enter(QPoint(5, 5), offered, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    EXPECT_TRUE(enter.isAccepted());
    const Qt::DropAction proposed = enter.proposedAction();
    EXPECT_EQ(enter.dropAction(), proposed);

    target.refuseOver = true;
    QDragMoveEvent refused(QPoint(6, 5), offered, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &refused);
    EXPECT_FALSE(refused.isAccepted());
    target.refuseOver = false;

    QDropEvent drop(QPointF(7, 5), offered, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(drop.dropAction(), drop.proposedAction());
    EXPECT_EQ(target.calls, (std::vector<std::string>{"enter 5 http://h/a.zip", "over 5",
                                                      "drop 5 http://h/a.zip"}));

    // An X drag source may answer nothing at the drop: the drag's text as it entered.
    QMimeData gone;
    QDragEnterEvent again(QPoint(5, 5), offered, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &again);
    QDropEvent late(QPointF(7, 5), offered, &gone, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &late);
    EXPECT_EQ(target.calls.back(), "drop 5 http://h/a.zip");

    EXPECT_EQ(RevokeDragDrop(&window), com::S_OK);
    OleUninitialize();
}

} // namespace
} // namespace fetchora::ole
