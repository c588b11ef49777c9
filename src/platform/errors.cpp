// Messages of the platform's exceptions and the integer conversions that raise them.
#include "platform/errors.h"

#include "platform/format.h"

#include <cstring>

namespace fetchora {

ListError::ListError(int index)
    : Error(format("List index out of bounds (%d)", index)), index_(index) {}

StreamError::StreamError(const std::string& path, const std::string& systemMessage)
    : Error(format("Cannot open file \"%s\". %s", path.c_str(), systemMessage.c_str())) {}

ConversionError::ConversionError(const std::string& text)
    : Error(format("'%s' is not a valid integer value", text.c_str())) {}

RegistryError::RegistryError(const std::string& valueName)
    : Error(format("Invalid data type for '%s'", valueName.c_str())) {}

std::string systemErrorMessage(int errnoValue) {
    return std::strerror(errnoValue);
}

namespace {

bool parseInt(const std::string& text, int& result) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    unsigned base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size())
        return false;
    long long value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        unsigned digit = 0;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return false;
        value = value * base + digit;
        if (value > 0x80000000LL)
            return false;
    }
    if (negative)
        value = -value;
    if (value > 0x7FFFFFFFLL || value < -0x80000000LL)
        return false;
    result = static_cast<int>(value);
    return true;
}

} // namespace

int strToInt(const std::string& text) {
    int result = 0;
    if (!parseInt(text, result))
        throw ConversionError(text);
    return result;
}

int strToIntDef(const std::string& text, int fallback) {
    int result = 0;
    return parseInt(text, result) ? result : fallback;
}

} // namespace fetchora
