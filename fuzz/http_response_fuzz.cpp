// Feeds arbitrary bytes as a server's response through the HTTP client's response reader,
// in pieces whose sizes the input chooses, each piece copied into the reader's buffer or
// (where the reader allows it and the input asks) placed in memory of the caller's own,
// and checks that the reader never hands out more than it was given, that a piece placed
// by the caller comes back as it was, and that the body of a counted response stays
// within its length.
#include "http/http_response_reader.h"
#include "http/http_url.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using fetchora::HttpResponseReader;
    if (size < 2)
        return 0;
    // Bit 0 a HEAD, else bit 2 the answer to CONNECT, else a GET.
    auto to = (data[0] & 1) != 0 ? fetchora::ResponseTo::Head : fetchora::ResponseTo::Get;
    if (to == fetchora::ResponseTo::Get && (data[0] & 4) != 0)
        to = fetchora::ResponseTo::Connect;
    const bool direct = (data[0] & 2) != 0;
    const size_t piece = 1 + data[1];
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 2, size - 2);

    HttpResponseReader reader;
    reader.reset(to);
    size_t given = 0;
    size_t handedOut = 0;
    size_t body = 0;
    for (size_t at = 0; at < bytes.size();) {
        std::string_view part = bytes.substr(at, piece);
        // Memory of the caller's own, as the stream that a body is read into.
        std::string placed;
        const size_t room = direct ? reader.directRoom() : 0;
        if (room > 0) {
            placed.assign(part.substr(0, room));
            part = placed;
            reader.commitDirect(placed.data(), placed.size());
        } else {
            reader.append(part);
        }
        given += part.size();
        at += part.size(); // what a placed piece left over comes next
        bool placedSeen = placed.empty();
        for (;;) {
            const auto event = reader.next();
            if (event == HttpResponseReader::Event::NeedMore)
                break;
            if (event == HttpResponseReader::Event::HeaderLine) {
                if (reader.line().size() > fetchora::kMaxHeaderLineLength)
                    std::abort();
                // The client also splits what a Location names, and reads host parts.
                if (reader.lineIsField() && reader.fieldName() == "location") {
                    (void)fetchora::ParseHttpURL(reader.fieldValue());
                    (void)fetchora::replaceCredentials(reader.fieldValue(), "u", "p");
                }
                // A Content-Range taken must be numbers only: it goes on the wire again.
                if (reader.hasContentRange()) {
                    for (const std::string* value :
                         {&reader.contentRangeBegin(), &reader.contentRangeEnd()}) {
                        for (const char c : *value) {
                            if (c < '0' || c > '9')
                                std::abort();
                        }
                    }
                }
            }
            if (event == HttpResponseReader::Event::Data) {
                handedOut += reader.size();
                body += reader.size();
                if (reader.dataInPlace()) {
                    if (placedSeen || reader.data() != placed.data() ||
                        reader.size() != placed.size())
                        std::abort();
                    placedSeen = true;
                }
            }
            if (event == HttpResponseReader::Event::Surplus)
                handedOut += reader.size();
        }
        if (handedOut > given || !placedSeen)
            std::abort();
    }
    if (reader.bodyKind() == HttpResponseReader::BodyKind::Counted &&
        body > static_cast<size_t>(reader.contentLength()))
        std::abort();
    if (to == fetchora::ResponseTo::Head && body != 0 && !reader.lineIsHeaderless())
        std::abort();
    return 0;
}
