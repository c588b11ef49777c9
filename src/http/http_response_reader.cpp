// The response reader's states, one step of input at a time.
#include "http/http_response_reader.h"

#include "platform/text.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace fetchora {

namespace {

constexpr int64_t kMaxChunkSize = std::numeric_limits<int32_t>::max();

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Statuses whose response has no body unless it states a length or is chunked.
bool statusWithoutBody(int status) {
    return status < 200 || status == 204 || status == 301 || status == 302 || status == 304 ||
           status == 401 || status == 407;
}

} // namespace

HttpResponseReader::HttpResponseReader() {
    buffer_.resize(kReadBufferStep);
}

void HttpResponseReader::clearHead() {
    headerBytes_ = 0;
    statusCode_ = 0;
    reasonPhrase_.clear();
    serverVersion_.clear();
    contentLength_ = -1;
    transferEncoding_.clear();
    hasContentRange_ = false;
    contentRangeBegin_.clear();
    contentRangeEnd_.clear();
    bodyKind_ = BodyKind::None;
    remaining_ = 0;
    chunkSize_ = 0;
}

void HttpResponseReader::beginResponse(ResponseTo request) {
    request_ = request;
    state_ = State::FirstLine;
    error_.clear();
    direct_ = nullptr;
    directSize_ = 0;
    clearHead();
}

void HttpResponseReader::reset(ResponseTo request) {
    begin_ = end_ = 0;
    // A buffer that grew for one large header shrinks back to its usual size.
    if (buffer_.size() > kReadBufferStep) {
        buffer_.resize(kReadBufferStep);
        buffer_.shrink_to_fit();
    }
    beginResponse(request);
}

char* HttpResponseReader::writable(size_t& room) {
    if (begin_ == end_) {
        begin_ = end_ = 0;
    } else if (begin_ > 0 && buffer_.size() - end_ < kMinReadRoom + 1) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    while (buffer_.size() - end_ < kMinReadRoom + 1)
        buffer_.resize(buffer_.size() + kReadBufferStep);
    room = buffer_.size() - end_ - 1;
    return buffer_.data() + end_;
}

void HttpResponseReader::commit(size_t count) {
    end_ += std::min(count, buffer_.size() - end_);
}

void HttpResponseReader::append(std::string_view bytes) {
    while (!bytes.empty()) {
        size_t room = 0;
        char* at = writable(room);
        const size_t count = std::min(room, bytes.size());
        std::memcpy(at, bytes.data(), count);
        commit(count);
        bytes.remove_prefix(count);
    }
}

size_t HttpResponseReader::directRoom() const {
    if (begin_ != end_ || directSize_ != 0)
        return 0;
    if (state_ == State::CountedBody)
        return static_cast<size_t>(remaining_);
    if (state_ == State::UntilClose)
        return std::numeric_limits<size_t>::max();
    return 0;
}

void HttpResponseReader::commitDirect(const char* at, size_t count) {
    const size_t room = directRoom();
    if (count == 0 || room == 0)
        return;
    direct_ = at;
    directSize_ = std::min(count, room);
}

bool HttpResponseReader::isHeaderlessLine(std::string_view line) {
    if (line.empty() || line[0] != '<')
        return false;
    return (line.size() >= 6 && text::asciiSameText(line.substr(0, 6), "<HTML>")) ||
           (line.size() >= 9 && text::asciiSameText(line.substr(0, 9), "<!DOCTYPE"));
}

std::int64_t HttpResponseReader::parseContentLength(std::string_view value) {
    const std::string trimmed = text::trim(value);
    if (trimmed.empty())
        return -1;
    constexpr std::int64_t limit = std::numeric_limits<std::int64_t>::max();
    std::int64_t number = 0;
    for (const char c : trimmed) {
        if (!isDigit(c))
            return -1;
        const int digit = c - '0';
        if (number > (limit - digit) / 10)
            return -1;
        number = number * 10 + digit;
    }
    return number;
}

HttpResponseReader::Event HttpResponseReader::fail(const std::string& message) {
    error_ = message;
    state_ = State::Failed;
    begin_ = end_ = 0;
    return Event::Failed;
}

HttpResponseReader::Event HttpResponseReader::deliver(size_t count, Event event) {
    data_ = buffer_.data() + begin_;
    size_ = count;
    dataInPlace_ = false;
    begin_ += count;
    return event;
}

HttpResponseReader::Event HttpResponseReader::deliverDirect() {
    data_ = direct_;
    size_ = directSize_;
    dataInPlace_ = true;
    direct_ = nullptr;
    directSize_ = 0;
    return Event::Data;
}

