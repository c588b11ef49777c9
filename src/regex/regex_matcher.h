// The backtracking matcher: runs a compiled program from one start position. Choice
// points, undo records for the registers and the loop stack all live on a stack of its
// own, so no pattern and no input can exhaust the thread's stack.
#pragma once

#include "regex/regex_program.h"

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace fetchora::regex {

class Matcher final {
public:
    Matcher();

    // Line separators for "." without s and for the multi-line anchors. pairFirst and
    // pairSecond are -1 when no paired separator is set.
    void setSeparators(const CharSet& lineBreaks, int pairFirst, int pairSecond);
    void setStackLimit(std::size_t frames) { stackLimit_ = frames; }
    void setStepLimit(std::uint64_t steps) { stepLimit_ = steps; }

    // Prepares a search of input with program, writing group registers to starts/ends.
    // The scan cache is kept while the input generation stays the same.
    void begin(const Program& program, std::string_view input, std::uint32_t generation,
               int* starts, int* ends);

    // Runs the program at index; on success stores the end of the match.
    bool matchAt(int index, int& endIndex);

private:
    enum class Kind : std::uint8_t {
        // Choice points: resumed when what follows them fails.
        Branch,     // node: the next alternative's Branch
        StarGreedy, // node: the repetition; a: largest count still to try
        StarLazy,   // node: the repetition; a: the count taken
        LoopExit,   // node: a greedy Loop whose exit is still to try
        LoopBody,   // node: a non-greedy Loop whose next iteration is still to try
        // Undo records: restore state on the way back.
        RestoreStart,  // a: group, b: old start
        RestoreEnd,    // a: group, b: old end
        LoopCounter,   // a: level, b: old count
        LoopEntryUndo, // a: level that was entered, b: old count at that level
        LoopExitUndo,  // a: level that was left
    };

    struct Frame {
        Kind kind;
        std::int32_t node;
        std::int32_t pos;
        std::int32_t a;
        std::int32_t b;
    };

    // What must follow a repetition: the first character of the next literal or set.
    struct Follow {
        enum Type : std::uint8_t { None, One, Two, Three, Bits } type = None;
        unsigned char c[3] = {0, 0, 0};
        const std::uint8_t* bits = nullptr;
    };

    struct ScanEntry {
        int c1 = -1;
        int c2 = -1;
        int from = 0;
        int found = 0;
    };

    void push(Kind kind, int node, int pos, int a, int b);
    void pushUndo(Kind kind, int a, int b);
    [[noreturn]] void stackExceeded() const;
    void countStep();
    bool backtrack(int& scan, int& pos);

    bool atomAt(int atom, std::uint8_t op, int pos) const;
    int backRefLength(int atom, int pos) const;
    int countRepeat(int atom, int pos, int max, int width) const;
    Follow followOf(int node) const;
    bool follows(const Follow& follow, int pos) const;
    int findForward(const Follow& follow, int from);

    bool startRepeat(int node, int& scan, int& pos);
    bool resumeGreedy(int node, int base, int high, int& scan, int& pos);
    bool resumeLazy(int node, int base, int taken, int& scan, int& pos);
    void repeatShape(int node, int& min, int& max, int& atom, bool& greedy) const;
    int repeatWidth(int atom, int pos) const;
    int greedyCandidate(int atom, const Follow& follow, int base, int high, int low,
                        int width) const;
    int lazyCandidate(int atom, const Follow& follow, int base, int count, int max, int width);

    bool atLineStart(int pos) const;
    bool atLineEnd(int pos) const;
    bool anyLineChar(int pos) const;

    const Program* program_ = nullptr;
    const std::uint8_t* code_ = nullptr;
    const unsigned char* in_ = nullptr;
    int length_ = 0;
    int* starts_ = nullptr;
    int* ends_ = nullptr;

    const unsigned char* invert_;
    CharSet lineBreaks_;
    int pairFirst_ = '\r';
    int pairSecond_ = '\n';

    std::vector<Frame> stack_;
    std::size_t choices_ = 0;
    std::size_t stackLimit_;
    std::uint64_t stepLimit_ = 0;
    std::uint64_t steps_ = 0;

    std::array<int, kLoopStackSize> loopCount_{};
    int loopDepth_ = 0;

    std::array<ScanEntry, 4> scanCache_{};
    std::size_t scanNext_ = 0;
    std::uint32_t generation_ = 0;
    bool cacheValid_ = false;
};

} // namespace fetchora::regex
