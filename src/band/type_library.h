// The band library's type library: a blob in the MSFT type-library format that declares
// only the library TalvixBand and no types. It is reachable as the resource TYPELIB 1;
// nothing loads it and registration does not register it.
#pragma once

#include "platform/com/com.h"

#include <cstdint>
#include <vector>

namespace fetchora {

// {CD58CE7E-102D-4CEE-A90D-CC91D1FF5B9B}
inline constexpr com::GUID LIBID_TalvixBand = {
    0xCD58CE7E, 0x102D, 0x4CEE, {0xA9, 0x0D, 0xCC, 0x91, 0xD1, 0xFF, 0x5B, 0x9B}};

inline constexpr const char* kTypeLibraryType = "TYPELIB";
inline constexpr unsigned kTypeLibraryId = 1;

// The type library's bytes.
std::vector<std::uint8_t> typeLibraryBlob();
// Adds the blob to the module's resources as TYPELIB 1.
void registerTypeLibrary();

} // namespace fetchora
