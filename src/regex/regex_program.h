// The compiled form of a pattern: a byte program of nodes and the facts the search uses
// to skip positions. The compiler writes it; the matcher, the search and the dump read it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace fetchora::regex {

// First byte of every program.
inline constexpr std::uint8_t kMagic = 216;

// Every node is an opcode byte, a 32-bit signed offset from the node to the next node
// (0 = none; negative only for Back), then the opcode's operand.
inline constexpr int kNodeHeader = 5;

// Largest repetition count; also the maximum of an unbounded loop.
inline constexpr int kInfinite = 2147483646;

// Depth of the loop stack: nested active loop-entry/loop pairs.
inline constexpr int kLoopStackSize = 10;

// Largest program the compiler emits (ERegex 101 beyond it).
inline constexpr int kMaxProgramSize = 16 * 1024 * 1024;

enum Opcode : std::uint8_t {
    // Match found: the attempt succeeds at the current position.
    OpEnd = 0,
    // Matches only at the start of the input (\A, and "^" without m).
    OpBol = 1,
    // Matches only at the end of the input (\Z, and "$" without m).
    OpEol = 2,
    // Any one character ("." with s).
    OpAny = 3,
    // An alternative: the node right after this one starts it; next is the following
    // alternative's Branch, or the node after the last alternative.
    OpBranch = 6,
    // Jumps backwards to next: closes a greedy unbounded repetition of a complex atom.
    OpBack = 7,
    // Zero-terminated literal, compared byte for byte.
    OpExactly = 8,
    // Empty: the tail of an optional alternative.
    OpNothing = 9,
    // Greedy simple repetition, 0 or more; the operand is one single-width atom node.
    OpStar = 10,
    // Greedy simple repetition, 1 or more; operand as for Star.
    OpPlus = 11,
    // One of "0" to "9".
    OpDigit = 12,
    // Any one character but "0" to "9".
    OpNotDigit = 13,
    // Greedy simple repetition: 32-bit minimum, 32-bit maximum, then the atom node.
    OpBraces = 18,
    // Empty: a comment group, a modifier group or blanks in x mode.
    OpComment = 19,
    // Zero-terminated literal compared with the Windows-1252 case table.
    OpExactlyCI = 20,
    // Starts a complex repetition: pushes a counter; next is its Loop node, whose body
    // starts right after this node.
    OpLoopEntry = 23,
    // Greedy end of a complex repetition: 32-bit minimum, maximum and (negative) offset
    // from this node back to the loop body.
    OpLoop = 24,
    // One of up to 3 characters (3 bytes, padded by repeating the last).
    OpAnyOfTiny = 25,
    // Any one character not among up to 3 (3 bytes).
    OpAnyButTiny = 26,
    // One character of a 256-bit membership set (32 bytes, bit c of byte c / 8).
    OpAnyOfFull = 27,
    // The text of a group (1 byte: group number).
    OpBackRef = 28,
    // The text of a group, compared with the case table.
    OpBackRefCI = 29,
    // Non-greedy forms of Star, Plus and Braces.
    OpStarNG = 30,
    OpPlusNG = 31,
    OpBracesNG = 32,
    // Non-greedy end of a complex repetition; operand as for Loop.
    OpLoopNG = 33,
    // "^" with m: start of input or after a line separator.
    OpBolML = 34,
    // "$" with m: end of input or before a line separator.
    OpEolML = 35,
    // "." without s: any character but a line separator.
    OpAnyML = 36,
    // Record the start of group 1 to 14 (opcodes 38 to 51).
    OpOpen = 38,
    // Record the end of group 1 to 14 (opcodes 53 to 66).
    OpClose = 53,
};

inline constexpr int kMaxGroups = 14;

inline bool isOpen(std::uint8_t op) {
    return op >= OpOpen && op < OpOpen + kMaxGroups;
}
inline bool isClose(std::uint8_t op) {
    return op >= OpClose && op < OpClose + kMaxGroups;
}

// A 256-bit character set.
struct CharSet {
    std::array<std::uint64_t, 4> words{};

    bool has(unsigned char c) const { return (words[c >> 6] >> (c & 63)) & 1u; }
    void add(unsigned char c) { words[c >> 6] |= std::uint64_t{1} << (c & 63); }
    void addAll() { words.fill(~std::uint64_t{0}); }
    void merge(const CharSet& other) {
        for (std::size_t i = 0; i < words.size(); ++i)
            words[i] |= other.words[i];
    }
    int count() const {
        int n = 0;
        for (std::uint64_t w : words)
            n += __builtin_popcountll(w);
        return n;
    }
};

inline std::int32_t readInt32(const std::uint8_t* at) {
    std::int32_t v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

inline void writeInt32(std::uint8_t* at, std::int32_t v) {
    std::memcpy(at, &v, sizeof v);
}

// Membership in a 32-byte set operand.
inline bool setHas(const std::uint8_t* bits, unsigned char c) {
    return (bits[c >> 3] >> (c & 7)) & 1u;
}

struct Program {
    std::unique_ptr<std::uint8_t[]> code;
    int size = 0;
    int modifiers = 0; // the modifiers it was compiled with
    int groups = 0;    // groups the pattern opens

    // Start-up facts.
    int firstChar = -1;    // the case-sensitive literal character every match starts with
    bool anchored = false; // tried only at the start position
    std::string required;  // a case-sensitive literal every match contains
    CharSet firstSet;      // characters a match can begin with

    std::uint8_t op(int node) const { return code[static_cast<std::size_t>(node)]; }
    // The next node, or -1 for none.
    int next(int node) const {
        const std::int32_t offset = readInt32(&code[static_cast<std::size_t>(node) + 1]);
        return offset == 0 ? -1 : node + offset;
    }
    const std::uint8_t* operand(int node) const {
        return &code[static_cast<std::size_t>(node) + kNodeHeader];
    }
    std::int32_t operandInt(int node, int index) const {
        return readInt32(operand(node) + static_cast<std::ptrdiff_t>(4) * index);
    }
    // The first node after the magic byte.
    static constexpr int kFirstNode = 1;
};

// The character sets and separators the compiler builds classes from.
struct CharSettings {
    std::string space;
    std::string word;
    std::string lineBreaks;
};

// Compiles pattern with the modifier bits; raises ERegex for a faulty pattern.
std::unique_ptr<Program> compileProgram(const std::string& pattern, int modifiers,
                                        const CharSettings& settings);

// Fills the start-up facts of a freshly emitted program.
void computeFacts(Program& program, const CharSettings& settings, int topFlags);

// Flags the parser keeps for each sub-expression.
enum WidthFlags : int {
    FlagWorst = 0,    // may match the empty string
    FlagHasWidth = 1, // never matches the empty string
    FlagSimple = 2,   // one node that a repetition can count
    FlagSpStart = 4,  // starts with a repetition
};

// A listing of the program, one node per line.
std::string dumpProgram(const Program& program);

// The Windows-1252 case partner of a byte (itself when it has none), and the whole table.
unsigned char invertCase(unsigned char c);
const unsigned char* invertCaseTable();

} // namespace fetchora::regex
