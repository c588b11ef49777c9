// The pattern compiler: a recursive-descent parser that emits the node program in two
// passes, the first only measuring it, the second writing it into memory of exactly that
// size. Its external interface is compileProgram.
#include "platform/text.h"
#include "regex/regex.h"
#include "regex/regex_emitter.h"
#include "regex/regex_program.h"

#include <cstring>

namespace fetchora::regex {

namespace {

bool isHexDigit(char c) {
    return text::hexDigitValue(c) >= 0;
}

int hexValue(char c) {
    return text::hexDigitValue(c);
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Characters that end a literal run (the brace is handled apart: it is literal unless it
// forms a valid repetition).
bool isMeta(char c) {
    return std::strchr("^$.[()|?+*\\", c) != nullptr && c != '\0';
}

// Escapes that stand for something other than one character.
bool isSetOrAssertionEscape(char c) {
    return std::strchr("dDwWsSAZ123456789", c) != nullptr && c != '\0';
}

struct Brace {
    int min = 0;
    int max = 0;
    bool tooBig = false;
    std::size_t end = 0; // index after the closing brace
};

struct Quantifier {
    char kind = 0; // '*', '+', '?' or '{'
    int min = 0;
    int max = 0;
    bool lazy = false;
};

class Compiler final {
public:
    Compiler(const std::string& pattern, int modifiers, const CharSettings& settings)
        : pattern_(pattern), modifiers_(modifiers), settings_(settings) {}

    // One pass over the pattern; code is null while measuring.
    void run(std::uint8_t* code, int capacity) {
        out_.begin(code, capacity, &pos_);
        pos_ = 0;
        groups_ = 0;
        flags_ = modifiers_;
        out_.emitByte(kMagic);
        parseReg(false, topFlags_);
    }

    int size() const { return out_.size(); }
    int groups() const { return groups_; }
    int topFlags() const { return topFlags_; }

private:
    // --- Parser -------------------------------------------------------------------

    bool atEnd() const { return pos_ >= pattern_.size(); }
    char peek() const { return pattern_[pos_]; }
    bool xMode() const { return (flags_ & TRegex::ModifierX) != 0; }
    bool caseless() const { return (flags_ & TRegex::ModifierI) != 0; }

    [[noreturn]] void fail(int code) const { throw ERegex(code, static_cast<int>(pos_)); }

    // In x mode, blanks and "#" comments up to the end of the line are skipped.
    bool skipBlanks() {
        if (!xMode())
            return false;
        const std::size_t before = pos_;
        while (!atEnd()) {
            if (isBlank(peek())) {
                ++pos_;
            } else if (peek() == '#') {
                while (!atEnd() && peek() != '\n' && peek() != '\r')
                    ++pos_;
            } else {
                break;
            }
        }
        return pos_ != before;
    }

    // A valid repetition in braces at index at: {n}, {n,} or {n,m}.
    bool braceAt(std::size_t at, Brace& brace) const {
        std::size_t i = at;
        if (i >= pattern_.size() || pattern_[i] != '{')
            return false;
        ++i;
        auto readNumber = [&](int& value) {
            const std::size_t first = i;
            long long v = 0;
            while (i < pattern_.size() && pattern_[i] >= '0' && pattern_[i] <= '9') {
                if (v <= kInfinite)
                    v = v * 10 + (pattern_[i] - '0');
                ++i;
            }
            if (v > kInfinite)
                brace.tooBig = true;
            value = static_cast<int>(v > kInfinite ? kInfinite : v);
            return i > first;
        };
        if (!readNumber(brace.min))
            return false;
        brace.max = brace.min;
        if (i < pattern_.size() && pattern_[i] == ',') {
            ++i;
            if (!readNumber(brace.max))
                brace.max = kInfinite;
        }
        if (i >= pattern_.size() || pattern_[i] != '}')
            return false;
        brace.end = i + 1;
        return true;
    }

    bool quantifierAhead() const {
        if (atEnd())
            return false;
        const char c = peek();
        Brace brace;
        return c == '*' || c == '+' || c == '?' || (c == '{' && braceAt(pos_, brace));
    }

    bool readQuantifier(Quantifier& q) {
        if (atEnd())
            return false;
        const char c = peek();
        if (c == '*') {
            q = {'*', 0, kInfinite, false};
            ++pos_;
        } else if (c == '+') {
            q = {'+', 1, kInfinite, false};
            ++pos_;
        } else if (c == '?') {
            q = {'?', 0, 1, false};
            ++pos_;
        } else if (c == '{') {
            Brace brace;
            if (!braceAt(pos_, brace))
                return false;
            pos_ = brace.end;
            if (brace.tooBig)
                fail(122);
            if (brace.min > brace.max)
                fail(124);
            q = {'{', brace.min, brace.max, false};
        } else {
            return false;
        }
        if (!atEnd() && peek() == '?') {
            q.lazy = true;
            ++pos_;
        }
        return true;
    }

    // The character of an escape whose letter is at pos_ (t, n, r, f, a, e, x with hex
    // digits, or any other character standing for itself); advances past it.
    unsigned char escapeChar() {
        const char c = pattern_[pos_++];
        switch (c) {
        case 't':
            return '\t';
        case 'n':
            return '\n';
        case 'r':
            return '\r';
        case 'f':
            return '\f';
        case 'a':
            return 7;
        case 'e':
            return 27;
        case 'x':
            return hexEscape();
        default:
            return static_cast<unsigned char>(c);
        }
    }

    // \x followed by two hex digits, or by up to two hex digits in braces.
    unsigned char hexEscape() {
        if (atEnd())
            fail(111);
        if (peek() != '{') {
            if (!isHexDigit(peek())) {
                ++pos_;
                fail(108);
            }
            const int high = hexValue(pattern_[pos_++]);
            if (atEnd())
                fail(108);
            if (!isHexDigit(peek())) {
                ++pos_;
                fail(108);
            }
            return static_cast<unsigned char>(high * 16 + hexValue(pattern_[pos_++]));
        }
        ++pos_;
        int value = 0;
        int digits = 0;
        while (true) {
            if (atEnd())
                fail(digits == 0 ? 111 : 108);
            const char c = pattern_[pos_++];
            if (c == '}')
                break;
            if (!isHexDigit(c))
                fail(108);
            if (++digits > 2)
                fail(112);
            value = value * 16 + hexValue(c);
        }
        if (digits == 0)
            fail(111);
        return static_cast<unsigned char>(value);
    }

    // reg: branches separated by "|"; a group when paren is set, else the whole pattern.
    int parseReg(bool paren, int& flags) {
        flags = FlagHasWidth;
        const int savedFlags = flags_;
        int ret = -1;
        int group = 0;
        if (paren) {
            if (groups_ >= kMaxGroups)
                fail(102);
            group = ++groups_;
            ret = out_.emitNode(static_cast<std::uint8_t>(OpOpen + group - 1));
        }
        bool more = true;
        while (more) {
            int branchFlags = 0;
            const int br = parseBranch(branchFlags);
            if (ret == -1)
                ret = br;
            else
                out_.setTail(ret, br);
            if (!(branchFlags & FlagHasWidth))
                flags &= ~FlagHasWidth;
            flags |= branchFlags & FlagSpStart;
            more = !atEnd() && peek() == '|';
            if (more)
                ++pos_;
        }
        const int ender = out_.emitNode(paren ? static_cast<std::uint8_t>(OpClose + group - 1)
                                              : std::uint8_t{OpEnd});
        out_.setTail(ret, ender);
        if (out_.writing()) {
            for (int br = ret; br != -1; br = out_.nextOf(br))
                out_.setOperandTail(br, ender);
        }
        flags_ = savedFlags;
        if (paren) {
            if (atEnd() || peek() != ')')
                fail(103);
            ++pos_;
        } else if (!atEnd()) {
            ++pos_;
            fail(pattern_[pos_ - 1] == ')' ? 104 : 105);
        }
        return ret;
    }

    // branch: a sequence of pieces, up to "|", ")" or the end.
    int parseBranch(int& flags) {
        flags = FlagWorst;
        const int ret = out_.emitNode(OpBranch);
        int chain = -1;
        auto link = [&](int latest) {
            if (chain != -1)
                out_.setTail(chain, latest);
            chain = latest;
        };
        while (true) {
            if (skipBlanks() && chain == -1)
                link(out_.emitNode(OpComment)); // blanks at the start of an alternative
            if (atEnd() || peek() == '|' || peek() == ')')
                break;
            int pieceFlags = 0;
            const bool first = chain == -1;
            const int latest = parsePiece(pieceFlags);
            flags |= pieceFlags & FlagHasWidth;
            if (first)
                flags |= pieceFlags & FlagSpStart;
            link(latest);
        }
        if (chain == -1)
            out_.emitNode(OpNothing);
        return ret;
    }

    // piece: an atom and at most one quantifier.
    int parsePiece(int& flags) {
        int atomFlags = 0;
        const int ret = parseAtom(atomFlags);
        skipBlanks();
        Quantifier q;
        if (!readQuantifier(q)) {
            flags = atomFlags;
            return ret;
        }
        if (!(atomFlags & (FlagHasWidth | FlagSimple)) && q.kind != '?')
            fail(106);
        const bool greedy = (flags_ & TRegex::ModifierG) && !q.lazy;
        flags = (q.min > 0 ? (atomFlags & FlagHasWidth) : FlagWorst) | FlagSpStart;

        if ((atomFlags & FlagSimple) && !(q.kind == '?' && greedy))
            out_.emitSimpleRepeat(ret, q.kind, q.min, q.max, greedy);
        else if (q.kind == '?' && greedy)
            out_.emitOptional(ret);
        else if (greedy && q.kind == '*')
            out_.emitGreedyStar(ret);
        else if (greedy && q.kind == '+')
            out_.emitGreedyPlus(ret);
        else
            out_.emitLoop(ret, q.min, q.max, greedy);

        skipBlanks();
        if (quantifierAhead()) {
            ++pos_;
            fail(107);
        }
        return ret;
    }

    int parseAtom(int& flags) {
        flags = FlagWorst;
        const char c = peek();
        switch (c) {
        case '^':
            ++pos_;
            return out_.emitNode((flags_ & TRegex::ModifierM) ? OpBolML : OpBol);
        case '$':
            ++pos_;
            return out_.emitNode((flags_ & TRegex::ModifierM) ? OpEolML : OpEol);
        case '.':
            ++pos_;
            flags = FlagHasWidth | FlagSimple;
            return out_.emitNode((flags_ & TRegex::ModifierS) ? OpAny : OpAnyML);
        case '[':
            ++pos_;
            flags = FlagHasWidth | FlagSimple;
            return parseClass();
        case '(':
            ++pos_;
            if (!atEnd() && peek() == '?')
                return parseSpecialGroup();
            {
                int groupFlags = 0;
                const int ret = parseReg(true, groupFlags);
                flags = groupFlags & (FlagHasWidth | FlagSpStart);
                return ret;
            }
        case '|':
        case ')':
            fail(119); // the branch parser stops before these
        case '?':
        case '+':
        case '*':
            ++pos_;
            fail(115);
        case '{': {
            Brace brace;
            if (braceAt(pos_, brace)) {
                ++pos_;
                fail(115);
            }
            return parseLiteralRun(flags);
        }
        case '\\':
            if (pos_ + 1 >= pattern_.size()) {
                ++pos_;
                fail(116);
            }
            if (isSetOrAssertionEscape(pattern_[pos_ + 1]))
                return parseEscapeAtom(flags);
            return parseLiteralRun(flags);
        default:
            return parseLiteralRun(flags);
        }
    }

    // \d \D \w \W \s \S \A \Z and back-references.
    int parseEscapeAtom(int& flags) {
        const char c = pattern_[pos_ + 1];
        pos_ += 2;
        flags = FlagHasWidth | FlagSimple;
        switch (c) {
        case 'd':
            return out_.emitNode(OpDigit);
        case 'D':
            return out_.emitNode(OpNotDigit);
        case 'w':
        case 'W':
            return out_.emitSet(setOf(settings_.word), c == 'W');
        case 's':
        case 'S':
            return out_.emitSet(setOf(settings_.space), c == 'S');
        case 'A':
            flags = FlagWorst;
            return out_.emitNode(OpBol);
        case 'Z':
            flags = FlagWorst;
            return out_.emitNode(OpEol);
        default: {
            // A group's text may be empty: the repetition counts it, but it gives a group
            // no width of its own.
            flags = FlagSimple;
            const int ret = out_.emitNode(caseless() ? OpBackRefCI : OpBackRef);
            out_.emitByte(static_cast<std::uint8_t>(c - '0'));
            return ret;
        }
        }
    }

    // (?# comment ) and (? modifiers ).
    int parseSpecialGroup() {
        ++pos_; // the "?"
        if (!atEnd() && peek() == '#') {
            const std::size_t close = pattern_.find(')', pos_);
            if (close == std::string::npos) {
                pos_ = pattern_.size();
                fail(125);
            }
            pos_ = close + 1;
            return out_.emitNode(OpComment);
        }
        bool on = true;
        while (true) {
            if (atEnd())
                fail(103);
            const char c = pattern_[pos_++];
            if (c == ')')
                break;
            if (c == '-') {
                on = false;
                continue;
            }
            int bit = 0;
            switch (c | 0x20) {
            case 'i':
                bit = TRegex::ModifierI;
                break;
            case 'r':
                bit = TRegex::ModifierR;
                break;
            case 's':
                bit = TRegex::ModifierS;
                break;
            case 'g':
                bit = TRegex::ModifierG;
                break;
            case 'm':
                bit = TRegex::ModifierM;
                break;
            case 'x':
                bit = TRegex::ModifierX;
                break;
            default:
                fail(127);
            }
            flags_ = on ? (flags_ | bit) : (flags_ & ~bit);
        }
        return out_.emitNode(OpComment);
    }

    // A run of ordinary characters and character escapes. When a quantifier follows a run
    // of several characters, the last one is left for the next piece.
    int parseLiteralRun(int& flags) {
        std::string literal;
        std::size_t lastStart = pos_;
        while (true) {
            if (!literal.empty())
                skipBlanks();
            if (atEnd())
                break;
            const std::size_t charStart = pos_;
            const char c = peek();
            unsigned char value = 0;
            if (c == '\\') {
                if (pos_ + 1 >= pattern_.size() || isSetOrAssertionEscape(pattern_[pos_ + 1]))
                    break;
                ++pos_;
                value = escapeChar();
                if (value == 0 && !literal.empty()) {
                    pos_ = charStart; // a NUL stands alone
                    break;
                }
            } else if (isMeta(c)) {
                break;
            } else if (c == '{') {
                Brace brace;
                if (braceAt(pos_, brace))
                    break;
                value = '{';
                ++pos_;
            } else if (xMode() && (isBlank(c) || c == '#')) {
                break; // only reached for the first character; skipBlanks took the rest
            } else {
                value = static_cast<unsigned char>(c);
                ++pos_;
            }
            if (value == 0) {
                // The input never holds a NUL: a set of it matches nothing.
                flags = FlagHasWidth | FlagSimple;
                CharSet nul;
                nul.add(0);
                return out_.emitSet(nul, false);
            }
            literal += static_cast<char>(value);
            lastStart = charStart;
        }
        if (literal.size() > 1) {
            const std::size_t after = pos_;
            skipBlanks();
            if (quantifierAhead()) {
                literal.pop_back();
                pos_ = lastStart;
            } else {
                pos_ = after;
            }
        }
        if (literal.empty())
            fail(114);
        flags = FlagHasWidth | (literal.size() == 1 ? FlagSimple : 0);
        const int ret = out_.emitNode(caseless() ? OpExactlyCI : OpExactly);
        for (char ch : literal)
            out_.emitByte(static_cast<std::uint8_t>(ch));
        out_.emitByte(0);
        return ret;
    }

    CharSet setOf(const std::string& chars) const {
        CharSet set;
        for (char c : chars)
            set.add(static_cast<unsigned char>(c));
        return set;
    }

    void addRange(CharSet& set, int low, int high) {
        const bool cyrillic = (flags_ & TRegex::ModifierR) != 0;
        if (cyrillic && low == 224 && high == 223) {
            addRange(set, 192, 255);
            set.add(168);
            set.add(184);
            return;
        }
        if (high < low)
            fail(109);
        for (int c = low; c <= high; ++c)
            set.add(static_cast<unsigned char>(c));
        if (cyrillic && low == 224 && high == 255)
            set.add(184);
        if (cyrillic && low == 192 && high == 223)
            set.add(168);
    }

    // One member of a class that starts with a backslash at pos_: adds \d, \s, \w to set
    // and returns -1, or returns the character the escape stands for.
    int classEscape(CharSet& set) {
        if (pos_ + 1 >= pattern_.size()) {
            pos_ = pattern_.size();
            fail(110);
        }
        const char c = pattern_[pos_ + 1];
        if (c == 'd' || c == 's' || c == 'w') {
            pos_ += 2;
            if (c == 'd')
                addRange(set, '0', '9');
            else
                set.merge(setOf(c == 's' ? settings_.space : settings_.word));
            return -1;
        }
        ++pos_;
        return escapeChar();
    }

    // [members] or [^members], after the "[".
    int parseClass() {
        bool negate = false;
        if (!atEnd() && peek() == '^') {
            negate = true;
            ++pos_;
        }
        CharSet set;
        bool first = true;
        while (true) {
            if (atEnd())
                fail(113);
            if (peek() == ']' && !first) {
                ++pos_;
                break;
            }
            first = false;
            int low = 0;
            if (peek() == '\\') {
                low = classEscape(set);
                if (low < 0)
                    continue;
            } else {
                low = static_cast<unsigned char>(pattern_[pos_++]);
            }
            const bool range =
                pos_ + 1 < pattern_.size() && peek() == '-' && pattern_[pos_ + 1] != ']';
            if (!range) {
                set.add(static_cast<unsigned char>(low));
                continue;
            }
            ++pos_; // the "-"
            int high = 0;
            if (peek() == '\\') {
                high = classEscape(set);
                if (high < 0) { // a set cannot end a range: both ends are members
                    set.add(static_cast<unsigned char>(low));
                    set.add('-');
                    continue;
                }
            } else {
                high = static_cast<unsigned char>(pattern_[pos_++]);
            }
            addRange(set, low, high);
        }
        if (caseless()) {
            CharSet folded = set;
            for (int c = 0; c < 256; ++c) {
                if (set.has(static_cast<unsigned char>(c))) {
                    folded.add(text::ansiUpper(static_cast<unsigned char>(c)));
                    folded.add(text::ansiLower(static_cast<unsigned char>(c)));
                }
            }
            set = folded;
        }
        return out_.emitSet(set, negate);
    }

    const std::string& pattern_;
    const int modifiers_;
    const CharSettings& settings_;

    std::size_t pos_ = 0;
    int flags_ = 0;
    int groups_ = 0;
    int topFlags_ = 0;

    Emitter out_;
};

} // namespace

std::unique_ptr<Program> compileProgram(const std::string& pattern, int modifiers,
                                        const CharSettings& settings) {
    Compiler compiler(pattern, modifiers, settings);
    compiler.run(nullptr, 0);
    const int size = compiler.size();

    auto program = std::make_unique<Program>();
    program->code = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(size));
    program->size = size;
    compiler.run(program->code.get(), size);
    if (compiler.size() != size)
        throw ERegex(114, static_cast<int>(pattern.size()));
    program->modifiers = modifiers;
    program->groups = compiler.groups();
    computeFacts(*program, settings, compiler.topFlags());
    return program;
}

} // namespace fetchora::regex
