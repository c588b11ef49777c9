// The response reader fed plain strings: framing of counted, chunked and close-delimited
// bodies, status lines, header-less HTML, 100 Continue, and the bounds on what a server
// may send, whole and cut into every possible pair of pieces.
#include "http/http_response_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

namespace fetchora {
namespace {

// What the reader made of a response: header lines, body bytes, and how it ended.
struct Outcome {
    std::vector<std::string> lines;
    std::string body;
    std::string surplus;
    int headerEnds = 0;
    int restarts = 0;
    bool documentEnded = false;
    std::string error;
    int status = 0;
    std::int64_t contentLength = -1;
    HttpResponseReader::BodyKind kind = HttpResponseReader::BodyKind::None;

    bool operator==(const Outcome&) const = default;
};

void drain(HttpResponseReader& reader, Outcome& out) {
    using Event = HttpResponseReader::Event;
    for (;;) {
        switch (reader.next()) {
        case Event::NeedMore:
            return;
        case Event::HeaderLine:
            out.lines.push_back(reader.line());
            break;
        case Event::HeaderRestart:
            ++out.restarts;
            out.lines.clear();
            break;
        case Event::HeaderEnd:
            ++out.headerEnds;
            out.kind = reader.bodyKind();
            out.status = reader.statusCode();
            out.contentLength = reader.contentLength();
            break;
        case Event::Data:
            out.body.append(reader.data(), reader.size());
            break;
        case Event::DocumentEnd:
            out.documentEnded = true;
            break;
        case Event::Surplus:
            out.surplus.append(reader.data(), reader.size());
            break;
        case Event::Failed:
            out.error = reader.error();
            break;
        }
    }
}

Outcome readPieces(const std::vector<std::string>& pieces, ResponseTo to = ResponseTo::Get) {
    HttpResponseReader reader;
    reader.reset(to);
    Outcome out;
    for (const auto& piece : pieces) {
        reader.append(piece);
        drain(reader, out);
    }
    return out;
}

Outcome read(const std::string& bytes, ResponseTo to = ResponseTo::Get) {
    return readPieces({bytes}, to);
}

// Every cut into two pieces, and one byte at a time, must give the same outcome.
void expectSplitInvariant(const std::string& bytes) {
    const Outcome whole = read(bytes);
    for (size_t cut = 1; cut < bytes.size(); ++cut)
        EXPECT_EQ(readPieces({bytes.substr(0, cut), bytes.substr(cut)}), whole) << "cut " << cut;
    std::vector<std::string> bytewise;
    for (const char c : bytes)
        bytewise.emplace_back(1, c);
    EXPECT_EQ(readPieces(bytewise), whole);
}

TEST(HttpResponseReader, CountedBodyStopsAtContentLength) {
    const Outcome out =
        read("HTTP/1.0 200 OK\r\nContent-Length: 5\r\nContent-Type: text/plain\r\n\r\nhelloEXTRA");
    EXPECT_EQ(out.lines, (std::vector<std::string>{"HTTP/1.0 200 OK", "Content-Length: 5",
                                                   "Content-Type: text/plain"}));
    EXPECT_EQ(out.status, 200);
    EXPECT_EQ(out.kind, HttpResponseReader::BodyKind::Counted);
    EXPECT_EQ(out.body, "hello");
    EXPECT_TRUE(out.documentEnded);
    EXPECT_EQ(out.surplus, "EXTRA");
}

TEST(HttpResponseReader, ChunkedBodyDeliversOnlyChunkData) {
    const std::string response = "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n"
                                 "4;name=value\r\nWiki\r\n5\r\npedia\r\nE\r\n in\r\n\r\nchunks.\r\n"
                                 "0\r\nTrailer: x\r\n\r\n";
    const Outcome out = read(response);
    EXPECT_EQ(out.kind, HttpResponseReader::BodyKind::Chunked);
    EXPECT_EQ(out.body, "Wikipedia in\r\n\r\nchunks.");
    EXPECT_TRUE(out.documentEnded);
    expectSplitInvariant(response);
}

TEST(HttpResponseReader, BodyWithoutLengthRunsUntilClose) {
    const std::string response = "HTTP/1.0 200 OK\nServer: x\n\nall of it";
    const Outcome out = read(response);
    EXPECT_EQ(out.kind, HttpResponseReader::BodyKind::UntilClose);
    EXPECT_EQ(out.body, "all of it");
    EXPECT_FALSE(out.documentEnded);
    EXPECT_EQ(out.contentLength, -1);
    expectSplitInvariant(response);
}

TEST(HttpResponseReader, StatusesWithoutLengthHaveNoBody) {
    for (const char* status : {"100", "204", "301", "302", "304", "401", "407"}) {
        const Outcome out = read(std::string("HTTP/1.0 ") + status + " X\r\n\r\nbody?");
        EXPECT_EQ(out.kind, HttpResponseReader::BodyKind::None) << status;
        EXPECT_EQ(out.surplus, "body?") << status;
    }
    // A stated length or chunking still gives them a body.
    EXPECT_EQ(read("HTTP/1.0 302 Found\r\nContent-Length: 3\r\n\r\nabc").body, "abc");
    EXPECT_EQ(read("HTTP/1.0 401 No\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nz\r\n0\r\n\r\n").body,
              "z");
    // A HEAD never has one, and Content-Length 0 means none.
    EXPECT_EQ(read("HTTP/1.0 200 OK\r\nContent-Length: 9\r\n\r\n", ResponseTo::Head).kind,
              HttpResponseReader::BodyKind::None);
    EXPECT_EQ(read("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\nx").surplus, "x");
}

TEST(HttpResponseReader, StatusLineParsing) {
    struct Row {
        const char* line;
        int status;
        const char* reason;
        const char* version;
    };
    const Row rows[] = {
        {"HTTP/1.0 200 OK", 200, "OK", "1.0"},
        {"HTTP/1.1 404 Not Found", 404, "Not Found", "1.1"},
        {"HTTP/1.1   301 Moved", 301, "Moved", "1.1"},
        {"HTTP/1.0 200", 200, "", "1.0"},
        {"HTTP/1.0 2x0 Odd", 0, "Odd", "1.0"}, // not a number: no status
        {"HTTP/1.0", 0, "", "1.0"},
        {"HTTP/2.0 200 OK", 0, "", ""}, // not a status line
        {"ICY 200 OK", 0, "", ""},
    };
    for (const auto& row : rows) {
        HttpResponseReader reader;
        reader.reset(ResponseTo::Get);
        reader.append(std::string(row.line) + "\r\n");
        ASSERT_EQ(reader.next(), HttpResponseReader::Event::HeaderLine) << row.line;
        EXPECT_EQ(reader.statusCode(), row.status) << row.line;
        EXPECT_EQ(reader.reasonPhrase(), row.reason) << row.line;
        EXPECT_EQ(reader.serverVersion(), row.version) << row.line;
    }
}

TEST(HttpResponseReader, FieldsAreLowercasedAndValuesStartAfterSpaces) {
    HttpResponseReader reader;
    reader.reset(ResponseTo::Get);
    reader.append("HTTP/1.0 200 OK\r\nX-Thing:   a: b \r\nContent-Length:  42 \r\nnocolon\r\n");
    ASSERT_EQ(reader.next(), HttpResponseReader::Event::HeaderLine);
    ASSERT_EQ(reader.next(), HttpResponseReader::Event::HeaderLine);
    EXPECT_TRUE(reader.lineIsField());
    EXPECT_EQ(reader.fieldName(), "x-thing");
    EXPECT_EQ(reader.fieldValue(), "a: b ");
    ASSERT_EQ(reader.next(), HttpResponseReader::Event::HeaderLine);
    EXPECT_EQ(reader.contentLength(), 42);
    ASSERT_EQ(reader.next(), HttpResponseReader::Event::HeaderLine);
    EXPECT_FALSE(reader.lineIsField());
    EXPECT_EQ(HttpResponseReader::parseContentLength("12a"), -1);
    EXPECT_EQ(HttpResponseReader::parseContentLength("-5"), -1);
}

TEST(HttpResponseReader, SizesPastFourGigabytesAreReadAndGarbageIsNot) {
    const std::pair<const char*, std::int64_t> lengths[] = {
        {"2147483647", 2147483647},
        {"2147483648", 2147483648},
        {"4294967296", 4294967296},
        {" 6000000000 ", 6000000000},
        {"9223372036854775807", 9223372036854775807},
        {"9223372036854775808", -1}, // past 63 bits
        {"99999999999999999999", -1},
        {"6000000000x", -1},
        {"6 000 000 000", -1},
        {"+6000000000", -1},
        {"", -1},
    };
    for (const auto& [value, expected] : lengths)
        EXPECT_EQ(HttpResponseReader::parseContentLength(value), expected) << value;

    HttpResponseReader reader;
    reader.reset(ResponseTo::Get);
    reader.append("HTTP/1.0 206 Partial\r\nContent-Length: 5000000000\r\n"
                  "Content-Range: bytes 4294967296-9294967295/9294967296\r\n\r\nab");
    while (reader.next() != HttpResponseReader::Event::HeaderEnd) {
    }
    EXPECT_EQ(reader.contentLength(), 5000000000);
    EXPECT_EQ(reader.bodyKind(), HttpResponseReader::BodyKind::Counted);
    EXPECT_EQ(reader.contentRangeBegin(), "4294967296");
    EXPECT_EQ(reader.contentRangeEnd(), "9294967295");
    ASSERT_EQ(reader.next(), HttpResponseReader::Event::Data);
    EXPECT_EQ(std::string(reader.data(), reader.size()), "ab");

    std::string first;
    std::string last;
    EXPECT_FALSE(
        HttpResponseReader::parseContentRange("bytes 1234567890123456789-/*", first, last));
    EXPECT_FALSE(HttpResponseReader::parseContentRange("bytes 5000000000-5x/6", first, last));
}

TEST(HttpResponseReader, OnlyAnOpenedTunnelHasNoBody) {
    HttpResponseReader reader;
    reader.reset(ResponseTo::Connect);
    reader.append("HTTP/1.0 200 Connection established\r\n\r\n");
    ASSERT_EQ(reader.next(), HttpResponseReader::Event::HeaderLine);
    ASSERT_EQ(reader.next(), HttpResponseReader::Event::HeaderEnd);
    EXPECT_EQ(reader.bodyKind(), HttpResponseReader::BodyKind::None);

    // A refusal's body is read as any other.
    reader.reset(ResponseTo::Connect);
    reader.append("HTTP/1.0 403 Forbidden\r\n\r\nno");
    ASSERT_EQ(reader.next(), HttpResponseReader::Event::HeaderLine);
    ASSERT_EQ(reader.next(), HttpResponseReader::Event::HeaderEnd);
    EXPECT_EQ(reader.bodyKind(), HttpResponseReader::BodyKind::UntilClose);
}

TEST(HttpResponseReader, ContentRangeIsTakenOnlyAsNumbers) {
    struct Row {
        const char* value;
        bool taken;
        const char* first;
        const char* last;
    };
    const Row rows[] = {
        {"bytes 1000-1003/5000", true, "1000", "1003"},
        {"bytes 7-/9", true, "7", ""},
        {"bytes 5-9", true, "5", "9"},
        {"bytes 5-x", false, "", ""},
        {"bytes -9/10", false, "", ""},
        {"bytes 1\r2-3/4", false, "", ""},
        {"b 1-2/3", false, "", ""},
    };
    for (const Row& row : rows) {
        std::string first;
        std::string last;
        EXPECT_EQ(HttpResponseReader::parseContentRange(row.value, first, last), row.taken)
            << row.value;
        EXPECT_EQ(first, row.first) << row.value;
        EXPECT_EQ(last, row.last) << row.value;
    }
    HttpResponseReader reader;
    reader.reset(ResponseTo::Get);
    reader.append("HTTP/1.0 206 Partial\r\nContent-Range: bytes 10-19/20\r\n");
    ASSERT_EQ(reader.next(), HttpResponseReader::Event::HeaderLine);
    ASSERT_EQ(reader.next(), HttpResponseReader::Event::HeaderLine);
    EXPECT_TRUE(reader.hasContentRange());
    EXPECT_EQ(reader.contentRangeBegin(), "10");
    EXPECT_EQ(reader.contentRangeEnd(), "19");
}

TEST(HttpResponseReader, HeaderlessHtmlIsBodyFromItsFirstLine) {
    const std::string page = "<!doctype html>\r\n<p>hi</p>";
    const Outcome out = read(page);
    EXPECT_EQ(out.lines, (std::vector<std::string>{"<!doctype html>"}));
    EXPECT_EQ(out.kind, HttpResponseReader::BodyKind::UntilClose);
    EXPECT_EQ(out.body, page);
    EXPECT_EQ(read("<HTML><body>x").headerEnds, 0); // waits for the line
    // A header-less page whose first line is longer than a header line may be.
    const std::string longPage = "<HTML>" + std::string(kMaxHeaderLineLength + 10, 'x');
    EXPECT_EQ(read(longPage).body, longPage);
    EXPECT_TRUE(read(longPage).error.empty());
}

TEST(HttpResponseReader, ContinueFromHttp11IsDropped) {
    const Outcome out =
        read("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    EXPECT_EQ(out.restarts, 1);
    EXPECT_EQ(out.lines, (std::vector<std::string>{"HTTP/1.1 200 OK", "Content-Length: 2"}));
    EXPECT_EQ(out.body, "ok");
    // From an HTTP/1.0 server a 100 is a final answer without body.
    EXPECT_EQ(read("HTTP/1.0 100 Continue\r\n\r\n").restarts, 0);
}

TEST(HttpResponseReader, BoundsEndTheResponseWithAnError) {
    const std::string longLine =
        "HTTP/1.0 200 OK\r\nX: " + std::string(kMaxHeaderLineLength, 'a') + "\r\n\r\n";
    EXPECT_EQ(read(longLine).error, "Response header line longer than 16384 bytes");
    // Without any line end, the reader gives up as soon as the bound is passed.
    EXPECT_EQ(read("HTTP/1.0 200 OK\r\nX: " + std::string(kMaxHeaderLineLength, 'a')).error,
              "Response header line longer than 16384 bytes");

    std::string many = "HTTP/1.0 200 OK\r\n";
    while (many.size() <= kMaxHeaderSize)
        many += "X-Filler: " + std::string(1000, 'f') + "\r\n";
    EXPECT_EQ(read(many).error, "Response header larger than 131072 bytes");

    const Outcome huge =
        read("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n80000000\r\nabc");
    EXPECT_EQ(huge.error, "Chunk size does not fit 32 bits");
    EXPECT_TRUE(huge.body.empty());
    EXPECT_EQ(read("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n7fffffff\r\nab").body,
              "ab");
}

TEST(HttpResponseReader, BufferStaysSmallWhileBodyStreams) {
    HttpResponseReader reader;
    reader.reset(ResponseTo::Get);
    reader.append("HTTP/1.0 200 OK\r\n\r\n");
    Outcome out;
    drain(reader, out);
    size_t total = 0;
    for (int i = 0; i < 200; ++i) {
        size_t room = 0;
        char* at = reader.writable(room);
        ASSERT_GE(room, kMinReadRoom);
        ASSERT_LE(room, kReadBufferStep);
        std::fill(at, at + room, 'b');
        reader.commit(room);
        total += room;
        drain(reader, out);
    }
    EXPECT_EQ(out.body.size(), total);
}

// Feeds the response piece by piece, but places every byte that the reader lets go to
// the caller's memory there (in pieces of at most `piece` bytes) instead of its buffer.
Outcome readDirect(const std::string& bytes, size_t piece, ResponseTo to = ResponseTo::Get) {
    HttpResponseReader reader;
    reader.reset(to);
    Outcome out;
    std::vector<std::string> placed; // the caller's memory: each piece stays where it is
    placed.reserve(bytes.size());
    size_t at = 0;
    while (at < bytes.size()) {
        const size_t room = reader.directRoom();
        const size_t count = std::min({piece, bytes.size() - at, room == 0 ? piece : room});
        if (room == 0) {
            reader.append(bytes.substr(at, count));
        } else {
            placed.push_back(bytes.substr(at, count));
            reader.commitDirect(placed.back().data(), count);
            EXPECT_EQ(reader.next(), HttpResponseReader::Event::Data);
            EXPECT_TRUE(reader.dataInPlace());
            EXPECT_EQ(reader.data(), placed.back().data());
            out.body.append(reader.data(), reader.size());
        }
        at += count;
        drain(reader, out);
    }
    return out;
}

TEST(HttpResponseReader, DirectReadsGiveTheSameOutcomeAsBufferedOnes) {
    const std::string counted = "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n0123456789";
    const std::string untilClose = "HTTP/1.0 200 OK\r\n\r\n" + std::string(3000, 'u');
    const std::string chunked =
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nWiki\r\n0\r\n\r\n";
    const std::string html = "<HTML>\r\n<body>old</body>\r\n";
    for (const std::string& bytes :
         {counted, counted + "HTTP/1.0 extra", untilClose, chunked, html}) {
        const Outcome buffered = read(bytes);
        for (const size_t piece : {size_t{1}, size_t{3}, size_t{7}, size_t{64}, size_t{5000}})
            EXPECT_EQ(readDirect(bytes, piece), buffered) << bytes.substr(0, 20) << " by " << piece;
    }
    EXPECT_EQ(readDirect(counted, 4, ResponseTo::Head), read(counted, ResponseTo::Head));
}

TEST(HttpResponseReader, DirectRoomIsWhatTheBodyStillMayTake) {
    HttpResponseReader reader;
    reader.reset(ResponseTo::Get);
    EXPECT_EQ(reader.directRoom(), 0u);
    reader.append("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n012");
    Outcome out;
    EXPECT_EQ(reader.next(), HttpResponseReader::Event::HeaderLine);
    EXPECT_EQ(reader.directRoom(), 0u) << "in the header";
    EXPECT_EQ(reader.next(), HttpResponseReader::Event::HeaderLine);
    EXPECT_EQ(reader.next(), HttpResponseReader::Event::HeaderEnd);
    EXPECT_EQ(reader.directRoom(), 0u) << "bytes are buffered";
    drain(reader, out);
    EXPECT_EQ(out.body, "012");
    EXPECT_EQ(reader.directRoom(), 7u);

    // More than the body may take is cut to what it still misses.
    const std::string mine = "3456789XYZ";
    reader.commitDirect(mine.data(), mine.size());
    EXPECT_EQ(reader.directRoom(), 0u) << "a piece is pending";
    EXPECT_EQ(reader.next(), HttpResponseReader::Event::Data);
    EXPECT_EQ(reader.size(), 7u);
    EXPECT_EQ(reader.next(), HttpResponseReader::Event::DocumentEnd);
    EXPECT_EQ(reader.directRoom(), 0u) << "after the end";

    // A response begun anew forgets a piece that was never handed out.
    reader.reset(ResponseTo::Get);
    reader.append("HTTP/1.0 200 OK\r\n\r\n");
    drain(reader, out);
    EXPECT_EQ(reader.directRoom(), std::numeric_limits<size_t>::max());
    reader.commitDirect(mine.data(), 2);
    reader.beginResponse(ResponseTo::Get);
    EXPECT_EQ(reader.directRoom(), 0u);
    EXPECT_EQ(reader.next(), HttpResponseReader::Event::NeedMore);

    reader.reset(ResponseTo::Get);
    reader.append("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
    drain(reader, out);
    EXPECT_EQ(reader.directRoom(), 0u) << "chunked bodies are always buffered";
}

} // namespace
} // namespace fetchora