bool HttpResponseReader::skipLine() {
    const char* start = buffer_.data() + begin_;
    const void* lf = std::memchr(start, '\n', end_ - begin_);
    if (lf == nullptr) {
        begin_ = end_ = 0;
        return false;
    }
    begin_ += static_cast<size_t>(static_cast<const char*>(lf) - start) + 1;
    return true;
}

void HttpResponseReader::interpretStatusLine() {
    // "HTTP/1.x": the version is characters 6 to 8; the code is the three characters
    // from the first digit at or after the tenth, the reason what follows it after four.
    serverVersion_ = line_.substr(5, 3);
    statusCode_ = 0;
    reasonPhrase_.clear();
    size_t digit = 9;
    while (digit < line_.size() && !isDigit(line_[digit]))
        ++digit;
    if (digit >= line_.size())
        return;
    const std::string code = line_.substr(digit, 3);
    // A code that is not three digits leaves the status at 0; the response is still
    // read to its end, so the request finishes.
    if (code.size() == 3 && isDigit(code[1]) && isDigit(code[2]))
        statusCode_ = std::stoi(code);
    if (digit + 4 < line_.size())
        reasonPhrase_ = line_.substr(digit + 4);
}

void HttpResponseReader::interpretField() {
    const size_t colon = line_.find(':');
    fieldName_ = text::asciiLowerCase(std::string_view(line_).substr(0, colon));
    size_t valueStart = colon + 1;
    while (valueStart < line_.size() && line_[valueStart] == ' ')
        ++valueStart;
    fieldValue_ = line_.substr(valueStart);
    if (fieldName_ == "content-length")
        contentLength_ = parseContentLength(fieldValue_);
    else if (fieldName_ == "transfer-encoding")
        transferEncoding_ = text::asciiLowerCase(text::trim(fieldValue_));
    else if (fieldName_ == "content-range")
        hasContentRange_ = parseContentRange(fieldValue_, contentRangeBegin_, contentRangeEnd_) ||
                           hasContentRange_;
}

