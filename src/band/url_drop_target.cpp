// The drop target component: OLE initialisation and registration, the drag calls and
// the drop that takes the dropped text.
#include "band/url_drop_target.h"

#include <cstring>

namespace fetchora {

TURLDropTarget::TURLDropTarget(QWidget* owner) {
    // Inside a host that has initialised OLE already the answer is S_FALSE, and the
    // owner registers its window when the window exists.
    if (ole::OleInitialize() == com::S_OK && owner != nullptr &&
        ole::RegisterDragDrop(owner, this) == com::S_OK)
        registered_ = owner;
}

TURLDropTarget::~TURLDropTarget() {
    if (registered_ != nullptr)
        ole::RevokeDragDrop(registered_);
    ole::OleUninitialize();
}

com::HRESULT TURLDropTarget::QueryInterface(const com::IID& iid, void** object) {
    if (object == nullptr)
        return com::E_POINTER;
    if (iid == com::IID_IUnknown || iid == ole::IID_IDropTarget) {
        *object = static_cast<ole::IDropTarget*>(this);
        return com::S_OK;
    }
    *object = nullptr;
    return com::E_NOINTERFACE;
}

com::ULONG TURLDropTarget::AddRef() {
    return 1;
}

com::ULONG TURLDropTarget::Release() {
    return 1;
}

com::HRESULT TURLDropTarget::accept(const TDragAcceptEvent& event) {
    com::HRESULT result = com::S_OK;
    if (event)
        event(this, result);
    return result;
}

com::HRESULT TURLDropTarget::DragEnter(ole::IDataObject*, ole::DWORD, ole::POINTL, ole::DWORD*) {
    return accept(OnDragEnter);
}

com::HRESULT TURLDropTarget::DragOver(ole::DWORD, ole::POINTL, ole::DWORD*) {
    return accept(OnDragOver);
}

com::HRESULT TURLDropTarget::DragLeave() {
    return accept(OnDragLeave);
}

com::HRESULT TURLDropTarget::Drop(ole::IDataObject* data, ole::DWORD, ole::POINTL, ole::DWORD*) {
    // A drop without text must not leave the text of an earlier drop behind: the window
    // would take that old link for this drop's.
    URL.clear();
    if (OnBeforeDrop)
        OnBeforeDrop(this);

    ole::FORMATETC format;
    format.cfFormat = ole::CF_TEXT;
    format.ptd = nullptr;
    format.dwAspect = ole::DVASPECT_CONTENT;
    format.lindex = -1;
    format.tymed = ole::TYMED_ANY;
    ole::STGMEDIUM medium;
    const com::HRESULT result =
        data != nullptr ? data->GetData(&format, &medium) : com::E_INVALIDARG;
    if (result == com::S_OK && medium.tymed == ole::TYMED_HGLOBAL) {
        const auto* text = static_cast<const char*>(ole::GlobalLock(medium.hGlobal));
        if (text != nullptr) {
            // The text ends at its zero or at the end of the block, whichever comes first.
            URL.assign(text, strnlen(text, ole::GlobalSize(medium.hGlobal)));
            ole::GlobalUnlock(medium.hGlobal);
        }
    }
    if (com::SUCCEEDED(result))
        ole::ReleaseStgMedium(&medium);

    if (OnDrop)
        OnDrop(this);
    return result;
}

} // namespace fetchora
