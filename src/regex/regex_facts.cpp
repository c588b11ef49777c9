// The start-up facts of a compiled program (first literal character, anchoring, the
// required literal and the first-character set) and the case table the engine folds with.
#include "platform/text.h"
#include "regex/regex_program.h"

#include <array>
#include <cstring>
#include <vector>

namespace fetchora::regex {

namespace {

std::array<unsigned char, 256> makeInvertTable() {
    std::array<unsigned char, 256> table{};
    for (int i = 0; i < 256; ++i) {
        const auto c = static_cast<unsigned char>(i);
        const unsigned char upper = text::ansiUpper(c);
        table[c] = upper != c ? upper : text::ansiLower(c);
    }
    return table;
}

// The characters a single-width atom can match.
CharSet atomSet(const Program& program, int atom, const CharSet& lineBreaks) {
    CharSet set;
    const std::uint8_t* operand = program.operand(atom);
    switch (program.op(atom)) {
    case OpExactly:
        set.add(operand[0]);
        break;
    case OpExactlyCI:
        set.add(operand[0]);
        set.add(invertCase(operand[0]));
        break;
    case OpAnyML:
        for (int c = 0; c < 256; ++c) {
            if (!lineBreaks.has(static_cast<unsigned char>(c)))
                set.add(static_cast<unsigned char>(c));
        }
        break;
    case OpDigit:
        for (int c = '0'; c <= '9'; ++c)
            set.add(static_cast<unsigned char>(c));
        break;
    case OpNotDigit:
        for (int c = 0; c < 256; ++c) {
            if (c < '0' || c > '9')
                set.add(static_cast<unsigned char>(c));
        }
        break;
    case OpAnyOfTiny:
        for (int i = 0; i < 3; ++i)
            set.add(operand[i]);
        break;
    case OpAnyButTiny:
        for (int c = 0; c < 256; ++c) {
            if (std::memchr(operand, c, 3) == nullptr)
                set.add(static_cast<unsigned char>(c));
        }
        break;
    case OpAnyOfFull:
        for (int c = 0; c < 256; ++c) {
            if (setHas(operand, static_cast<unsigned char>(c)))
                set.add(static_cast<unsigned char>(c));
        }
        break;
    default: // any character, back-references, and anything unexpected
        set.addAll();
        break;
    }
    return set;
}

// The characters that the first consuming node of any path from the start can match.
// Zero-width nodes are looked through; the end of the program adds nothing, so a match
// is only tried where the pattern could consume the character.
CharSet firstCharacters(const Program& program, const CharSet& lineBreaks) {
    CharSet set;
    std::vector<bool> seen(static_cast<std::size_t>(program.size), false);
    std::vector<int> work{Program::kFirstNode};
    auto push = [&](int node) {
        if (node == -1)
            return;
        if (node < Program::kFirstNode || node + kNodeHeader > program.size) {
            set.addAll();
            return;
        }
        work.push_back(node);
    };
    while (!work.empty()) {
        const int node = work.back();
        work.pop_back();
        if (seen[static_cast<std::size_t>(node)])
            continue;
        seen[static_cast<std::size_t>(node)] = true;
        const std::uint8_t op = program.op(node);
        switch (op) {
        case OpEnd:
            break;
        case OpBol:
        case OpEol:
        case OpBolML:
        case OpEolML:
        case OpNothing:
        case OpComment:
        case OpBack:
            push(program.next(node));
            break;
        case OpBranch: {
            push(node + kNodeHeader);
            const int next = program.next(node);
            if (next != -1 && program.op(next) == OpBranch)
                push(next);
            break;
        }
        case OpStar:
        case OpStarNG:
            set.merge(atomSet(program, node + kNodeHeader, lineBreaks));
            push(program.next(node));
            break;
        case OpPlus:
        case OpPlusNG:
            set.merge(atomSet(program, node + kNodeHeader, lineBreaks));
            break;
        case OpBraces:
        case OpBracesNG:
            set.merge(atomSet(program, node + kNodeHeader + 8, lineBreaks));
            if (program.operandInt(node, 0) == 0)
                push(program.next(node));
            break;
        case OpLoopEntry: {
            push(node + kNodeHeader);
            const int loop = program.next(node);
            if (loop == -1 || (program.op(loop) != OpLoop && program.op(loop) != OpLoopNG)) {
                set.addAll();
                break;
            }
            if (program.operandInt(loop, 0) == 0)
                push(program.next(loop));
            break;
        }
        default:
            if (isOpen(op) || isClose(op))
                push(program.next(node));
            else if (op == OpLoop || op == OpLoopNG)
                set.addAll(); // reached through a body that can be empty
            else
                set.merge(atomSet(program, node, lineBreaks));
            break;
        }
    }
    return set;
}

int skipComments(const Program& program, int node) {
    for (int guard = 0; node != -1 && program.op(node) == OpComment && guard < program.size;
         ++guard)
        node = program.next(node);
    return node;
}

} // namespace

const unsigned char* invertCaseTable() {
    static const std::array<unsigned char, 256> table = makeInvertTable();
    return table.data();
}

unsigned char invertCase(unsigned char c) {
    return invertCaseTable()[c];
}

void computeFacts(Program& program, const CharSettings& settings, int topFlags) {
    CharSet lineBreaks;
    for (char c : settings.lineBreaks)
        lineBreaks.add(static_cast<unsigned char>(c));
    program.firstSet = firstCharacters(program, lineBreaks);

    const int top = Program::kFirstNode;
    const int after = program.next(top);
    if (after == -1 || program.op(after) != OpEnd)
        return; // several top-level alternatives

    const int first = skipComments(program, top + kNodeHeader);
    if (first == -1)
        return;
    if (program.op(first) == OpExactly)
        program.firstChar = program.operand(first)[0];
    else if (program.op(first) == OpBol)
        program.anchored = true;

    if (!(topFlags & FlagSpStart))
        return;
    // The longest case-sensitive literal on the top-level chain: every match passes it.
    std::size_t longest = 0;
    const char* best = nullptr;
    int guard = 0;
    for (int node = first; node != -1 && program.op(node) != OpEnd && guard < program.size;
         node = program.next(node), ++guard) {
        if (program.op(node) != OpExactly)
            continue;
        const auto* text = reinterpret_cast<const char*>(program.operand(node));
        const std::size_t length = std::strlen(text);
        if (length > longest) {
            longest = length;
            best = text;
        }
    }
    if (best)
        program.required.assign(best, longest);
}

} // namespace fetchora::regex