bool HttpResponseReader::parseContentRange(std::string_view value, std::string& first,
                                           std::string& last) {
    const auto digits = [](std::string_view text) {
        return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    const size_t dash = value.find('-');
    if (dash == std::string_view::npos || dash < 6)
        return false;
    const std::string_view begin = value.substr(6, dash - 6);
    const size_t slash = value.find('/', dash);
    const std::string_view end = value.substr(
        dash + 1, slash == std::string_view::npos ? std::string_view::npos : slash - dash - 1);
    // Byte numbers are 63-bit: more digits than that cannot be a position in a file.
    constexpr size_t maxDigits = 18;
    if (begin.empty() || !digits(begin) || !digits(end) || begin.size() > maxDigits ||
        end.size() > maxDigits)
        return false;
    first.assign(begin);
    last.assign(end);
    return true;
}

HttpResponseReader::Event HttpResponseReader::readHeaderLine() {
    const char* start = buffer_.data() + begin_;
    const size_t available = end_ - begin_;
    const void* lf = std::memchr(start, '\n', available);
    const bool first = state_ == State::FirstLine;
    if (lf == nullptr) {
        if (available <= kMaxHeaderLineLength)
            return Event::NeedMore;
        // A header-less HTML document may well have a long first line: it is body.
        if (first && isHeaderlessLine(std::string_view(start, available))) {
            line_.assign(start, kMaxHeaderLineLength);
            lineIsFirst_ = true;
            lineIsStatus_ = lineIsField_ = false;
            lineIsHeaderless_ = true;
            state_ = State::HeaderlessEnd;
            return Event::HeaderLine;
        }
        return fail("Response header line longer than " + std::to_string(kMaxHeaderLineLength) +
                    " bytes");
    }
    const auto lineLength = static_cast<size_t>(static_cast<const char*>(lf) - start);
    size_t textLength = lineLength;
    if (textLength > 0 && start[textLength - 1] == '\r')
        --textLength;
    const std::string_view lineText(start, textLength);

    if (first && isHeaderlessLine(lineText)) {
        // The line stays buffered: it is the first piece of the body.
        line_.assign(lineText.substr(0, kMaxHeaderLineLength));
        lineIsFirst_ = true;
        lineIsStatus_ = lineIsField_ = false;
        lineIsHeaderless_ = true;
        state_ = State::HeaderlessEnd;
        return Event::HeaderLine;
    }
    if (textLength > kMaxHeaderLineLength)
        return fail("Response header line longer than " + std::to_string(kMaxHeaderLineLength) +
                    " bytes");
    headerBytes_ += lineLength + 1;
    if (headerBytes_ > kMaxHeaderSize)
        return fail("Response header larger than " + std::to_string(kMaxHeaderSize) + " bytes");
    line_.assign(lineText);
    begin_ += lineLength + 1;

    if (line_.empty())
        return headerEnded();

    lineIsFirst_ = first;
    lineIsHeaderless_ = false;
    lineIsStatus_ = false;
    lineIsField_ = false;
    state_ = State::HeaderLine;
    if (first) {
        if (text::startsWith(line_, "HTTP/1.0") || text::startsWith(line_, "HTTP/1.1")) {
            lineIsStatus_ = true;
            interpretStatusLine();
        }
        // A first line of any other form sets no status.
        return Event::HeaderLine;
    }
    if (line_.find(':') != std::string::npos) {
        lineIsField_ = true;
        interpretField();
    }
    return Event::HeaderLine;
}

HttpResponseReader::Event HttpResponseReader::headerEnded() {
    if (statusCode_ == 100 && serverVersion_ == "1.1") {
        clearHead();
        state_ = State::FirstLine;
        return Event::HeaderRestart;
    }
    const bool tunnelOpened =
        request_ == ResponseTo::Connect && statusCode_ >= 200 && statusCode_ < 300;
    if (request_ == ResponseTo::Head || tunnelOpened || contentLength_ == 0) {
        bodyKind_ = BodyKind::None;
    } else if (transferEncoding_ == "chunked") {
        bodyKind_ = BodyKind::Chunked;
    } else if (contentLength_ > 0) {
        bodyKind_ = BodyKind::Counted;
    } else if (statusWithoutBody(statusCode_)) {
        bodyKind_ = BodyKind::None;
    } else {
        bodyKind_ = BodyKind::UntilClose;
    }
    switch (bodyKind_) {
    case BodyKind::None:
        state_ = State::Done;
        break;
    case BodyKind::Counted:
        remaining_ = contentLength_;
        state_ = State::CountedBody;
        break;
    case BodyKind::Chunked:
        chunkSize_ = 0;
        state_ = State::ChunkSize;
        break;
    case BodyKind::UntilClose:
        state_ = State::UntilClose;
        break;
    }
    return Event::HeaderEnd;
}

HttpResponseReader::Event HttpResponseReader::next() {
    for (;;) {
        const size_t available = end_ - begin_;
        switch (state_) {
        case State::FirstLine:
        case State::HeaderLine:
            return readHeaderLine();

        case State::HeaderlessEnd:
            bodyKind_ = BodyKind::UntilClose;
            state_ = State::UntilClose;
            return Event::HeaderEnd;

        case State::CountedBody:
            if (remaining_ == 0) {
                state_ = State::Done;
                return Event::DocumentEnd;
            }
            if (directSize_ != 0) {
                remaining_ -= static_cast<int64_t>(directSize_);
                return deliverDirect();
            }
            if (available == 0)
                return Event::NeedMore;
            {
                const size_t count = static_cast<size_t>(
                    std::min<int64_t>(remaining_, static_cast<int64_t>(available)));
                remaining_ -= static_cast<int64_t>(count);
                return deliver(count, Event::Data);
            }

        case State::ChunkSize: {
            while (begin_ < end_) {
                const int digit = text::hexDigitValue(buffer_[begin_]);
                if (digit < 0) {
                    state_ = State::ChunkSizeRest;
                    break;
                }
                chunkSize_ = chunkSize_ * 16 + digit;
                if (chunkSize_ > kMaxChunkSize)
                    return fail("Chunk size does not fit 32 bits");
                ++begin_;
            }
            if (state_ == State::ChunkSize)
                return Event::NeedMore;
            continue;
        }

        case State::ChunkSizeRest:
            if (!skipLine())
                return Event::NeedMore;
            if (chunkSize_ == 0) {
                state_ = State::Done;
                return Event::DocumentEnd;
            }
            remaining_ = chunkSize_;
            state_ = State::ChunkData;
            continue;

        case State::ChunkData:
            if (remaining_ == 0) {
                state_ = State::ChunkDataEnd;
                continue;
            }
            if (available == 0)
                return Event::NeedMore;
            {
                const size_t count = static_cast<size_t>(
                    std::min<int64_t>(remaining_, static_cast<int64_t>(available)));
                remaining_ -= static_cast<int64_t>(count);
                return deliver(count, Event::Data);
            }

        case State::ChunkDataEnd:
            if (!skipLine())
                return Event::NeedMore;
            chunkSize_ = 0;
            state_ = State::ChunkSize;
            continue;

        case State::UntilClose:
            if (directSize_ != 0)
                return deliverDirect();
            if (available == 0)
                return Event::NeedMore;
            return deliver(available, Event::Data);

        case State::Done:
            if (available == 0)
                return Event::NeedMore;
            return deliver(available, Event::Surplus);

        case State::Failed:
            begin_ = end_ = 0;
            return Event::NeedMore;
        }
    }
}

} // namespace fetchora
