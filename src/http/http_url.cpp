// The URL splitters of the client and the request helpers: the client's reading of a
// request URL into protocol, credentials, host, port and path, and the host part with
// its credential part as the helpers insert and keep credentials.
#include "http/http_url.h"

#include "platform/text.h"

namespace fetchora {

namespace {

bool isSchemeChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

} // namespace

THttpUrlParts ParseHttpURL(const std::string& url) {
    THttpUrlParts parts;
    size_t authorityStart = 0;
    bool schemeRead = false;
    const size_t separator = url.find("://");
    if (separator != std::string::npos) {
        const std::string scheme = text::asciiLowerCase(std::string_view(url).substr(0, separator));
        bool valid = true;
        for (const char c : scheme)
            valid = valid && isSchemeChar(c);
        if (valid) {
            parts.Proto = scheme;
            authorityStart = separator + 3;
            schemeRead = true;
        } else {
            parts.Proto = "http"; // and read as if there were no "://"
        }
    }
    if (!schemeRead) {
        if (!url.empty() && url[0] == '/') {
            parts.Proto = "http";
            if (url.size() < 2 || url[1] != '/') {
                parts.Path = url;
                return parts;
            }
            authorityStart = 2;
        } else if (url.size() >= 5 &&
                   text::asciiSameText(std::string_view(url).substr(0, 5), "http:")) {
            parts.Proto = "http";
            if (url.size() < 7 || url[6] != '/') {
                parts.Path = url.substr(5);
                return parts;
            }
            authorityStart = 5;
        }
    }
    const size_t authorityEnd = url.find_first_of("/?", authorityStart);
    const std::string authority = url.substr(authorityStart, authorityEnd == std::string::npos
                                                                 ? std::string::npos
                                                                 : authorityEnd - authorityStart);
    if (authorityEnd != std::string::npos)
        parts.Path = url.substr(authorityEnd);

    const size_t at = authority.rfind('@');
    const size_t colon = authority.rfind(':');
    const size_t hostStart = at == std::string::npos ? 0 : at + 1;
    if (colon != std::string::npos && (at == std::string::npos || colon > at)) {
        parts.Port = authority.substr(colon + 1);
        parts.Host = authority.substr(hostStart, colon - hostStart);
    } else {
        parts.Host = authority.substr(hostStart);
    }
    // Host names compare without case (RFC 3986, 6.2.2.1); the path, the query and the
    // credentials keep theirs.
    parts.Host = text::asciiLowerCase(parts.Host);
    if (at != std::string::npos) {
        const std::string userInfo = authority.substr(0, at);
        const size_t split = userInfo.find(':');
        if (split == std::string::npos) {
            parts.User = userInfo;
        } else {
            parts.User = userInfo.substr(0, split);
            parts.Pass = userInfo.substr(split + 1);
        }
    }
    return parts;
}

UrlHostPart findHostPart(std::string_view url) {
    UrlHostPart part;
    const size_t slashes = url.find("//");
    if (slashes == std::string_view::npos)
        return part;
    part.begin = slashes + 2;
    part.end = std::min(url.find('/', part.begin), url.size());
    // The last "@" of the host part, as the client reads it: a password may hold one.
    const size_t at = url.substr(part.begin, part.end - part.begin).rfind('@');
    if (at != std::string_view::npos)
        part.credentialEnd = part.begin + at + 1;
    return part;
}

std::string replaceCredentials(const std::string& url, const std::string& user,
                               const std::string& password) {
    const UrlHostPart part = findHostPart(url);
    if (!part.found())
        return url;
    const size_t rest = part.hasCredentials() ? part.credentialEnd : part.begin;
    return url.substr(0, part.begin) + user + ":" + password + "@" + url.substr(rest);
}

} // namespace fetchora
