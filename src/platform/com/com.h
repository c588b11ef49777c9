// The COM substitute's base: HRESULT with its real values, GUID with its registry string
// form, and IUnknown. Every interface of the system derives from IUnknown with its
// methods in slot order, so the band's interfaces can be added beside the ones here.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

namespace fetchora::com {

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using BOOL = int;
using LONG = std::int32_t;
using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using COLORREF = std::uint32_t;

// A point or a size in pixels.
struct POINTL {
    std::int32_t x = 0;
    std::int32_t y = 0;
};
using POINT = POINTL;

struct RECT {
    LONG left = 0;
    LONG top = 0;
    LONG right = 0;
    LONG bottom = 0;
};

// Counts that several threads may change: each returns the value after the change.
inline LONG InterlockedIncrement(std::atomic<LONG>& count) {
    return count.fetch_add(1) + 1;
}
inline LONG InterlockedDecrement(std::atomic<LONG>& count) {
    return count.fetch_sub(1) - 1;
}

// Builds an HRESULT from its 32 bits as Windows writes them.
constexpr HRESULT hresult(std::uint32_t bits) {
    return static_cast<HRESULT>(bits);
}

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = hresult(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = hresult(0x80004002u);
inline constexpr HRESULT E_POINTER = hresult(0x80004003u);
inline constexpr HRESULT E_FAIL = hresult(0x80004005u);
inline constexpr HRESULT E_UNEXPECTED = hresult(0x8000FFFFu);
inline constexpr HRESULT E_OUTOFMEMORY = hresult(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = hresult(0x80070057u);
inline constexpr HRESULT CO_E_NOTINITIALIZED = hresult(0x800401F0u);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = hresult(0x80040110u);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = hresult(0x80040111u);

// Success codes have the top bit clear, failures have it set.
constexpr bool SUCCEEDED(HRESULT result) {
    return result >= 0;
}
constexpr bool FAILED(HRESULT result) {
    return result < 0;
}

// A globally unique identifier in the layout of its registry form
// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}".
struct GUID {
    std::uint32_t Data1 = 0;
    std::uint16_t Data2 = 0;
    std::uint16_t Data3 = 0;
    std::array<std::uint8_t, 8> Data4{};

    friend bool operator==(const GUID&, const GUID&) = default;
};

using IID = GUID;
using CLSID = GUID;

// The registry form, upper-case hexadecimal digits in braces.
std::string guidToString(const GUID& guid);
// Reads the registry form (either case); nothing when text is not one.
std::optional<GUID> guidFromString(const std::string& text);

// {00000000-0000-0000-C000-000000000046}
inline constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class IUnknown {
public:
    // Slot 0: puts the interface iid of this object into *object (AddRef'ed) or answers
    // E_NOINTERFACE with *object null.
    virtual HRESULT QueryInterface(const IID& iid, void** object) = 0;
    // Slot 1.
    virtual ULONG AddRef() = 0;
    // Slot 2.
    virtual ULONG Release() = 0;

protected:
    // Objects go through Release, never through a delete of the interface.
    ~IUnknown() = default;
};

} // namespace fetchora::com
