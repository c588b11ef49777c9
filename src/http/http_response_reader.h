// The HTTP client's response reader: a state machine fed the bytes a server sends, knowing
// no socket. It cuts the header into lines, reads the status line and the fields that
// frame the body, and hands out the body of counted, chunked and close-delimited
// responses as pieces of its own buffer. The client pulls one event at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

// Bounds of what a server may send before the body; past them the response fails.
inline constexpr size_t kMaxHeaderLineLength = 16384;
inline constexpr size_t kMaxHeaderSize = 131072;
// Room kept free for each read from the socket; the buffer grows in steps of this size.
inline constexpr size_t kMinReadRoom = 8192;
inline constexpr size_t kReadBufferStep = 65536;

// What the response answers: a HEAD never has a body, nor does a CONNECT that opened its
// tunnel (a 2xx status).
enum class ResponseTo { Get, Head, Connect };

class HttpResponseReader final {
public:
    enum class State {
        // Waits for the first line of a header (a status line, a header-less HTML line
        // or anything else); goes to HeaderLine, to HeaderlessEnd, or ends the header at
        // once on an empty line.
        FirstLine,
        // Waits for a field line or the empty line that ends the header; goes to a body
        // state, to Done when there is no body, or back to FirstLine after a 100 status
        // of an HTTP/1.1 server.
        HeaderLine,
        // The first line was HTML: reports the end of the header, then goes to
        // UntilClose with that line still buffered as the first body bytes.
        HeaderlessEnd,
        // Waits for the bytes still missing of Content-Length, buffered or read into the
        // caller's memory; goes to Done.
        CountedBody,
        // Reads the hex digits of a chunk size (the first other character ends them);
        // goes to ChunkSizeRest.
        ChunkSize,
        // Skips the rest of the chunk-size line up to its LF; goes to ChunkData, or to
        // Done after a chunk of size 0.
        ChunkSizeRest,
        // Waits for the bytes of the chunk; goes to ChunkDataEnd.
        ChunkData,
        // Skips the rest of the line after the chunk's bytes up to its LF; goes to
        // ChunkSize.
        ChunkDataEnd,
        // Hands out everything until the connection closes, buffered or read into the
        // caller's memory; never leaves by itself.
        UntilClose,
        // The response is complete; bytes that still come are surplus.
        Done,
        // A bound was exceeded; everything further is ignored.
        Failed,
    };

    enum class Event {
        NeedMore,      // every buffered byte is used; feed more
        HeaderLine,    // line() holds a header line without its CR LF
        HeaderRestart, // a 100 status of an HTTP/1.1 server was dropped: a new header follows
        HeaderEnd,     // the header is complete; bodyKind() tells what follows
        Data,          // data()/size() hold a piece of the body
        DocumentEnd,   // the counted or chunked body is complete
        Surplus,       // data()/size() hold bytes after the end of the response
        Failed,        // error() tells which bound was exceeded
    };

    enum class BodyKind { None, Counted, Chunked, UntilClose };

    HttpResponseReader();

    // Starts reading a new response on the same connection: bytes already buffered
    // stay and belong to it.
    void beginResponse(ResponseTo request);
    // Starts afresh for a new connection: drops every buffered byte too.
    void reset(ResponseTo request);

    // Free room for the next read, at least kMinReadRoom bytes (one byte more stays free
    // behind it). Pointers handed out before become invalid.
    char* writable(size_t& room);
    // The count of bytes just written into the room.
    void commit(size_t count);
    // Copies bytes in (tests and the fuzzer).
    void append(std::string_view bytes);

    // Body bytes may also be read straight into the caller's own memory (the stream the
    // body goes to), sparing the copy out of the buffer. directRoom() says how many the
    // next read may take that way: in a counted body at most the bytes still missing, in
    // a close-delimited body any number, and 0 whenever bytes are buffered, in the header,
    // in a chunked body and after the end. commitDirect tells of count such bytes (at
    // most directRoom()) read to at; the next event is the Data event of exactly that
    // piece, with dataInPlace() true.
    size_t directRoom() const;
    void commitDirect(const char* at, size_t count);

