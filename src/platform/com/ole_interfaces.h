// The OLE and COM interfaces of an in-process server and its host, each with its methods
// in slot order and its real IID: the class factory, the window and command interfaces
// of a site, the service provider, persistence over a minimal stream, and error-info
// support. A window handle is the widget itself, as in the OLE drag-and-drop layer;
// window messages (MSG) are in window_messages.h.
#pragma once

#include "platform/com/com.h"

#include <cstdint>

class QWidget;

namespace fetchora::com {

// The window handle of the platform: the widget itself.
using HWND = QWidget*;

// 64-bit sizes of streams and persistent state.
using ULARGE_INTEGER = std::uint64_t;
using LARGE_INTEGER = std::int64_t;

// Opaque to this system: the automation argument type of IOleCommandTarget::Exec.
struct VARIANT;

// {00000001-0000-0000-C000-000000000046}
inline constexpr IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class IClassFactory : public IUnknown {
public:
    // Slot 3: a new object of the class, asked for iid; outer is the controlling unknown
    // of an aggregate, or null.
    virtual HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** object) = 0;
    // Slot 4: keeps the server loaded (lock != 0) or lets it go.
    virtual HRESULT LockServer(BOOL lock) = 0;

protected:
    ~IClassFactory() = default;
};

// {00000114-0000-0000-C000-000000000046}
inline constexpr IID IID_IOleWindow = {
    0x00000114, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class IOleWindow : public IUnknown {
public:
    // Slot 3.
    virtual HRESULT GetWindow(HWND* window) = 0;
    // Slot 4.
    virtual HRESULT ContextSensitiveHelp(BOOL enterMode) = 0;

protected:
    ~IOleWindow() = default;
};

// One command of IOleCommandTarget::QueryStatus.
struct OLECMD {
    ULONG cmdID = 0;
    DWORD cmdf = 0;
};

// The name or status text asked for by QueryStatus; rgwz holds cwBuf characters.
struct OLECMDTEXT {
    DWORD cmdtextf = 0;
    ULONG cwActual = 0;
    ULONG cwBuf = 0;
    char16_t* rgwz = nullptr;
};

// {B722BCCB-4E68-101B-A2BC-00AA00404770}
inline constexpr IID IID_IOleCommandTarget = {
    0xB722BCCB, 0x4E68, 0x101B, {0xA2, 0xBC, 0x00, 0xAA, 0x00, 0x40, 0x47, 0x70}};

inline constexpr HRESULT OLECMDERR_E_NOTSUPPORTED = hresult(0x80040100u);
inline constexpr HRESULT OLECMDERR_E_UNKNOWNGROUP = hresult(0x80040104u);

class IOleCommandTarget : public IUnknown {
public:
    // Slot 3.
    virtual HRESULT QueryStatus(const GUID* group, ULONG count, OLECMD* commands,
                                OLECMDTEXT* text) = 0;
    // Slot 4.
    virtual HRESULT Exec(const GUID* group, DWORD commandId, DWORD options, VARIANT* in,
                         VARIANT* out) = 0;

protected:
    ~IOleCommandTarget() = default;
};

// {6D5140C1-7436-11CE-8034-00AA006009FA}
inline constexpr IID IID_IServiceProvider = {
    0x6D5140C1, 0x7436, 0x11CE, {0x80, 0x34, 0x00, 0xAA, 0x00, 0x60, 0x09, 0xFA}};

class IServiceProvider : public IUnknown {
public:
    // Slot 3: the interface iid of the service named service.
    virtual HRESULT QueryService(const GUID& service, const IID& iid, void** object) = 0;

protected:
    ~IServiceProvider() = default;
};

// {DF0B3D60-548F-101B-8E65-08002B2BD119}
inline constexpr IID IID_ISupportErrorInfo = {
    0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

class ISupportErrorInfo : public IUnknown {
public:
    // Slot 3: S_OK when the object's interface iid reports errors through error objects.
    virtual HRESULT InterfaceSupportsErrorInfo(const IID& iid) = 0;

protected:
    ~ISupportErrorInfo() = default;
};

// {0C733A30-2A1C-11CE-ADE5-00AA0044773D}
inline constexpr IID IID_ISequentialStream = {
    0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
// {0000000C-0000-0000-C000-000000000046}
inline constexpr IID IID_IStream = {
    0x0000000C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class ISequentialStream : public IUnknown {
public:
    // Slot 3.
    virtual HRESULT Read(void* buffer, ULONG count, ULONG* read) = 0;
    // Slot 4.
    virtual HRESULT Write(const void* buffer, ULONG count, ULONG* written) = 0;

protected:
    ~ISequentialStream() = default;
};

// A stream with its positioning slots; a stream that only reads and writes leaves the
// rest at E_NOTIMPL.
class IStream : public ISequentialStream {
public:
    // Slot 5.
    virtual HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) { return E_NOTIMPL; }
    // Slot 6.
    virtual HRESULT SetSize(ULARGE_INTEGER) { return E_NOTIMPL; }
    // Slot 7.
    virtual HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) {
        return E_NOTIMPL;
    }
    // Slot 8.
    virtual HRESULT Commit(DWORD) { return E_NOTIMPL; }
    // Slot 9.
    virtual HRESULT Revert() { return E_NOTIMPL; }
    // Slot 10.
    virtual HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return E_NOTIMPL; }
    // Slot 11.
    virtual HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return E_NOTIMPL; }
    // Slot 12 (the statistics record is opaque here).
    virtual HRESULT Stat(void*, DWORD) { return E_NOTIMPL; }
    // Slot 13.
    virtual HRESULT Clone(IStream** stream) {
        *stream = nullptr;
        return E_NOTIMPL;
    }

protected:
    ~IStream() = default;
};

// {0000010C-0000-0000-C000-000000000046}
inline constexpr IID IID_IPersist = {
    0x0000010C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {00000109-0000-0000-C000-000000000046}
inline constexpr IID IID_IPersistStream = {
    0x00000109, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {7FD52380-4E07-101B-AE2D-08002B2EC713}
inline constexpr IID IID_IPersistStreamInit = {
    0x7FD52380, 0x4E07, 0x101B, {0xAE, 0x2D, 0x08, 0x00, 0x2B, 0x2E, 0xC7, 0x13}};

class IPersist : public IUnknown {
public:
    // Slot 3.
    virtual HRESULT GetClassID(CLSID* classId) = 0;

protected:
    ~IPersist() = default;
};

class IPersistStream : public IPersist {
public:
    // Slot 4.
    virtual HRESULT IsDirty() = 0;
    // Slot 5.
    virtual HRESULT Load(IStream* stream) = 0;
    // Slot 6.
    virtual HRESULT Save(IStream* stream, BOOL clearDirty) = 0;
    // Slot 7.
    virtual HRESULT GetSizeMax(ULARGE_INTEGER* size) = 0;

protected:
    ~IPersistStream() = default;
};

// IPersistStream's slots followed by InitNew; it derives from IPersist directly.
class IPersistStreamInit : public IPersist {
public:
    // Slot 4.
    virtual HRESULT IsDirty() = 0;
    // Slot 5.
    virtual HRESULT Load(IStream* stream) = 0;
    // Slot 6.
    virtual HRESULT Save(IStream* stream, BOOL clearDirty) = 0;
    // Slot 7.
    virtual HRESULT GetSizeMax(ULARGE_INTEGER* size) = 0;
    // Slot 8.
    virtual HRESULT InitNew() = 0;

protected:
    ~IPersistStreamInit() = default;
};

} // namespace fetchora::com
