// Fuzzes the pattern engine: compiles an arbitrary pattern with arbitrary modifiers and
// runs it over arbitrary input with Exec, ExecNext and ExecPos, checking that every match
// lies inside the input. Input layout: modifier byte, pattern length byte, pattern, text.
#include "regex/regex.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

void checkRegisters(const fetchora::TRegex& regex, std::size_t length) {
    for (int n = 0; n < fetchora::TRegex::RegisterCount; ++n) {
        const int start = regex.MatchStart(n);
        const int count = regex.MatchLength(n);
        check((start == -1) == (count == -1));
        if (start != -1)
            check(start >= 1 && count >= 0 &&
                  static_cast<std::size_t>(start - 1 + count) <= length);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const int modifiers = data[0];
    const std::size_t patternLength = data[1] % 64;
    if (size - 2 < patternLength)
        return 0;
    const std::string pattern(reinterpret_cast<const char*>(data + 2), patternLength);
    const std::string text(reinterpret_cast<const char*>(data + 2 + patternLength),
                           size - 2 - patternLength);

    fetchora::TRegex regex;
    regex.setStepLimit(20000);
    regex.setStackLimit(20000);
    for (int index = 1; index <= 6; ++index)
        regex.SetModifierFlag(index, (modifiers >> (index - 1)) & 1);
    if (modifiers & 64)
        regex.SetLinePairedSeparator("");
    regex.SetExpression(pattern);
    try {
        bool matched = regex.Exec(text);
        const std::size_t length = regex.InputString().size();
        check(length <= text.size());
        checkRegisters(regex, length);
        for (int i = 0; matched && i < 64; ++i) {
            const int before = regex.MatchStart(0) + regex.MatchLength(0);
            matched = regex.ExecNext();
            checkRegisters(regex, length);
            if (matched)
                check(regex.MatchStart(0) + regex.MatchLength(0) > before ||
                      regex.MatchStart(0) >= before);
        }
        if (regex.ExecPos(static_cast<int>(length / 2) + 1))
            checkRegisters(regex, length);
        (void)regex.Dump();
    } catch (const fetchora::ERegex& e) {
        check(!std::string(e.what()).empty());
    }
    return 0;
}
