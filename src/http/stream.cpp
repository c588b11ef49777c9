// The in-memory string stream: one block that grows by doubling, or to the size a caller
// announces; a string while it is page-sized (so that it can be handed over), a mapping
// of its own beyond, which grows without copying or clearing and is backed by huge pages.
#include "http/stream.h"

#include "platform/files.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

#include <sys/mman.h>
#include <unistd.h>

namespace fetchora {

namespace {

constexpr size_t kMinCapacity = 256;
// The largest block kept in a string (and so handed over by TakeDataString without a
// copy): a page is far below it, a large download above.
constexpr size_t kStringBlockLimit = size_t{16} << 20;
constexpr size_t kMaxSize = static_cast<size_t>(std::numeric_limits<int64_t>::max());
// A large body is handed over in pieces of this size, the pages of each given back as
// soon as it is copied, so that the hand-over holds little more than the body once.
constexpr size_t kHandOverPiece = size_t{8} << 20;
constexpr uintptr_t kHugePage = uintptr_t{2} << 20;

uintptr_t pageSize() {
    static const auto size = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

size_t roundUpToPages(size_t bytes) {
    const uintptr_t page = pageSize();
    return (bytes + page - 1) / page * page;
}

// Applies advice to the whole pages inside [from, to) of memory the stream owns. Most of
// the time of a large fresh block goes into the kernel clearing its pages on first touch,
// page by page; huge pages make that a fraction. Advice is only advice: a refusal changes
// nothing but speed.
void advise(char* from, char* to, int advice) {
    const uintptr_t page = pageSize();
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(from) + page - 1) / page * page;
    const uintptr_t end = reinterpret_cast<uintptr_t>(to) / page * page;
    if (end <= begin)
        return;
    if (advice == MADV_HUGEPAGE && end - begin < kHugePage)
        return;
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the page-aligned part of our own block
    ::madvise(reinterpret_cast<void*>(begin), end - begin, advice);
}

} // namespace

TStringStream::TStringStream(std::string_view data) {
    if (data.empty())
        return;
    Reserve(data.size(), true);
    std::memcpy(data_, data.data(), data.size());
    size_ = data.size();
}

TStringStream::~TStringStream() {
    Release();
}

void TStringStream::Release() {
    offered_ = 0;
    block_ = std::string();
    if (large_ != nullptr)
        ::munmap(large_, capacity_);
    large_ = nullptr;
    data_ = nullptr;
    size_ = 0;
    capacity_ = 0;
}

void TStringStream::Reserve(size_t needed, bool exact) {
    if (needed <= capacity_)
        return;
    if (needed > kMaxSize)
        throw std::length_error("TStringStream: size out of range");
    size_t capacity = needed;
    if (!exact) {
        const size_t doubled = capacity_ > kMaxSize / 2 ? kMaxSize : capacity_ * 2;
        capacity = std::max({needed, doubled, kMinCapacity});
    }
    if (capacity <= kStringBlockLimit) {
        block_.resize(capacity);
        data_ = block_.data();
        capacity_ = capacity;
        return;
    }
    // Past the limit the bytes move once into a mapping of their own, which then grows
    // by remapping: its pages are neither copied nor cleared by us, and only those
    // written to take memory.
    capacity = roundUpToPages(capacity);
    void* block = large_ == nullptr ? ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE,
                                             MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                                    : ::mremap(large_, capacity_, capacity, MREMAP_MAYMOVE);
    if (block == MAP_FAILED)
        throw std::bad_alloc();
    auto* const grown = static_cast<char*>(block);
    advise(grown + (large_ == nullptr ? 0 : capacity_), grown + capacity, MADV_HUGEPAGE);
    if (large_ == nullptr) {
        std::memcpy(grown, block_.data(), size_);
        block_ = std::string();
    }
    large_ = grown;
    data_ = large_;
    capacity_ = capacity;
}

int64_t TStringStream::Write(const void* buffer, int64_t count) {
    offered_ = 0;
    if (count <= 0)
        return 0;
    const auto at = static_cast<size_t>(position_);
    const auto n = static_cast<size_t>(count);
    if (n > kMaxSize - at)
        throw std::length_error("TStringStream: size out of range");
    Reserve(at + n, false);
    std::memcpy(data_ + at, buffer, n);
    size_ = std::max(size_, at + n);
    position_ += count;
    return count;
}

int64_t TStringStream::Read(void* buffer, int64_t count) {
    offered_ = 0;
    const int64_t n = std::max<int64_t>(0, std::min(count, Size() - position_));
    if (n > 0)
        std::memcpy(buffer, data_ + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
}

int64_t TStringStream::Seek(int64_t offset, TSeekOrigin origin) {
    offered_ = 0;
    int64_t base = 0;
    if (origin == TSeekOrigin::soCurrent)
        base = position_;
    else if (origin == TSeekOrigin::soEnd)
        base = Size();
    position_ = std::clamp<int64_t>(base + offset, 0, Size());
    return position_;
}

void TStringStream::SetSize(int64_t size) {
    offered_ = 0;
    const auto wanted = static_cast<size_t>(std::max<int64_t>(0, size));
    if (wanted > size_) {
        Reserve(wanted, true);
        std::memset(data_ + size_, 0, wanted - size_);
    }
    size_ = wanted;
    position_ = std::min(position_, Size());
}

void TStringStream::Expect(int64_t count) {
    offered_ = 0;
    if (count <= 0 || static_cast<uint64_t>(count) > kMaxSize - size_)
        return;
    try {
        Reserve(size_ + static_cast<size_t>(count), true);
    } catch (const std::bad_alloc&) {
        // Only a hint: the stream then grows as it is written.
    } catch (const std::length_error&) {
    }
}

void TStringStream::ExpectEnd(int64_t count) {
    offered_ = 0;
    if (position_ != Size() || count <= 0 || static_cast<uint64_t>(count) > kMaxSize - size_) {
        Expect(count);
        return;
    }
    const size_t total = size_ + static_cast<size_t>(count);
    try {
        if (large_ != nullptr) {
            MoveIntoString(total);
            return;
        }
        if (total <= capacity_)
            return;
        // The end is known: the string grows to it whatever its size, as a large block
        // would only be copied into a string again.
        block_.resize(total);
        data_ = block_.data();
        capacity_ = total;
    } catch (const std::bad_alloc&) {
        // Only a hint: the stream keeps its block, which grows as it is written.
    } catch (const std::length_error&) {
    }
}

void TStringStream::MoveIntoString(size_t total) {
    // The string is reserved at once and filled piece by piece, each piece's pages given
    // back once copied; its room for the rest is cleared, as a string's room must be.
    std::string block;
    block.reserve(total);
    advise(block.data(), block.data() + total, MADV_HUGEPAGE);
    for (size_t at = 0; at < size_;) {
        const size_t piece = std::min(kHandOverPiece, size_ - at);
        block.append(large_ + at, piece);
        advise(large_ + at, large_ + at + piece, MADV_DONTNEED);
        at += piece;
    }
    block.resize(total);
    ::munmap(large_, capacity_);
    large_ = nullptr;
    block_ = std::move(block);
    data_ = block_.data();
    capacity_ = total;
}

char* TStringStream::WriteRoom(int64_t wanted, int64_t& room) {
    room = 0;
    offered_ = 0;
    if (wanted <= 0 || position_ != Size())
        return nullptr;
    if (capacity_ == size_) {
        if (static_cast<uint64_t>(wanted) > kMaxSize - size_)
            return nullptr;
        try {
            Reserve(size_ + static_cast<size_t>(wanted), false);
        } catch (const std::bad_alloc&) {
            return nullptr;
        } catch (const std::length_error&) {
            return nullptr;
        }
    }
    offered_ = std::min(capacity_ - size_, static_cast<size_t>(wanted));
    room = static_cast<int64_t>(offered_);
    return data_ + size_;
}

void TStringStream::CommitWrite(int64_t count) {
    const size_t offered = offered_;
    offered_ = 0;
    if (count <= 0 || offered == 0)
        return;
    size_ += std::min(static_cast<size_t>(count), offered);
    position_ = Size();
}

std::string TStringStream::TakeDataString() {
    std::string out;
    if (large_ == nullptr) {
        block_.resize(size_); // shrinks in place: nothing is copied
        out = std::move(block_);
    } else {
        MoveIntoString(size_);
        out = std::move(block_);
    }
    Release();
    position_ = 0;
    return out;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    if (count <= 0)
        return 0;
    file_.writeAt(base_ + position_, static_cast<const char*>(buffer), static_cast<size_t>(count));
    position_ += count;
    size_ = std::max(size_, position_);
    return count;
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    const int64_t n = std::max<int64_t>(0, std::min(count, size_ - position_));
    if (n == 0)
        return 0;
    const size_t got =
        file_.readAt(base_ + position_, static_cast<char*>(buffer), static_cast<size_t>(n));
    position_ += static_cast<int64_t>(got);
    return static_cast<int64_t>(got);
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t base = 0;
    if (origin == TSeekOrigin::soCurrent)
        base = position_;
    else if (origin == TSeekOrigin::soEnd)
        base = size_;
    position_ = std::clamp<int64_t>(base + offset, 0, size_);
    return position_;
}

void TFileStream::SetSize(int64_t size) {
    size_ = std::max<int64_t>(0, size);
    file_.truncate(base_ + size_);
    position_ = std::min(position_, size_);
}

} // namespace fetchora
