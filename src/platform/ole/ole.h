// OLE drag and drop: the per-thread initialisation, global memory, the data formats and
// storage media, IDataObject and IDropTarget, and the registration of a window as a drop
// target. A window handle is the widget itself; registering it installs a filter that
// turns Qt's drag events into the four IDropTarget calls, with an IDataObject over the
// drag's mime data that offers CF_TEXT in global memory.
#pragma once

#include "platform/com/com.h"

#include <cstddef>
#include <cstdint>

class QWidget;

namespace fetchora::ole {

using com::BOOL;
using com::DWORD;
using com::HRESULT;

// The window handle of this layer: the widget itself.
using HWND = QWidget*;

// Per thread: S_OK for the first initialisation, S_FALSE for each one after it. Each
// successful call is matched by one OleUninitialize.
HRESULT OleInitialize(void* reserved = nullptr);
void OleUninitialize();
// The calls of OleInitialize on this thread not yet matched by OleUninitialize.
int oleInitCount();

// Global memory: a movable block, reached through GlobalLock.
struct GlobalBlock;
using HGLOBAL = GlobalBlock*;
inline constexpr unsigned GMEM_FIXED = 0x0000;
inline constexpr unsigned GMEM_MOVEABLE = 0x0002;
inline constexpr unsigned GMEM_ZEROINIT = 0x0040;
inline constexpr unsigned GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

// Null when the memory is not there.
HGLOBAL GlobalAlloc(unsigned flags, std::size_t bytes);
// The block's first byte, counting one more lock; null for a null handle.
void* GlobalLock(HGLOBAL memory);
// Counts one lock less; true while locks remain.
BOOL GlobalUnlock(HGLOBAL memory);
// Null on success (also for a null handle).
HGLOBAL GlobalFree(HGLOBAL memory);
std::size_t GlobalSize(HGLOBAL memory);

using CLIPFORMAT = std::uint16_t;
inline constexpr CLIPFORMAT CF_TEXT = 1;

inline constexpr DWORD DVASPECT_CONTENT = 1;

inline constexpr DWORD TYMED_NULL = 0;
inline constexpr DWORD TYMED_HGLOBAL = 1;
inline constexpr DWORD TYMED_FILE = 2;
inline constexpr DWORD TYMED_ISTREAM = 4;
// Every medium bit set: any medium will do.
inline constexpr DWORD TYMED_ANY = 0xFFFFFFFFu;

inline constexpr DWORD DROPEFFECT_NONE = 0;
inline constexpr DWORD DROPEFFECT_COPY = 1;
inline constexpr DWORD DROPEFFECT_MOVE = 2;
inline constexpr DWORD DROPEFFECT_LINK = 4;

// Key state bits of a drag.
inline constexpr DWORD MK_LBUTTON = 0x01;
inline constexpr DWORD MK_RBUTTON = 0x02;
inline constexpr DWORD MK_SHIFT = 0x04;
inline constexpr DWORD MK_CONTROL = 0x08;
inline constexpr DWORD MK_MBUTTON = 0x10;
inline constexpr DWORD MK_ALT = 0x20;

inline constexpr HRESULT DV_E_FORMATETC = com::hresult(0x80040064u);
inline constexpr HRESULT DV_E_LINDEX = com::hresult(0x80040068u);
inline constexpr HRESULT DV_E_TYMED = com::hresult(0x80040069u);
inline constexpr HRESULT DV_E_DVASPECT = com::hresult(0x8004006Bu);
inline constexpr HRESULT DRAGDROP_E_NOTREGISTERED = com::hresult(0x00040100u);
inline constexpr HRESULT DRAGDROP_E_ALREADYREGISTERED = com::hresult(0x00040101u);
inline constexpr HRESULT DRAGDROP_E_INVALIDHWND = com::hresult(0x00040102u);

// A point in screen coordinates.
using com::POINTL;

struct FORMATETC {
    CLIPFORMAT cfFormat = 0;
    void* ptd = nullptr; // target device: none
    DWORD dwAspect = DVASPECT_CONTENT;
    std::int32_t lindex = -1;
    DWORD tymed = TYMED_NULL;
};

struct STGMEDIUM {
    DWORD tymed = TYMED_NULL;
    HGLOBAL hGlobal = nullptr;
    // When set, releasing the medium releases this object instead of freeing the memory.
    com::IUnknown* pUnkForRelease = nullptr;
};

// Frees what the medium holds (or releases its pUnkForRelease) and empties it.
void ReleaseStgMedium(STGMEDIUM* medium);

// {0000010E-0000-0000-C000-000000000046}
inline constexpr com::IID IID_IDataObject = {
    0x0000010E, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Data offered by a drag. GetData is what a drop target asks; the other methods stand in
// their slots and answer E_NOTIMPL unless a data object has more to say.
class IDataObject : public com::IUnknown {
public:
    // Slot 3: fills medium with the data in format; the caller releases the medium.
    virtual HRESULT GetData(const FORMATETC* format, STGMEDIUM* medium) = 0;
    // Slot 4.
    virtual HRESULT GetDataHere(const FORMATETC*, STGMEDIUM*) { return com::E_NOTIMPL; }
    // Slot 5: S_OK when GetData would give format.
    virtual HRESULT QueryGetData(const FORMATETC*) { return com::E_NOTIMPL; }
    // Slot 6.
    virtual HRESULT GetCanonicalFormatEtc(const FORMATETC*, FORMATETC*) { return com::E_NOTIMPL; }
    // Slot 7.
    virtual HRESULT SetData(const FORMATETC*, STGMEDIUM*, BOOL) { return com::E_NOTIMPL; }
    // Slot 8.
    virtual HRESULT EnumFormatEtc(DWORD, void** enumerator) {
        *enumerator = nullptr;
        return com::E_NOTIMPL;
    }
    // Slot 9.
    virtual HRESULT DAdvise(const FORMATETC*, DWORD, void*, DWORD*) { return com::E_NOTIMPL; }
    // Slot 10.
    virtual HRESULT DUnadvise(DWORD) { return com::E_NOTIMPL; }
    // Slot 11.
    virtual HRESULT EnumDAdvise(void** enumerator) {
        *enumerator = nullptr;
        return com::E_NOTIMPL;
    }

protected:
    ~IDataObject() = default;
};

// {00000122-0000-0000-C000-000000000046}
inline constexpr com::IID IID_IDropTarget = {
    0x00000122, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// A window's part in a drag: effect comes in as the effects the source offers and goes
// out as the one the target would take.
class IDropTarget : public com::IUnknown {
public:
    // Slot 3.
    virtual HRESULT DragEnter(IDataObject* data, DWORD keyState, POINTL point, DWORD* effect) = 0;
    // Slot 4.
    virtual HRESULT DragOver(DWORD keyState, POINTL point, DWORD* effect) = 0;
    // Slot 5.
    virtual HRESULT DragLeave() = 0;
    // Slot 6.
    virtual HRESULT Drop(IDataObject* data, DWORD keyState, POINTL point, DWORD* effect) = 0;

protected:
    ~IDropTarget() = default;
};

// Makes window a drop target served by target, which must outlive the registration.
// S_OK; DRAGDROP_E_INVALIDHWND for no window; E_INVALIDARG for no target;
// DRAGDROP_E_ALREADYREGISTERED when the window has a target; CO_E_NOTINITIALIZED when
// OLE is not initialised on the calling thread.
HRESULT RegisterDragDrop(HWND window, IDropTarget* target);
// Withdraws the registration: S_OK; DRAGDROP_E_INVALIDHWND for no window;
// DRAGDROP_E_NOTREGISTERED when the window has none.
HRESULT RevokeDragDrop(HWND window);

} // namespace fetchora::ole
