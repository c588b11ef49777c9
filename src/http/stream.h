// The streams a caller gives the HTTP client for the body it receives: TStream, the
// interface the client writes through, and TStringStream, one kept in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fetchora {

namespace files {
class TempFile;
}

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
    // A hint that writing ends after count more bytes; taken as Expect unless a stream
    // can do better with it.
    virtual void ExpectEnd(int64_t count) { Expect(count); }

    // Writing in place, for a writer that can fill memory itself (a socket read) and so
    // spare a copy: WriteRoom offers memory at the position for up to room bytes (at
    // least one, at most wanted), or nullptr when the stream has none to offer; the
    // writer fills some of it and CommitWrite(count) then takes those bytes as Write
    // would have. Nothing counts before the commit, and the memory stays valid only
    // until the next call on the stream.
    virtual char* WriteRoom(int64_t wanted, int64_t& room) {
        (void)wanted;
        room = 0;
        return nullptr;
    }
    virtual void CommitWrite(int64_t count) { (void)count; }

protected:
    int64_t position_ = 0;
};

class TStringStream final : public TStream {
public:
    TStringStream() = default;
    explicit TStringStream(std::string_view data);
    ~TStringStream() override;
    TStringStream(const TStringStream&) = delete;
    TStringStream& operator=(const TStringStream&) = delete;

    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() const override { return static_cast<int64_t>(size_); }
    void SetSize(int64_t size) override;
    // Reserves room for the expected bytes in one block, so that a body of known length
    // is neither copied while it grows nor scattered; a reservation that cannot be had
    // is skipped.
    void Expect(int64_t count) override;
    // A large stream moves into a string of its final size, so that the bytes still to
    // come land where TakeDataString hands them over without a copy.
    void ExpectEnd(int64_t count) override;
    // Room at the end only: a position inside the stream offers none. A commit takes
    // no more than the room last offered, and nothing after any other call.
    char* WriteRoom(int64_t wanted, int64_t& room) override;
    void CommitWrite(int64_t count) override;

    // The bytes, as a copy.
    std::string DataString() const { return std::string(data_, size_); }
    // The bytes without a copy; valid until the next change.
    std::string_view View() const { return std::string_view(data_, size_); }
    // Hands the bytes over and leaves the stream empty: without a copy (the stream's own
    // block moves into the result) up to 16 MiB, the size of any page; beyond, with one
    // copy during which the stream gives its memory back as it goes.
    std::string TakeDataString();

private:
    // Makes room for at least needed bytes; raises std::bad_alloc when it cannot.
    void Reserve(size_t needed, bool exact);
    // Moves the bytes of the large block into block_ with room for total bytes.
    void MoveIntoString(size_t total);
    void Release();

    // The block: its whole length is room, the first size_ bytes are the stream's. It is
    // block_ up to 16 MiB and large_ (a mapping of capacity_ bytes) beyond; data_ points
    // at the one in use.
    std::string block_;
    char* large_ = nullptr;
    char* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
    size_t offered_ = 0; // the room WriteRoom offered, until the next call
};

// A stream kept in a file that is being written, from a starting offset of the file on:
// a large body goes to disk as it arrives instead of into memory.
class TFileStream final : public TStream {
public:
    TFileStream(files::TempFile& file, int64_t base) : file_(file), base_(base) {}

    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() const override { return size_; }
    void SetSize(int64_t size) override;

private:
    files::TempFile& file_;
    int64_t base_;
    int64_t size_ = 0;
};

} // namespace fetchora
