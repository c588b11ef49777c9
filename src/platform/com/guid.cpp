// The registry string form of a GUID, written and read.
#include "platform/com/com.h"

#include "platform/text.h"

#include <cstdio>

namespace fetchora::com {

std::string guidToString(const GUID& guid) {
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
                  guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

namespace {

// Reads count hexadecimal digits from text at position.
std::optional<std::uint32_t> hexField(const std::string& text, size_t position, int count) {
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
        const int digit = text::hexDigitValue(text[position + static_cast<size_t>(i)]);
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return value;
}

} // namespace

std::optional<GUID> guidFromString(const std::string& text) {
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (text.size() != 38 || text.front() != '{' || text.back() != '}' || text[9] != '-' ||
        text[14] != '-' || text[19] != '-' || text[24] != '-')
        return std::nullopt;
    GUID guid;
    const auto data1 = hexField(text, 1, 8);
    const auto data2 = hexField(text, 10, 4);
    const auto data3 = hexField(text, 15, 4);
    if (!data1 || !data2 || !data3)
        return std::nullopt;
    guid.Data1 = *data1;
    guid.Data2 = static_cast<std::uint16_t>(*data2);
    guid.Data3 = static_cast<std::uint16_t>(*data3);
    const size_t bytePositions[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (size_t i = 0; i < 8; ++i) {
        const auto byte = hexField(text, bytePositions[i], 2);
        if (!byte)
            return std::nullopt;
        guid.Data4[i] = static_cast<std::uint8_t>(*byte);
    }
    return guid;
}

} // namespace fetchora::com
