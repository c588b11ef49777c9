// The in-memory string stream: one block that grows by doubling, or to the size a caller
// announces; a string while it is page-sized (so that it can be handed over), a block
// that grows in place beyond.
#include "http/stream.h"

#include "platform/files.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

namespace fetchora {

namespace {

constexpr size_t kMinCapacity = 256;
// The largest block kept in a string (and so handed over by TakeDataString without a
// copy): a page is far below it, a large download above.
constexpr size_t kStringBlockLimit = size_t{16} << 20;
constexpr size_t kMaxSize = static_cast<size_t>(std::numeric_limits<int64_t>::max());

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
    std::free(large_);
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
    // Past the limit the bytes move once into a block of their own, which then grows in
    // place where the system can (a large block is remapped, not copied).
    void* block = std::realloc(large_, capacity);
    if (block == nullptr)
        throw std::bad_alloc();
    if (large_ == nullptr) {
        std::memcpy(block, block_.data(), size_);
        block_ = std::string();
    }
    large_ = static_cast<char*>(block);
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
        out.assign(large_, size_);
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