    Event next();

    State state() const { return state_; }
    bool inHeader() const { return state_ == State::FirstLine || state_ == State::HeaderLine; }

    // The current header line (after a HeaderLine event) and what it was.
    const std::string& line() const { return line_; }
    bool lineIsFirst() const { return lineIsFirst_; }
    bool lineIsStatus() const { return lineIsStatus_; }
    bool lineIsHeaderless() const { return lineIsHeaderless_; }
    bool lineIsField() const { return lineIsField_; }
    // A field's name lowercased and its value after the ":" and any spaces.
    const std::string& fieldName() const { return fieldName_; }
    const std::string& fieldValue() const { return fieldValue_; }

    // The piece of a Data or Surplus event; valid until the next feed.
    const char* data() const { return data_; }
    size_t size() const { return size_; }
    // Whether the piece is one the caller read into its own memory (commitDirect).
    bool dataInPlace() const { return dataInPlace_; }
    const std::string& error() const { return error_; }

    // What the header said so far.
    int statusCode() const { return statusCode_; }
    const std::string& reasonPhrase() const { return reasonPhrase_; }
    // "1.0" or "1.1" after a status line, else empty.
    const std::string& serverVersion() const { return serverVersion_; }
    // Content-Length, -1 when there is none or it is not a number that fits 63 bits.
    std::int64_t contentLength() const { return contentLength_; }
    // Transfer-Encoding, lowercased and trimmed: the value the body is framed by.
    const std::string& transferEncoding() const { return transferEncoding_; }
    // Content-Range "bytes first-last/length": whether one of numbers came, and its
    // first and last byte numbers (the last may be empty).
    bool hasContentRange() const { return hasContentRange_; }
    const std::string& contentRangeBegin() const { return contentRangeBegin_; }
    const std::string& contentRangeEnd() const { return contentRangeEnd_; }
    BodyKind bodyKind() const { return bodyKind_; }
    size_t buffered() const { return end_ - begin_; }

    // Interpretation of single lines, exposed for tests.
    static bool isHeaderlessLine(std::string_view line);
    // Decimal digits only (after trimming) that fit 63 bits, else -1.
    static std::int64_t parseContentLength(std::string_view value);
    // A Content-Range value: the characters from the seventh up to the "-", then up to the
    // "/". False, with nothing set, unless the first is a number and the last a number or
    // nothing.
    static bool parseContentRange(std::string_view value, std::string& first, std::string& last);

private:
    Event readHeaderLine();
    Event headerEnded();
    Event fail(const std::string& message);
    void clearHead();
    void interpretStatusLine();
    void interpretField();
    // Consumes bytes up to and including the next LF; false when none is buffered.
    bool skipLine();
    Event deliver(size_t count, Event event);
    Event deliverDirect();

    std::vector<char> buffer_;
    size_t begin_ = 0;
    size_t end_ = 0;
    State state_ = State::FirstLine;
    ResponseTo request_ = ResponseTo::Get;
    size_t headerBytes_ = 0;

    std::string line_;
    bool lineIsFirst_ = false;
    bool lineIsStatus_ = false;
    bool lineIsHeaderless_ = false;
    bool lineIsField_ = false;
    std::string fieldName_;
    std::string fieldValue_;
    const char* data_ = nullptr;
    size_t size_ = 0;
    bool dataInPlace_ = false;
    // A piece read into the caller's memory, handed out by the next event.
    const char* direct_ = nullptr;
    size_t directSize_ = 0;
    std::string error_;

    int statusCode_ = 0;
    std::string reasonPhrase_;
    std::string serverVersion_;
    std::int64_t contentLength_ = -1;
    std::string transferEncoding_;
    bool hasContentRange_ = false;
    std::string contentRangeBegin_;
    std::string contentRangeEnd_;
    BodyKind bodyKind_ = BodyKind::None;
    int64_t remaining_ = 0;
    int64_t chunkSize_ = 0;
};

} // namespace fetchora
