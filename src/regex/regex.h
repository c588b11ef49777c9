// The pattern engine's public interface: TRegex compiles a pattern lazily into a node
// program and searches an 8-bit input with it; ERegex is the error it raises.
#pragma once

#include "platform/errors.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

namespace regex {
struct Program;
class Matcher;
} // namespace regex

// An error of the engine. Compile errors (codes below 1000) carry the offset in the
// pattern where compilation stopped, both in Position and as " (pos N)" at the end of the
// message; execution errors have Position 0 and the bare text.
class ERegex final : public Error {
public:
    ERegex(int code, int position);

    int Code;
    int Position;
};

// The message of an error code ("Unknown error" for codes the engine does not know).
std::string regexErrorText(int code);

// Error codes the engine raises beyond the classic table: backtracking that outgrows the
// matcher's own stack, and a search that exceeds the step budget set with setStepLimit.
inline constexpr int kRegexErrorStackExceeded = 1016;
inline constexpr int kRegexErrorStepLimit = 1017;

class TRegex final {
public:
    // Modifier bits, in the order of the ModifierFlag indices 1 to 6.
    static constexpr int ModifierI = 1;  // case-insensitive
    static constexpr int ModifierR = 2;  // extended Cyrillic ranges in classes
    static constexpr int ModifierS = 4;  // "." matches line separators
    static constexpr int ModifierG = 8;  // quantifiers are greedy
    static constexpr int ModifierM = 16; // "^" and "$" also match at line breaks
    static constexpr int ModifierX = 32; // blanks and # comments in the pattern are ignored

    // Register 0 is the whole match, 1 to 14 the groups.
    static constexpr int RegisterCount = 15;

    TRegex();
    ~TRegex();
    TRegex(const TRegex&) = delete;
    TRegex& operator=(const TRegex&) = delete;

    // The pattern, cut at its first NUL. Setting a different text (or any text while
    // nothing is compiled) drops the program; the next execution compiles it.
    const std::string& Expression() const { return expression_; }
    void SetExpression(std::string_view expression);

    // Index 1 to 6 stands for i, r, s, g, m, x; any other index raises ERegex 1013.
    bool ModifierFlag(int index) const;
    void SetModifierFlag(int index, bool on);

    // Stores input as InputString and searches from position 1. The string overload
    // takes the text over without a copy (a page handed on from its stream).
    bool Exec(std::string_view input);
    bool Exec(std::string&& input);
    bool Exec(const char* input) { return Exec(std::string_view(input)); }
    // Searches on from the end of the last whole match, one position further when it was
    // empty; ERegex 1007 without a previous match.
    bool ExecNext();
    // Searches from a 1-based offset of InputString (ERegex 1006 below 1; false beyond
    // the input's length plus one).
    bool ExecPos(int offset);

    // 1-based position and length of register n; -1 when n is outside 0 to 14, no input
    // is set, or the register is not set.
    int MatchStart(int n) const;
    int MatchLength(int n) const;

    // The owned copy of the searched text; it ends at the first NUL of what was given.
    // Reading it before any input was set raises ERegex 1008.
    const std::string& InputString() const;
    void SetInputString(std::string_view input);
    void SetInputString(std::string&& input);
    void SetInputString(const char* input) { SetInputString(std::string_view(input)); }

    // Character sets used by \s, \w, "." without s, and the multi-line anchors. Changing
    // one drops the program. The paired separator is empty or two different characters
    // (ERegex 128 otherwise).
    const std::string& SpaceCharacters() const { return spaceCharacters_; }
    void SetSpaceCharacters(std::string_view chars);
    const std::string& WordCharacters() const { return wordCharacters_; }
    void SetWordCharacters(std::string_view chars);
    const std::string& LineBreakChars() const { return lineBreakChars_; }
    void SetLineBreakChars(std::string_view chars);
    const std::string& LinePairedSeparator() const { return linePairedSeparator_; }
    void SetLinePairedSeparator(std::string_view chars);

    // A readable listing of the compiled program, one node per line (compiles first).
    std::string Dump();

    // Bounds of one search: frames on the matcher's backtracking stack (raising ERegex
    // 1016 when exceeded) and backtracking steps (ERegex 1017; 0 = no limit).
    void setStackLimit(std::size_t frames);
    void setStepLimit(std::uint64_t steps);

private:
    void dropProgram();
    void compileIfNeeded();
    void prepareSearch();
    bool search(int startIndex);
    bool attemptAt(int index);
    void clearRegisters();

    std::string expression_;
    bool expressionSet_ = false;
    int modifiers_;
    std::unique_ptr<regex::Program> program_;

    std::string input_;
    bool inputSet_ = false;
    std::uint32_t inputGeneration_ = 0;

    std::array<int, RegisterCount> start_{};
    std::array<int, RegisterCount> end_{};

    std::string spaceCharacters_;
    std::string wordCharacters_;
    std::string lineBreakChars_;
    std::string linePairedSeparator_;

    std::unique_ptr<regex::Matcher> matcher_;
};

} // namespace fetchora
