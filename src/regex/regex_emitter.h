// The compiler's output stage: writes nodes into the program, or only counts their bytes
// in the measuring pass, and builds the node shapes of sets and repetitions.
#pragma once

#include "regex/regex_program.h"

#include <cstddef>
#include <cstdint>

namespace fetchora::regex {

class Emitter final {
public:
    // Starts a pass: into code of capacity bytes, or measuring when code is null. Errors
    // report *position, the parser's offset in the pattern.
    void begin(std::uint8_t* code, int capacity, const std::size_t* position);

    bool writing() const { return code_ != nullptr; }
    int size() const { return size_; }

    // A node with an empty next offset; returns its offset.
    int emitNode(std::uint8_t op);
    void emitByte(std::uint8_t b);
    void emitInt(std::int32_t v);
    // Inserts a node with an operand in front of the node at `at` (the latest atom, which
    // nothing points into yet).
    void insertNode(std::uint8_t op, int at, const std::uint8_t* operand, int operandSize);

    int nextOf(int node) const;
    // Points the last node of the chain that starts at `chain` to target.
    void setTail(int chain, int target);
    // setTail on the alternative of a Branch node; nothing for other nodes.
    void setOperandTail(int node, int target);

    // A tiny set for 1 to 3 members, else a full set (complemented when negate is set).
    int emitSet(const CharSet& set, bool negate);
    // Star, plus ('*', '+') or braces (any other kind) in front of a single-width atom.
    void emitSimpleRepeat(int atom, char kind, int min, int max, bool greedy);
    // x? as (x|): a branch with an empty alternative.
    void emitOptional(int atom);
    // x* as (x&|) where & jumps back to the branch.
    void emitGreedyStar(int atom);
    // x+ as x(&|) where & jumps back to x.
    void emitGreedyPlus(int atom);
    // Loop entry, body, loop node with minimum, maximum and the offset back to the body.
    void emitLoop(int atom, int min, int max, bool greedy);

private:
    [[noreturn]] void fail(int code) const;
    void reserve(int bytes);

    std::uint8_t* code_ = nullptr;
    int capacity_ = 0;
    int size_ = 0;
    const std::size_t* position_ = nullptr;
};

} // namespace fetchora::regex
