// The exceptions the platform and utility layers raise, each carrying the message text
// the user is shown. Every error of the system derives from fetchora::Error.
#pragma once

#include <stdexcept>
#include <string>

namespace fetchora {

// Base of every error the system raises; the message is the text shown to the user.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// An index outside a list: "List index out of bounds (%d)".
class ListError final : public Error {
public:
    explicit ListError(int index);
    int index() const { return index_; }

private:
    int index_;
};

// A file that cannot be opened: "Cannot open file "%s". %s".
class StreamError final : public Error {
public:
    StreamError(const std::string& path, const std::string& systemMessage);
};

// A text that is not a decimal integer: "'%s' is not a valid integer value".
class ConversionError final : public Error {
public:
    explicit ConversionError(const std::string& text);
};

// A registry value of an unexpected type: "Invalid data type for '%s'".
class RegistryError final : public Error {
public:
    explicit RegistryError(const std::string& valueName);
};

// A failed read or write of an open file, with the system's message.
class InOutError final : public Error {
public:
    explicit InOutError(const std::string& message) : Error(message) {}
};

// The text of an errno value, as the system reports it.
std::string systemErrorMessage(int errnoValue);

// Reads a whole text as a 32-bit signed decimal integer (optional sign, no blanks
// around it, "$" for hexadecimal as the original runtime allowed); throws
// ConversionError otherwise.
int strToInt(const std::string& text);

// As strToInt, but returns fallback instead of throwing.
int strToIntDef(const std::string& text, int fallback);

} // namespace fetchora
