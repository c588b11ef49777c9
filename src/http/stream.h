// The streams a caller gives the HTTP client for the body it receives: TStream, the
// interface the client writes through, and TStringStream, one kept in memory.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace fetchora {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
    virtual ~TStream() = default;
    // Writes count bytes at the position and moves past them; returns count.
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Reads up to count bytes from the position; returns how many were read.
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    // Moves the position (kept within 0 and the size); returns the new position.
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    virtual int64_t Size() const = 0;
    // Cuts or extends (with zero bytes) the stream; the position stays within it.
    virtual void SetSize(int64_t size) = 0;
    int64_t Position() const { return position_; }
    // A hint that about count more bytes will be written; streams may ignore it.
    virtual void Expect(int64_t count) { (void)count; }

protected:
    int64_t position_ = 0;
};

class TStringStream final : public TStream {
public:
    TStringStream() = default;
    explicit TStringStream(std::string data) : data_(std::move(data)) {}

    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() const override { return static_cast<int64_t>(data_.size()); }
    void SetSize(int64_t size) override;
    // Reserves room for the expected bytes, so that a body of known length is not
    // copied while it grows; a reservation that cannot be had is skipped.
    void Expect(int64_t count) override;

    const std::string& DataString() const { return data_; }
    // Hands the bytes over and leaves the stream empty.
    std::string TakeDataString();

private:
    std::string data_;
};

} // namespace fetchora
