// The compiler's output stage: node emission, insertion in front of an atom, chaining of
// next offsets, and the node shapes of sets and repetitions.
#include "regex/regex_emitter.h"

#include "regex/regex.h"

#include <cstring>

namespace fetchora::regex {

void Emitter::begin(std::uint8_t* code, int capacity, const std::size_t* position) {
    code_ = code;
    capacity_ = capacity;
    size_ = 0;
    position_ = position;
}

void Emitter::fail(int code) const {
    throw ERegex(code, static_cast<int>(*position_));
}

void Emitter::reserve(int bytes) {
    if (size_ > kMaxProgramSize - bytes)
        fail(101);
    if (code_ && size_ + bytes > capacity_)
        fail(114);
}

int Emitter::emitNode(std::uint8_t op) {
    reserve(kNodeHeader);
    const int at = size_;
    if (code_) {
        code_[at] = op;
        writeInt32(code_ + at + 1, 0);
    }
    size_ += kNodeHeader;
    return at;
}

void Emitter::emitByte(std::uint8_t b) {
    reserve(1);
    if (code_)
        code_[size_] = b;
    ++size_;
}

void Emitter::emitInt(std::int32_t v) {
    reserve(4);
    if (code_)
        writeInt32(code_ + size_, v);
    size_ += 4;
}

// Inserts a node with an operand in front of the node at `at` (the latest atom, which
// nothing points into yet).
void Emitter::insertNode(std::uint8_t op, int at, const std::uint8_t* operand, int operandSize) {
    const int bytes = kNodeHeader + operandSize;
    reserve(bytes);
    if (code_) {
        std::memmove(code_ + at + bytes, code_ + at, static_cast<std::size_t>(size_ - at));
        code_[at] = op;
        writeInt32(code_ + at + 1, 0);
        if (operandSize > 0)
            std::memcpy(code_ + at + kNodeHeader, operand, static_cast<std::size_t>(operandSize));
    }
    size_ += bytes;
}

int Emitter::nextOf(int node) const {
    const std::int32_t offset = readInt32(code_ + node + 1);
    return offset == 0 ? -1 : node + offset;
}

// Points the last node of the chain that starts at `chain` to target.
void Emitter::setTail(int chain, int target) {
    if (!code_)
        return;
    int scan = chain;
    for (int guard = 0;; ++guard) {
        const int next = nextOf(scan);
        if (next == -1)
            break;
        if (guard > size_)
            fail(114);
        scan = next;
    }
    writeInt32(code_ + scan + 1, target - scan);
}

// setTail on the alternative of a Branch node; nothing for other nodes.
void Emitter::setOperandTail(int node, int target) {
    if (!code_ || code_[node] != OpBranch)
        return;
    setTail(node + kNodeHeader, target);
}

int Emitter::emitSet(const CharSet& set, bool negate) {
    const int count = set.count();
    if (count >= 1 && count <= 3) {
        const int ret = emitNode(negate ? OpAnyButTiny : OpAnyOfTiny);
        std::uint8_t chars[3] = {0, 0, 0};
        int n = 0;
        for (int c = 0; c < 256; ++c) {
            if (set.has(static_cast<unsigned char>(c)))
                chars[n++] = static_cast<std::uint8_t>(c);
        }
        for (int i = n; i < 3; ++i)
            chars[i] = chars[n - 1];
        for (std::uint8_t c : chars)
            emitByte(c);
        return ret;
    }
    const int ret = emitNode(OpAnyOfFull);
    for (int i = 0; i < 32; ++i) {
        std::uint8_t bits = 0;
        for (int b = 0; b < 8; ++b) {
            if (set.has(static_cast<unsigned char>(i * 8 + b)) != negate)
                bits = static_cast<std::uint8_t>(bits | (1u << b));
        }
        emitByte(bits);
    }
    return ret;
}

// Star, plus and braces nodes in front of a single-width atom.
void Emitter::emitSimpleRepeat(int atom, char kind, int min, int max, bool greedy) {
    if (kind == '*') {
        insertNode(greedy ? OpStar : OpStarNG, atom, nullptr, 0);
    } else if (kind == '+') {
        insertNode(greedy ? OpPlus : OpPlusNG, atom, nullptr, 0);
    } else {
        std::uint8_t bounds[8];
        writeInt32(bounds, min);
        writeInt32(bounds + 4, max);
        insertNode(greedy ? OpBraces : OpBracesNG, atom, bounds, 8);
    }
}

// x? as (x|): a branch with an empty alternative.
void Emitter::emitOptional(int atom) {
    insertNode(OpBranch, atom, nullptr, 0);
    setTail(atom, emitNode(OpBranch));
    const int nothing = emitNode(OpNothing);
    setTail(atom, nothing);
    setOperandTail(atom, nothing);
}

// x* as (x&|) where & jumps back to the branch.
void Emitter::emitGreedyStar(int atom) {
    insertNode(OpBranch, atom, nullptr, 0);
    setOperandTail(atom, emitNode(OpBack));
    setOperandTail(atom, atom);
    setTail(atom, emitNode(OpBranch));
    setTail(atom, emitNode(OpNothing));
}

// x+ as x(&|) where & jumps back to x.
void Emitter::emitGreedyPlus(int atom) {
    const int branch = emitNode(OpBranch);
    setTail(atom, branch);
    setTail(emitNode(OpBack), atom);
    setTail(branch, emitNode(OpBranch));
    setTail(atom, emitNode(OpNothing));
}

// Loop entry, body, loop node with minimum, maximum and the offset back to the body.
void Emitter::emitLoop(int atom, int min, int max, bool greedy) {
    insertNode(OpLoopEntry, atom, nullptr, 0);
    const int body = atom + kNodeHeader;
    const int loop = emitNode(greedy ? OpLoop : OpLoopNG);
    emitInt(min);
    emitInt(max);
    emitInt(body - loop);
    setTail(body, loop);
    setTail(atom, loop);
}

} // namespace fetchora::regex
