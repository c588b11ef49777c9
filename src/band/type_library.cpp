// The MSFT type library of the band library: a header, the segment directory and the
// GUID, name and string segments of a library without types.
#include "band/type_library.h"

#include "platform/resources/binary_resource.h"

#include <string_view>

namespace fetchora {

namespace {

constexpr std::int32_t kMagic = 0x5446534D; // "MSFT"
constexpr std::int32_t kFormatVersion = 0x00010002;
constexpr std::int32_t kLocale = 0x0409;
constexpr std::int32_t kSysWin32 = 1;
constexpr std::int32_t kLibraryFlags = 0x40; // always set beside the system kind
constexpr std::string_view kLibraryName = "TalvixBand";
constexpr std::string_view kHelpString = "TalvixBand Library";
constexpr int kHeaderSize = 0x54;
constexpr int kSegments = 15;
constexpr int kSegmentEntrySize = 16;
constexpr int kGuidHashSize = 0x80;
constexpr int kNameHashSize = 0x200;
constexpr std::uint8_t kPadding = 0x57;

// Segment numbers in the directory.
enum Segment { GuidHash = 4, Guid = 5, NameHash = 6, Name = 7, String = 8 };

class Writer {
public:
    void int32(std::int32_t value) {
        const auto bits = static_cast<std::uint32_t>(value);
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<std::uint8_t>(bits >> shift));
    }
    void int16(std::uint16_t value) {
        bytes.push_back(static_cast<std::uint8_t>(value));
        bytes.push_back(static_cast<std::uint8_t>(value >> 8));
    }
    void text(std::string_view value) { bytes.insert(bytes.end(), value.begin(), value.end()); }
    void padTo4() {
        while (bytes.size() % 4 != 0)
            bytes.push_back(kPadding);
    }
    void fill(int count, std::uint8_t value) { bytes.insert(bytes.end(), count, value); }
    void guid(const com::GUID& value) {
        int32(static_cast<std::int32_t>(value.Data1));
        int16(value.Data2);
        int16(value.Data3);
        bytes.insert(bytes.end(), value.Data4.begin(), value.Data4.end());
    }

    std::vector<std::uint8_t> bytes;
};

// The bucket of a GUID in the GUID hash table: its eight 16-bit words folded.
int guidBucket(const com::GUID& guid) {
    unsigned hash = (guid.Data1 & 0xFFFF) ^ (guid.Data1 >> 16) ^ guid.Data2 ^ guid.Data3;
    for (size_t i = 0; i < guid.Data4.size(); i += 2)
        hash ^= static_cast<unsigned>(guid.Data4[i] | (guid.Data4[i + 1] << 8));
    return static_cast<int>(hash & 0x1F);
}

} // namespace

std::vector<std::uint8_t> typeLibraryBlob() {
    // The segments, each built on its own, then laid out after the header and the
    // directory.
    Writer guidHash;
    guidHash.fill(kGuidHashSize, 0xFF);
    const int bucket = guidBucket(LIBID_TalvixBand);
    for (int i = 0; i < 4; ++i)
        guidHash.bytes[static_cast<size_t>(bucket) * 4 + static_cast<size_t>(i)] =
            0; // the entry at offset 0

    Writer guids;
    guids.guid(LIBID_TalvixBand);
    guids.int32(-2); // the library's own identifier
    guids.int32(-1); // no next entry in the bucket

    Writer nameHash;
    nameHash.fill(kNameHashSize, 0xFF);

    // The name's hash code (upper half of its length word) is left 0 and the name is in no
    // hash bucket: nothing loads this library's types by name, and it declares none.
    Writer names;
    names.int32(-1); // no type info of this name
    names.int32(-1); // no next entry in the bucket
    names.int32(static_cast<std::int32_t>(kLibraryName.size()));
    names.text(kLibraryName);
    names.padTo4();

    Writer strings;
    strings.int16(static_cast<std::uint16_t>(kHelpString.size()));
    strings.text(kHelpString);
    strings.padTo4();

    Writer* segments[kSegments] = {};
    segments[GuidHash] = &guidHash;
    segments[Guid] = &guids;
    segments[NameHash] = &nameHash;
    segments[Name] = &names;
    segments[String] = &strings;

    Writer out;
    out.int32(kMagic);
    out.int32(kFormatVersion);
    out.int32(0); // the library's identifier is the first GUID entry
    out.int32(kLocale);
    out.int32(kLocale);
    out.int32(kLibraryFlags | kSysWin32);
    out.int32(1); // version 1.0: major in the low half, minor in the high half
    out.int32(0); // library flags
    out.int32(0); // no type infos
    out.int32(0); // help string at offset 0 of the string segment
    out.int32(0); // help string context
    out.int32(0); // help context
    out.int32(1); // names
    out.int32(static_cast<std::int32_t>(kLibraryName.size()));
    out.int32(0);  // the library's name at offset 0 of the name segment
    out.int32(-1); // no help file
    out.int32(-1); // no custom data
    out.int32(0x20);
    out.int32(0x80);
    out.int32(-1); // no IDispatch reference
    out.int32(0);  // no imported type infos

    int offset = kHeaderSize + kSegments * kSegmentEntrySize;
    for (const Writer* segment : segments) {
        const int length = segment != nullptr ? static_cast<int>(segment->bytes.size()) : 0;
        out.int32(segment != nullptr ? offset : -1);
        out.int32(length);
        out.int32(-1);
        out.int32(0x0F);
        offset += length;
    }
    for (const Writer* segment : segments) {
        if (segment != nullptr)
            out.bytes.insert(out.bytes.end(), segment->bytes.begin(), segment->bytes.end());
    }
    return out.bytes;
}

void registerTypeLibrary() {
    resources::addBinaryResource(kTypeLibraryType, kTypeLibraryId, typeLibraryBlob());
}

} // namespace fetchora
