// The backtracking matcher. It walks the node program iteratively: every place where an
// alternative remains (a branch, a repetition count, a loop exit) pushes a choice point,
// every change of a register or of the loop stack pushes an undo record while a choice
// point lies below it, and a failure pops back to the latest choice point.
#include "regex/regex_matcher.h"

#include "regex/regex.h"

#include <cstring>

namespace fetchora::regex {

namespace {

// Frames the stack may hold by default: about 80 MB.
constexpr std::size_t kDefaultStackLimit = std::size_t{4} << 20;

} // namespace

Matcher::Matcher() : invert_(invertCaseTable()), stackLimit_(kDefaultStackLimit) {
    lineBreaks_.add('\r');
    lineBreaks_.add('\n');
    stack_.reserve(64);
}

void Matcher::setSeparators(const CharSet& lineBreaks, int pairFirst, int pairSecond) {
    lineBreaks_ = lineBreaks;
    pairFirst_ = pairFirst;
    pairSecond_ = pairSecond;
}

void Matcher::begin(const Program& program, std::string_view input, std::uint32_t generation,
                    int* starts, int* ends) {
    program_ = &program;
    code_ = program.code.get();
    in_ = reinterpret_cast<const unsigned char*>(input.data());
    length_ = static_cast<int>(input.size());
    starts_ = starts;
    ends_ = ends;
    steps_ = 0;
    if (!cacheValid_ || generation != generation_) {
        scanCache_.fill(ScanEntry{});
        generation_ = generation;
        cacheValid_ = true;
    }
}

// --- Stack ----------------------------------------------------------------------------

void Matcher::stackExceeded() const {
    throw ERegex(kRegexErrorStackExceeded, 0);
}

void Matcher::push(Kind kind, int node, int pos, int a, int b) {
    if (stack_.size() >= stackLimit_)
        stackExceeded();
    stack_.push_back(Frame{kind, node, pos, a, b});
    ++choices_;
}

void Matcher::pushUndo(Kind kind, int a, int b) {
    if (choices_ == 0)
        return; // a failure from here ends the attempt: nothing to restore
    if (stack_.size() >= stackLimit_)
        stackExceeded();
    stack_.push_back(Frame{kind, 0, 0, a, b});
}

void Matcher::countStep() {
    if (stepLimit_ != 0 && ++steps_ > stepLimit_)
        throw ERegex(kRegexErrorStepLimit, 0);
}

// Pops undo records and resumes at the latest choice point that still has an
// alternative; false when none is left.
bool Matcher::backtrack(int& scan, int& pos) {
    while (!stack_.empty()) {
        const Frame f = stack_.back();
        stack_.pop_back();
        switch (f.kind) {
        case Kind::RestoreStart:
            starts_[f.a] = f.b;
            continue;
        case Kind::RestoreEnd:
            ends_[f.a] = f.b;
            continue;
        case Kind::LoopCounter:
            loopCount_[static_cast<std::size_t>(f.a)] = f.b;
            continue;
        case Kind::LoopEntryUndo:
            loopDepth_ = f.a;
            loopCount_[static_cast<std::size_t>(f.a)] = f.b;
            continue;
        case Kind::LoopExitUndo:
            loopDepth_ = f.a + 1;
            continue;
        default:
            break;
        }
        --choices_;
        countStep();
        switch (f.kind) {
        case Kind::Branch:
            scan = f.node;
            pos = f.pos;
            return true;
        case Kind::StarGreedy:
            if (resumeGreedy(f.node, f.pos, f.a, scan, pos))
                return true;
            break;
        case Kind::StarLazy:
            if (resumeLazy(f.node, f.pos, f.a, scan, pos))
                return true;
            break;
        case Kind::LoopExit: {
            if (loopDepth_ == 0)
                throw ERegex(1015, 0);
            const int level = loopDepth_ - 1;
            pos = f.pos;
            pushUndo(Kind::LoopExitUndo, level, 0);
            loopDepth_ = level;
            scan = program_->next(f.node);
            return true;
        }
        case Kind::LoopBody: {
            if (loopDepth_ == 0)
                throw ERegex(1015, 0);
            const auto level = static_cast<std::size_t>(loopDepth_ - 1);
            pos = f.pos;
            pushUndo(Kind::LoopCounter, static_cast<int>(level), loopCount_[level]);
            ++loopCount_[level];
            scan = f.node + program_->operandInt(f.node, 2);
            return true;
        }
        default:
            throw ERegex(1002, 0);
        }
    }
    return false;
}

// --- Single characters and back-references --------------------------------------------

bool Matcher::anyLineChar(int pos) const {
    if (pos >= length_)
        return false;
    const unsigned char c = in_[pos];
    if (lineBreaks_.has(c))
        return false;
    return !(c == pairFirst_ && pos + 1 < length_ && in_[pos + 1] == pairSecond_);
}

bool Matcher::atLineStart(int pos) const {
    if (pos == 0)
        return true;
    if (pairFirst_ >= 0 && pos < length_ && in_[pos - 1] == pairFirst_ && in_[pos] == pairSecond_)
        return false; // inside the paired separator
    if (lineBreaks_.has(in_[pos - 1]))
        return true;
    return pairFirst_ >= 0 && pos >= 2 && in_[pos - 2] == pairFirst_ && in_[pos - 1] == pairSecond_;
}

bool Matcher::atLineEnd(int pos) const {
    if (pos >= length_)
        return true;
    const unsigned char c = in_[pos];
    if (pairFirst_ >= 0 && pos > 0 && in_[pos - 1] == pairFirst_ && c == pairSecond_)
        return false; // inside the paired separator
    if (lineBreaks_.has(c))
        return true;
    return pairFirst_ >= 0 && c == pairFirst_ && pos + 1 < length_ && in_[pos + 1] == pairSecond_;
}

bool Matcher::atomAt(int atom, std::uint8_t op, int pos) const {
    if (pos >= length_)
        return false;
    const unsigned char c = in_[pos];
    const std::uint8_t* o = code_ + atom + kNodeHeader;
    switch (op) {
    case OpAny:
        return true;
    case OpAnyML:
        return anyLineChar(pos);
    case OpExactly:
        return c == o[0];
    case OpExactlyCI:
        return c == o[0] || c == invert_[o[0]];
    case OpDigit:
        return c >= '0' && c <= '9';
    case OpNotDigit:
        return c < '0' || c > '9';
    case OpAnyOfTiny:
        return c == o[0] || c == o[1] || c == o[2];
    case OpAnyButTiny:
        return c != o[0] && c != o[1] && c != o[2];
    case OpAnyOfFull:
        return setHas(o, c);
    default:
        throw ERegex(1000, 0);
    }
}

// Length of the group's text when it follows at pos, else -1 (also for a group that is
// not set).
int Matcher::backRefLength(int atom, int pos) const {
    const int group = code_[atom + kNodeHeader];
    if (group < 1 || group > kMaxGroups)
        return -1;
    const int s = starts_[group];
    const int e = ends_[group];
    if (s < 0 || e < s)
        return -1;
    const int n = e - s;
    if (n > length_ - pos)
        return -1;
    if (code_[atom] == OpBackRef)
        return std::memcmp(in_ + s, in_ + pos, static_cast<std::size_t>(n)) == 0 ? n : -1;
    for (int i = 0; i < n; ++i) {
        const unsigned char a = in_[s + i];
        const unsigned char b = in_[pos + i];
        if (a != b && a != invert_[b])
            return -1;
    }
    return n;
}

// How many times in a row the atom matches from pos, at most max.
int Matcher::countRepeat(int atom, int pos, int max, int width) const {
    const std::uint8_t op = code_[atom];
    const std::uint8_t* o = code_ + atom + kNodeHeader;
    int limit = length_ - pos;
    if (max < limit)
        limit = max;
    const unsigned char* p = in_ + pos;
    int n = 0;
    switch (op) {
    case OpAny:
        return limit;
    case OpExactly:
        while (n < limit && p[n] == o[0])
            ++n;
        return n;
    case OpExactlyCI: {
        const unsigned char other = invert_[o[0]];
        while (n < limit && (p[n] == o[0] || p[n] == other))
            ++n;
        return n;
    }
    case OpAnyML:
        while (n < limit && anyLineChar(pos + n))
            ++n;
        return n;
    case OpDigit:
        while (n < limit && p[n] >= '0' && p[n] <= '9')
            ++n;
        return n;
    case OpNotDigit:
        while (n < limit && (p[n] < '0' || p[n] > '9'))
            ++n;
        return n;
    case OpAnyOfTiny:
        while (n < limit && (p[n] == o[0] || p[n] == o[1] || p[n] == o[2]))
            ++n;
        return n;
    case OpAnyButTiny:
        while (n < limit && p[n] != o[0] && p[n] != o[1] && p[n] != o[2])
            ++n;
        return n;
    case OpAnyOfFull:
        while (n < limit && setHas(o, p[n]))
            ++n;
        return n;
    case OpBackRef:
    case OpBackRefCI: {
        int at = pos;
        while (n < max && width > 0 && backRefLength(atom, at) == width) {
            at += width;
            ++n;
        }
        return n;
    }
    default:
        throw ERegex(1000, 0);
    }
}

// --- Repetitions ----------------------------------------------------------------------

Matcher::Follow Matcher::followOf(int node) const {
    Follow f;
    for (int guard = 0; node != -1 && guard < 64; ++guard) {
        const std::uint8_t op = code_[node];
        if (!isOpen(op) && !isClose(op) && op != OpComment && op != OpNothing)
            break;
        node = program_->next(node);
    }
    if (node == -1)
        return f;
    const std::uint8_t* o = code_ + node + kNodeHeader;
    switch (code_[node]) {
    case OpExactly:
        f.type = Follow::One;
        f.c[0] = o[0];
        break;
    case OpExactlyCI:
        f.c[0] = o[0];
        f.c[1] = invert_[o[0]];
        f.type = f.c[0] == f.c[1] ? Follow::One : Follow::Two;
        break;
    case OpAnyOfTiny:
        f.type = Follow::Three;
        std::memcpy(f.c, o, 3);
        break;
    case OpAnyOfFull:
        f.type = Follow::Bits;
        f.bits = o;
        break;
    default:
        break;
    }
    return f;
}

bool Matcher::follows(const Follow& f, int pos) const {
    if (f.type == Follow::None)
        return true;
    if (pos >= length_)
        return false;
    const unsigned char c = in_[pos];
    switch (f.type) {
    case Follow::One:
        return c == f.c[0];
    case Follow::Two:
        return c == f.c[0] || c == f.c[1];
    case Follow::Three:
        return c == f.c[0] || c == f.c[1] || c == f.c[2];
    default:
        return setHas(f.bits, c);
    }
}

// The first position at or after from holding the follow character(s), or the input's
// length. Answers are cached per input: a later query inside a range already searched
// costs nothing, which keeps repeated attempts over a long text linear.
int Matcher::findForward(const Follow& f, int from) {
    const int c1 = f.c[0];
    const int c2 = f.type == Follow::Two ? f.c[1] : f.c[0];
    ScanEntry* slot = nullptr;
    for (ScanEntry& e : scanCache_) {
        if (e.c1 == c1 && e.c2 == c2) {
            if (e.from <= from && from <= e.found)
                return e.found;
            slot = &e;
        }
    }
    int found = length_;
    if (c1 == c2) {
        const void* hit = std::memchr(in_ + from, c1, static_cast<std::size_t>(length_ - from));
        if (hit)
            found = static_cast<int>(static_cast<const unsigned char*>(hit) - in_);
    } else {
        int i = from;
        while (i < length_ && in_[i] != c1 && in_[i] != c2)
            ++i;
        found = i;
    }
    if (!slot) {
        slot = &scanCache_[scanNext_];
        scanNext_ = (scanNext_ + 1) % scanCache_.size();
    }
    *slot = ScanEntry{c1, c2, from, found};
    return found;
}

void Matcher::repeatShape(int node, int& min, int& max, int& atom, bool& greedy) const {
    const std::uint8_t op = code_[node];
    atom = node + kNodeHeader;
    greedy = op == OpStar || op == OpPlus || op == OpBraces;
    if (op == OpBraces || op == OpBracesNG) {
        min = program_->operandInt(node, 0);
        max = program_->operandInt(node, 1);
        atom += 8;
    } else {
        min = (op == OpPlus || op == OpPlusNG) ? 1 : 0;
        max = kInfinite;
    }
}

// 1 for single-width atoms; for a back-reference the length of its group's text, or -1
// when the group is not set.
int Matcher::repeatWidth(int atom, int /*pos*/) const {
    const std::uint8_t op = code_[atom];
    if (op != OpBackRef && op != OpBackRefCI)
        return 1;
    const int group = code_[atom + kNodeHeader];
    if (group < 1 || group > kMaxGroups)
        return -1;
    const int s = starts_[group];
    const int e = ends_[group];
    return (s < 0 || e < s) ? -1 : e - s;
}

// The largest count from high down to low after which the follow character comes.
int Matcher::greedyCandidate(int atom, const Follow& f, int base, int high, int low,
                             int width) const {
    if (high < low)
        return -1;
    if (f.type == Follow::None)
        return high;
    if (width == 1 && f.type == Follow::One && code_[atom] != OpBackRef) {
        const int from = base + low;
        int to = base + high;
        if (to >= length_)
            to = length_ - 1;
        if (to < from)
            return -1;
        const void* hit = memrchr(in_ + from, f.c[0], static_cast<std::size_t>(to - from) + 1);
        return hit ? static_cast<int>(static_cast<const unsigned char*>(hit) - in_) - base : -1;
    }
    for (int k = high; k >= low; --k) {
        if (follows(f, base + k * width))
            return k;
    }
    return -1;
}

// The smallest count from count up to max after which the follow character comes; the
// atom has matched count times already.
int Matcher::lazyCandidate(int atom, const Follow& f, int base, int count, int max, int width) {
    if (f.type == Follow::None)
        return count;
    const std::uint8_t op = code_[atom];
    if (op == OpAny && (f.type == Follow::One || f.type == Follow::Two)) {
        const int from = base + count;
        if (from >= length_)
            return -1;
        const int found = findForward(f, from);
        if (found >= length_)
            return -1;
        return found - base <= max ? found - base : -1;
    }
    const bool backRef = op == OpBackRef || op == OpBackRefCI;
    for (int k = count;; ++k) {
        const int p = base + k * width;
        if (follows(f, p))
            return k;
        if (k >= max)
            return -1;
        if (backRef ? backRefLength(atom, p) < 0 : !atomAt(atom, op, p))
            return -1;
    }
}

bool Matcher::startRepeat(int node, int& scan, int& pos) {
    int min = 0;
    int max = 0;
    int atom = 0;
    bool greedy = false;
    repeatShape(node, min, max, atom, greedy);
    const int base = pos;
    const int width = repeatWidth(atom, base);
    const int next = program_->next(node);
    if (next == -1)
        throw ERegex(1002, 0);
    if (width == 0) {
        // The text of an empty group: every count ends at the same place.
        if (!follows(followOf(next), base))
            return false;
        scan = next;
        return true;
    }
    if (greedy) {
        const int count = width < 0 ? 0 : countRepeat(atom, base, max, width);
        if (count < min)
            return false;
        return resumeGreedy(node, base, count, scan, pos);
    }
    if (min > 0 && (width < 0 || countRepeat(atom, base, min, width) < min))
        return false;
    const int k = lazyCandidate(atom, followOf(next), base, min, max, width);
    if (k < 0)
        return false;
    if (k < max)
        push(Kind::StarLazy, node, base, k, 0);
    pos = base + k * width;
    scan = next;
    return true;
}

bool Matcher::resumeGreedy(int node, int base, int high, int& scan, int& pos) {
    int min = 0;
    int max = 0;
    int atom = 0;
    bool greedy = false;
    repeatShape(node, min, max, atom, greedy);
    const int width = repeatWidth(atom, base);
    const int next = program_->next(node);
    const int k = greedyCandidate(atom, followOf(next), base, high, min, width);
    if (k < 0)
        return false;
    if (k > min)
        push(Kind::StarGreedy, node, base, k - 1, 0);
    pos = base + k * width;
    scan = next;
    return true;
}

bool Matcher::resumeLazy(int node, int base, int taken, int& scan, int& pos) {
    int min = 0;
    int max = 0;
    int atom = 0;
    bool greedy = false;
    repeatShape(node, min, max, atom, greedy);
    const int width = repeatWidth(atom, base);
    if (taken >= max || width <= 0)
        return false;
    const int p = base + taken * width;
    const std::uint8_t op = code_[atom];
    const bool backRef = op == OpBackRef || op == OpBackRefCI;
    if (backRef ? backRefLength(atom, p) < 0 : !atomAt(atom, op, p))
        return false;
    const int next = program_->next(node);
    const int k = lazyCandidate(atom, followOf(next), base, taken + 1, max, width);
    if (k < 0)
        return false;
    if (k < max)
        push(Kind::StarLazy, node, base, k, 0);
    pos = base + k * width;
    scan = next;
    return true;
}

// --- The main loop --------------------------------------------------------------------

bool Matcher::matchAt(int index, int& endIndex) {
    stack_.clear();
    choices_ = 0;
    loopDepth_ = 0;
    int scan = Program::kFirstNode;
    int pos = index;
    const int size = program_->size;
    while (true) {
        if (scan < Program::kFirstNode || scan + kNodeHeader > size)
            throw ERegex(1002, 0);
        const std::uint8_t op = code_[scan];
        const std::uint8_t* o = code_ + scan + kNodeHeader;
        bool ok = true;
        switch (op) {
        case OpEnd:
            endIndex = pos;
            stack_.clear();
            choices_ = 0;
            return true;
        case OpBol:
            ok = pos == 0;
            break;
        case OpEol:
            ok = pos == length_;
            break;
        case OpBolML:
            ok = atLineStart(pos);
            break;
        case OpEolML:
            ok = atLineEnd(pos);
            break;
        case OpAny:
        case OpAnyML:
        case OpDigit:
        case OpNotDigit:
        case OpAnyOfTiny:
        case OpAnyButTiny:
        case OpAnyOfFull:
            ok = atomAt(scan, op, pos);
            pos += ok ? 1 : 0;
            break;
        case OpExactly: {
            if (pos >= length_ || in_[pos] != o[0]) {
                ok = false;
                break;
            }
            const std::size_t n = std::strlen(reinterpret_cast<const char*>(o));
            ok = n <= static_cast<std::size_t>(length_ - pos) && std::memcmp(in_ + pos, o, n) == 0;
            pos += ok ? static_cast<int>(n) : 0;
            break;
        }
        case OpExactlyCI: {
            int i = 0;
            for (; o[i] != 0; ++i) {
                if (pos + i >= length_ || (in_[pos + i] != o[i] && in_[pos + i] != invert_[o[i]]))
                    break;
            }
            ok = o[i] == 0;
            pos += ok ? i : 0;
            break;
        }
        case OpNothing:
        case OpComment:
        case OpBack:
            break;
        case OpBackRef:
        case OpBackRefCI: {
            const int n = backRefLength(scan, pos);
            ok = n >= 0;
            pos += ok ? n : 0;
            break;
        }
        case OpBranch: {
            const int next = program_->next(scan);
            if (next != -1 && code_[next] == OpBranch)
                push(Kind::Branch, next, pos, 0, 0);
            scan += kNodeHeader;
            continue;
        }
        case OpStar:
        case OpPlus:
        case OpBraces:
        case OpStarNG:
        case OpPlusNG:
        case OpBracesNG:
            if (startRepeat(scan, scan, pos))
                continue;
            ok = false;
            break;
        case OpLoopEntry: {
            if (loopDepth_ >= kLoopStackSize)
                throw ERegex(1014, 0);
            const auto level = static_cast<std::size_t>(loopDepth_);
            pushUndo(Kind::LoopEntryUndo, loopDepth_, loopCount_[level]);
            loopCount_[level] = 0;
            ++loopDepth_;
            break;
        }
        case OpLoop:
        case OpLoopNG: {
            if (loopDepth_ == 0)
                throw ERegex(1015, 0);
            const auto level = static_cast<std::size_t>(loopDepth_ - 1);
            const int count = loopCount_[level];
            const int min = program_->operandInt(scan, 0);
            const int max = program_->operandInt(scan, 1);
            const int body = scan + program_->operandInt(scan, 2);
            if (count < min || (count < max && op == OpLoop)) {
                if (count >= min)
                    push(Kind::LoopExit, scan, pos, 0, 0);
                pushUndo(Kind::LoopCounter, static_cast<int>(level), count);
                loopCount_[level] = count + 1;
                scan = body;
                continue;
            }
            if (count < max)
                push(Kind::LoopBody, scan, pos, 0, 0);
            pushUndo(Kind::LoopExitUndo, static_cast<int>(level), 0);
            loopDepth_ = static_cast<int>(level);
            break;
        }
        default:
            if (isOpen(op)) {
                const int group = op - OpOpen + 1;
                pushUndo(Kind::RestoreStart, group, starts_[group]);
                starts_[group] = pos;
            } else if (isClose(op)) {
                const int group = op - OpClose + 1;
                pushUndo(Kind::RestoreEnd, group, ends_[group]);
                ends_[group] = pos;
            } else {
                throw ERegex(1001, 0);
            }
            break;
        }
        if (ok) {
            const int next = program_->next(scan);
            if (next == -1)
                throw ERegex(1002, 0);
            scan = next;
            continue;
        }
        if (!backtrack(scan, pos))
            return false;
    }
}

} // namespace fetchora::regex
