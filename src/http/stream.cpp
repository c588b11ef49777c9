// The in-memory string stream.
#include "http/stream.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

namespace fetchora {

int64_t TStringStream::Write(const void* buffer, int64_t count) {
    if (count <= 0)
        return 0;
    const auto at = static_cast<size_t>(position_);
    const auto n = static_cast<size_t>(count);
    if (at == data_.size()) {
        data_.append(static_cast<const char*>(buffer), n);
    } else {
        if (at + n > data_.size())
            data_.resize(at + n);
        std::memcpy(data_.data() + at, buffer, n);
    }
    position_ += count;
    return count;
}

int64_t TStringStream::Read(void* buffer, int64_t count) {
    const int64_t n = std::max<int64_t>(0, std::min(count, Size() - position_));
    if (n > 0)
        std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
}

int64_t TStringStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t base = 0;
    if (origin == TSeekOrigin::soCurrent)
        base = position_;
    else if (origin == TSeekOrigin::soEnd)
        base = Size();
    position_ = std::clamp<int64_t>(base + offset, 0, Size());
    return position_;
}

void TStringStream::SetSize(int64_t size) {
    data_.resize(static_cast<size_t>(std::max<int64_t>(0, size)));
    position_ = std::min(position_, Size());
}

void TStringStream::Expect(int64_t count) {
    if (count <= 0)
        return;
    const auto wanted = static_cast<size_t>(Size() + count);
    if (wanted <= data_.capacity())
        return;
    try {
        data_.reserve(wanted);
    } catch (const std::bad_alloc&) {
        // Only a hint: the stream then grows as it is written.
    } catch (const std::length_error&) {
    }
}

std::string TStringStream::TakeDataString() {
    std::string out = std::move(data_);
    data_.clear();
    position_ = 0;
    return out;
}

} // namespace fetchora
