// TURLDropTarget, the component that makes a form's window a drop target and turns what
// is dropped into one text, normally the address of a link dragged out of a web page.
#pragma once

#include "platform/ole/ole.h"

#include <functional>
#include <string>

class QWidget;

namespace fetchora {

class TURLDropTarget;

// Sender, and the result of the IDropTarget call that the handler sets (S_OK to start).
using TDragAcceptEvent = std::function<void(TURLDropTarget* Sender, com::HRESULT& Accept)>;
using TDropNotifyEvent = std::function<void(TURLDropTarget* Sender)>;

class TURLDropTarget final : public ole::IDropTarget {
public:
    // Initialises OLE for the calling thread. When that is the thread's first
    // initialisation, registers owner's window with this component as its drop target;
    // otherwise the owner registers its window itself with this IDropTarget.
    explicit TURLDropTarget(QWidget* owner);
    // Withdraws a registration the component made itself and uninitialises OLE once.
    ~TURLDropTarget();
    TURLDropTarget(const TURLDropTarget&) = delete;
    TURLDropTarget& operator=(const TURLDropTarget&) = delete;

    // The text of the last drop; every drop empties it first, so after a drop without
    // text it is empty and never an earlier drop's text.
    std::string URL;

    TDragAcceptEvent OnDragEnter;
    TDragAcceptEvent OnDragOver;
    TDragAcceptEvent OnDragLeave;
    TDropNotifyEvent OnBeforeDrop;
    TDropNotifyEvent OnDrop;

    // The component lives as long as its owner keeps it: the references are not counted.
    com::HRESULT QueryInterface(const com::IID& iid, void** object) override;
    com::ULONG AddRef() override;
    com::ULONG Release() override;

    // Every drag is accepted and its effect left as the source offered it; the handlers
    // decide the result.
    com::HRESULT DragEnter(ole::IDataObject* data, ole::DWORD keyState, ole::POINTL point,
                           ole::DWORD* effect) override;
    com::HRESULT DragOver(ole::DWORD keyState, ole::POINTL point, ole::DWORD* effect) override;
    com::HRESULT DragLeave() override;
    // Takes the dropped text into URL, raises OnDrop, and returns what the data object
    // answered to the request for text.
    com::HRESULT Drop(ole::IDataObject* data, ole::DWORD keyState, ole::POINTL point,
                      ole::DWORD* effect) override;

    // The registration the component made itself, or nullptr.
    QWidget* registeredWindow() const { return registered_; }

private:
    com::HRESULT accept(const TDragAcceptEvent& event);

    QWidget* registered_ = nullptr;
};

} // namespace fetchora
