// Fuzzes the address splitters of the queue: the input, cut at its first two NUL bytes
// into a page address, a link and a type list, goes through TParseURL (Parse, Resolve,
// HasType), the comma-text reader and TAuthURL. Only the system's own errors may leave
// them, and what they return must hold together.
#include "platform/errors.h"
#include "platform/text.h"
#include "queue/credentials.h"
#include "queue/parse_url.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using fetchora::TParseURL;

void check(bool condition, const char* what) {
    if (condition)
        return;
    std::fprintf(stderr, "url_parser_fuzz: %s\n", what);
    std::abort();
}

bool hasUpperAscii(const std::string& s) {
    for (const char c : s) {
        if (c >= 'A' && c <= 'Z')
            return true;
    }
    return false;
}

bool hasAnyOf(const std::string& s, const char* bytes) {
    return s.find_first_of(bytes) != std::string::npos;
}

size_t countOf(const std::string& s, char c) {
    size_t n = 0;
    for (const char x : s)
        n += x == c ? 1 : 0;
    return n;
}

// The piece between the second and the third "/" (or the end), as both splitters see
// it for a text without "?" and line breaks; empty when there are fewer than two "/".
std::string thirdPiece(const std::string& s) {
    const size_t first = s.find('/');
    if (first == std::string::npos)
        return {};
    const size_t second = s.find('/', first + 1);
    if (second == std::string::npos)
        return {};
    const size_t third = s.find('/', second + 1);
    return s.substr(second + 1,
                    third == std::string::npos ? std::string::npos : third - second - 1);
}

bool sameFields(const TParseURL& a, const TParseURL& b) {
    return a.FileName == b.FileName && a.Extension == b.Extension && a.Folders == b.Folders &&
           a.Host == b.Host && a.Protocol == b.Protocol && a.Port == b.Port && a.Query == b.Query &&
           a.UserName == b.UserName && a.Password == b.Password;
}

// What must hold of the fields after Parse(url) succeeded.
void checkParsed(const TParseURL& p, const std::string& url) {
    check(!hasUpperAscii(p.Protocol), "Protocol holds an upper-case letter");
    check(!hasUpperAscii(p.Host), "Host holds an upper-case letter");
    check(!hasAnyOf(p.Protocol, "/?"), "Protocol holds a separator");
    check(!hasAnyOf(p.Host, "/?:"), "Host holds a separator");
    check(!hasAnyOf(p.FileName, "/?"), "FileName holds a separator");
    for (const std::string& folder : p.Folders)
        check(!hasAnyOf(folder, "/?"), "a folder holds a separator");
    check(p.Password.size() <= 1000, "Password longer than 1000 characters");
    check(p.Extension.size() <= p.FileName.size() &&
              p.FileName.compare(p.FileName.size() - p.Extension.size(), std::string::npos,
                                 p.Extension) == 0,
          "Extension is not the end of FileName");
    const size_t question = url.find('?');
    check(question == std::string::npos ? p.Query.empty() : p.Query == url.substr(question + 1),
          "Query is not the text after the first ?");
    // A port is taken only from the host piece; without one the scheme decides.
    const std::string piece = thirdPiece(url.substr(0, question));
    const size_t at = piece.find('@');
    const std::string afterAt = at == std::string::npos ? piece : piece.substr(at + 1);
    if (afterAt.find(':') == std::string::npos) {
        const int expected = p.Protocol == "http" ? 80 : p.Protocol == "https" ? 443 : 0;
        check(p.Port == expected, "Port set without a port in the address");
    }
}

// The link as Resolve would see it is absolute: it comes back with its scheme and host
// lower-cased, whatever the page address is.
bool isAbsoluteHttp(const std::string& link) {
    const std::string l = fetchora::text::asciiLowerCase(link);
    return fetchora::text::startsWith(l, "http:") || fetchora::text::startsWith(l, "https:");
}

