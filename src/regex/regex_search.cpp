// Searching: Exec, ExecNext and ExecPos compile on demand and then try the matcher at
// the positions the program's start-up facts leave: only the start position for an
// anchored pattern, the occurrences of a leading literal character, or the positions
// whose character can begin a match. The end of the input is never tried.
#include "regex/regex.h"

#include "regex/regex_matcher.h"
#include "regex/regex_program.h"

#include <cstring>

namespace fetchora {

void TRegex::compileIfNeeded() {
    if (!expressionSet_)
        throw ERegex(1003, 0);
    if (program_ && program_->modifiers == modifiers_)
        return;
    program_.reset();
    const regex::CharSettings settings{spaceCharacters_, wordCharacters_, lineBreakChars_};
    // A failed compilation raises here and leaves no program: the next execution tries again.
    program_ = regex::compileProgram(expression_, modifiers_, settings);

    regex::CharSet lineBreaks;
    for (char c : lineBreakChars_)
        lineBreaks.add(static_cast<unsigned char>(c));
    const bool paired = linePairedSeparator_.size() == 2;
    matcher_->setSeparators(lineBreaks,
                            paired ? static_cast<unsigned char>(linePairedSeparator_[0]) : -1,
                            paired ? static_cast<unsigned char>(linePairedSeparator_[1]) : -1);
}

void TRegex::prepareSearch() {
    compileIfNeeded();
    if (program_->size < 1 || program_->code[0] != regex::kMagic)
        throw ERegex(1004, 0);
    if (!inputSet_)
        throw ERegex(1005, 0);
}

bool TRegex::Exec(std::string_view input) {
    SetInputString(input);
    prepareSearch();
    return search(0);
}

bool TRegex::ExecNext() {
    prepareSearch();
    if (MatchStart(0) < 0)
        throw ERegex(1007, 0);
    int from = end_[0];
    if (end_[0] == start_[0])
        ++from;
    return search(from);
}

bool TRegex::ExecPos(int offset) {
    prepareSearch();
    if (offset < 1)
        throw ERegex(1006, 0);
    if (offset > static_cast<int>(input_.size()) + 1) {
        clearRegisters();
        return false;
    }
    return search(offset - 1);
}

bool TRegex::attemptAt(int index) {
    for (int g = 0; g <= program_->groups; ++g) {
        start_[static_cast<std::size_t>(g)] = -1;
        end_[static_cast<std::size_t>(g)] = -1;
    }
    int endIndex = 0;
    if (!matcher_->matchAt(index, endIndex))
        return false;
    start_[0] = index;
    end_[0] = endIndex;
    return true;
}

bool TRegex::search(int startIndex) {
    clearRegisters();
    const regex::Program& program = *program_;
    matcher_->begin(program, input_, inputGeneration_, start_.data(), end_.data());

    const int length = static_cast<int>(input_.size());
    if (startIndex >= length)
        return false;
    const char* in = input_.data();
    const auto rest = static_cast<std::size_t>(length - startIndex);

    if (!program.required.empty() &&
        memmem(in + startIndex, rest, program.required.data(), program.required.size()) == nullptr)
        return false;

    bool found = false;
    if (program.anchored) {
        found = attemptAt(startIndex);
    } else if (program.firstChar >= 0 || program.firstSet.count() == 1) {
        int c = program.firstChar;
        for (int i = 0; c < 0 && i < 256; ++i) {
            if (program.firstSet.has(static_cast<unsigned char>(i)))
                c = i;
        }
        for (int i = startIndex; i < length && !found;) {
            const void* hit = std::memchr(in + i, c, static_cast<std::size_t>(length - i));
            if (!hit)
                break;
            const int at = static_cast<int>(static_cast<const char*>(hit) - in);
            found = attemptAt(at);
            i = at + 1;
        }
    } else {
        const auto* bytes = reinterpret_cast<const unsigned char*>(in);
        for (int i = startIndex; i < length && !found; ++i) {
            if (program.firstSet.has(bytes[i]))
                found = attemptAt(i);
        }
    }
    if (!found)
        clearRegisters();
    return found;
}

} // namespace fetchora
