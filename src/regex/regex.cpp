// TRegex's properties: the pattern, the modifiers, the input copy, the registers and the
// character sets, with the rules for when the compiled program has to be dropped.
#include "regex/regex.h"

#include "regex/regex_matcher.h"
#include "regex/regex_program.h"

namespace fetchora {

namespace {

// The text up to its first NUL.
std::string_view untilNul(std::string_view s) {
    const std::size_t nul = s.find('\0');
    return nul == std::string_view::npos ? s : s.substr(0, nul);
}

int modifierBit(int index) {
    if (index < 1 || index > 6)
        throw ERegex(1013, 0);
    return 1 << (index - 1);
}

} // namespace

TRegex::TRegex()
    : modifiers_(ModifierR | ModifierS | ModifierG), spaceCharacters_(" \t\n\r\f"),
      wordCharacters_("0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_"),
      lineBreakChars_("\r\n"), linePairedSeparator_("\r\n"),
      matcher_(std::make_unique<regex::Matcher>()) {
    clearRegisters();
}

TRegex::~TRegex() = default;

void TRegex::dropProgram() {
    program_.reset();
}

void TRegex::SetExpression(std::string_view expression) {
    const std::string_view text = untilNul(expression);
    if (!expressionSet_ || text != expression_ || !program_)
        dropProgram();
    expression_.assign(text);
    expressionSet_ = true;
}

bool TRegex::ModifierFlag(int index) const {
    return (modifiers_ & modifierBit(index)) != 0;
}

void TRegex::SetModifierFlag(int index, bool on) {
    const int bit = modifierBit(index);
    modifiers_ = on ? (modifiers_ | bit) : (modifiers_ & ~bit);
}

void TRegex::clearRegisters() {
    start_.fill(-1);
    end_.fill(-1);
}

int TRegex::MatchStart(int n) const {
    if (n < 0 || n >= RegisterCount || !inputSet_)
        return -1;
    const auto i = static_cast<std::size_t>(n);
    if (start_[i] < 0 || end_[i] < start_[i])
        return -1;
    return start_[i] + 1;
}

int TRegex::MatchLength(int n) const {
    if (MatchStart(n) < 0)
        return -1;
    const auto i = static_cast<std::size_t>(n);
    return end_[i] - start_[i];
}

const std::string& TRegex::InputString() const {
    if (!inputSet_)
        throw ERegex(1008, 0);
    return input_;
}

void TRegex::SetInputString(std::string_view input) {
    input_.assign(untilNul(input));
    inputSet_ = true;
    ++inputGeneration_;
    clearRegisters();
}

void TRegex::SetInputString(std::string&& input) {
    const std::size_t nul = input.find('\0');
    if (nul != std::string::npos)
        input.resize(nul);
    input_ = std::move(input);
    inputSet_ = true;
    ++inputGeneration_;
    clearRegisters();
}

bool TRegex::Exec(std::string&& input) {
    SetInputString(std::move(input));
    prepareSearch();
    return search(0);
}

void TRegex::SetSpaceCharacters(std::string_view chars) {
    spaceCharacters_.assign(chars);
    dropProgram();
}

void TRegex::SetWordCharacters(std::string_view chars) {
    wordCharacters_.assign(chars);
    dropProgram();
}

void TRegex::SetLineBreakChars(std::string_view chars) {
    lineBreakChars_.assign(chars);
    dropProgram();
}

void TRegex::SetLinePairedSeparator(std::string_view chars) {
    if (!(chars.empty() || (chars.size() == 2 && chars[0] != chars[1])))
        throw ERegex(128, 0);
    linePairedSeparator_ = std::string(chars);
    dropProgram();
}

void TRegex::setStackLimit(std::size_t frames) {
    matcher_->setStackLimit(frames);
}

void TRegex::setStepLimit(std::uint64_t steps) {
    matcher_->setStepLimit(steps);
}

std::string TRegex::Dump() {
    compileIfNeeded();
    return regex::dumpProgram(*program_);
}

} // namespace fetchora