void fuzzResolve(const std::string& base, const std::string& link, bool baseParses,
                 const TParseURL& parsedBase) {
    for (const bool omitCredentials : {false, true}) {
        TParseURL p;
        std::string result;
        try {
            result = p.Resolve(base, link, omitCredentials);
        } catch (const fetchora::Error&) {
            check(!isAbsoluteHttp(link), "Resolve failed for an absolute link");
            check(!baseParses, "Resolve failed for a page address that parses");
            continue;
        }
        check(result == fetchora::lowerSchemeAndHost(result),
              "Resolve returned an upper-case letter in the scheme or host");
        if (isAbsoluteHttp(link)) {
            check(result == fetchora::lowerSchemeAndHost(link),
                  "an absolute link did not come back as itself");
            continue;
        }
        check(baseParses, "Resolve succeeded for a page address that does not parse");
        check(sameFields(p, parsedBase), "after Resolve the fields do not describe the page");

        std::string start = p.Protocol + "://";
        if (!omitCredentials && !p.UserName.empty())
            start += p.UserName + ":" + p.Password + "@";
        start += p.Host;
        check(result.compare(0, start.size(), start) == 0,
              "Resolve did not start with the page's scheme and host");

        // What Resolve gives is an address itself: it parses, on the same host.
        TParseURL again;
        try {
            again.Parse(result);
        } catch (const fetchora::Error&) {
            check(false, "the resolved address does not parse");
        }
        if (p.Host.find('@') == std::string::npos) {
            check(again.Host == fetchora::text::asciiLowerCase(p.Host),
                  "the resolved address names another host");
            // A page on a port of its own keeps it in every address resolved against it.
            const int defaultPort = p.Protocol == "https" ? 443 : 80;
            if (p.Port > 0 && p.Port != defaultPort)
                check(again.Port == p.Port, "the resolved address names another port");
        }
    }
}

void fuzzHasType(const TParseURL& p, const std::string& typeList) {
    (void)p.HasType(typeList);
    // An extension that the comma text can hold unquoted is found in a list naming it.
    const std::string& x = p.Extension;
    bool plain = !x.empty();
    for (const char c : x) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= ' ' || c == ',' || c == '"')
            plain = false;
    }
    if (plain) {
        check(p.HasType("zz0," + fetchora::text::asciiUpperCase(x)),
              "HasType missed the extension in the list");
        check(p.HasType(" " + x + " , zz0"), "HasType missed the extension between blanks");
    }
}

// Items written each in double quotes, inner quotes doubled, read back unchanged.
void fuzzCommaText(const std::string& typeList) {
    (void)fetchora::splitCommaText(typeList);
    if (typeList.find('\0') != std::string::npos)
        return;
    std::vector<std::string> items;
    size_t start = 0;
    for (;;) {
        const size_t comma = typeList.find(',', start);
        items.push_back(typeList.substr(start, comma == std::string::npos ? comma : comma - start));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    std::string quoted;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0)
            quoted += ',';
        quoted += '"';
        for (const char c : items[i]) {
            if (c == '"')
                quoted += '"';
            quoted += c;
        }
        quoted += '"';
    }
    check(fetchora::splitCommaText(quoted) == items, "quoted items did not read back");
}

void fuzzAuthURL(const std::string& text, bool parses, const TParseURL& parsed) {
    std::string userName;
    std::string password;
    std::string server;
    try {
        const fetchora::TAuthURL auth(text);
        check(auth.URL == text, "TAuthURL changed the address");
        userName = auth.UserName;
        password = auth.Password;
        server = auth.Server;
    } catch (const fetchora::Error&) {
        return;
    }
    check(!hasAnyOf(server, "/@\r\n"), "Server holds a separator");
    check(!hasAnyOf(userName, "/@:\r\n"), "UserName holds a separator");
    check(!hasAnyOf(password, "/@:\r\n"), "Password holds a separator");

    // Where the address is plain, both splitters agree on host and credentials.
    if (!parses || hasAnyOf(text, "?\r\n"))
        return;
    const std::string piece = thirdPiece(text);
    const size_t at = piece.find('@');
    if (at != std::string::npos) {
        const std::string userInfo = piece.substr(0, at);
        if (countOf(piece, '@') != 1 || countOf(userInfo, ':') != 1 || userInfo.size() > 1000)
            return;
        check(userName == parsed.UserName, "the splitters differ on the user name");
        check(password == parsed.Password, "the splitters differ on the password");
    }
    // The parser lower-cases the host; the server of a credential keeps what was written.
    check(fetchora::text::asciiLowerCase(server.substr(0, server.find(':'))) == parsed.Host,
          "the splitters differ on the host");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t firstNul = input.find('\0');
    const std::string base = input.substr(0, firstNul);
    std::string link;
    std::string typeList;
    if (firstNul != std::string::npos) {
        const size_t secondNul = input.find('\0', firstNul + 1);
        link =
            input.substr(firstNul + 1, secondNul == std::string::npos ? std::string::npos
                                                                      : secondNul - firstNul - 1);
        if (secondNul != std::string::npos)
            typeList = input.substr(secondNul + 1);
    }

    TParseURL parsed;
    bool parses = true;
    try {
        parsed.Parse(base);
    } catch (const fetchora::Error&) {
        parses = false;
    }
    if (parses) {
        checkParsed(parsed, base);
        fuzzHasType(parsed, typeList);
    }
    fuzzResolve(base, link, parses, parsed);
    fuzzCommaText(typeList);
    fuzzAuthURL(base, parses, parsed);
    fuzzAuthURL(link, false, parsed);
    return 0;
}
