// Address splitting and link resolution of TParseURL.
#include "queue/parse_url.h"

#include "platform/errors.h"
#include "platform/text.h"

#include <algorithm>

namespace fetchora {

namespace {

constexpr size_t kMaxPasswordLength = 1000;

// The parts of s between slashes. An empty s has no parts; otherwise every "/" ends a
// part, so a final "/" leaves an empty last part.
std::vector<std::string> splitAtSlashes(const std::string& s) {
    std::vector<std::string> parts;
    if (s.empty())
        return parts;
    size_t start = 0;
    for (;;) {
        const size_t slash = s.find('/', start);
        if (slash == std::string::npos) {
            parts.push_back(s.substr(start));
            return parts;
        }
        parts.push_back(s.substr(start, slash - start));
        start = slash + 1;
    }
}

const std::string& partAt(const std::vector<std::string>& parts, size_t index) {
    if (index >= parts.size())
        throw ListError(static_cast<int>(index));
    return parts[index];
}

// A byte that the comma-text reader skips: a blank or a control character.
bool isBlank(char c) {
    const auto b = static_cast<unsigned char>(c);
    return b >= 1 && b <= ' ';
}

void lowerAsciiInPlace(std::string& s, size_t from = 0, size_t to = std::string::npos) {
    to = std::min(to, s.size());
    for (size_t i = from; i < to; ++i) {
        if (s[i] >= 'A' && s[i] <= 'Z')
            s[i] = static_cast<char>(s[i] - 'A' + 'a');
    }
}

} // namespace

void TParseURL::clear_() {
    FileName.clear();
    Extension.clear();
    Folders.clear();
    Host.clear();
    Protocol.clear();
    Port = 0;
    Query.clear();
    UserName.clear();
    Password.clear();
}

void TParseURL::Parse(const std::string& url) {
    clear_();

    std::string s = url;
    const size_t question = s.find('?');
    if (question != std::string::npos) {
        Query = s.substr(question + 1);
        s.erase(question);
    }

    // splitAtSlashes already leaves the empty part after a final "/".
    const std::vector<std::string> parts = splitAtSlashes(s);

    Protocol = text::asciiLowerCase(partAt(parts, 0));
    const size_t colon = Protocol.find(':');
    if (colon != std::string::npos)
        Protocol.erase(colon, 1);

    if (Protocol == "http")
        Port = 80;
    else if (Protocol == "https")
        Port = 443;

    Host = partAt(parts, 2);

    const size_t at = Host.find('@');
    if (at != std::string::npos) {
        const std::string userInfo = Host.substr(0, at);
        Host.erase(0, at + 1);
        const size_t separator = userInfo.find(':');
        if (separator != std::string::npos) {
            Password = userInfo.substr(separator + 1, kMaxPasswordLength);
            UserName = userInfo.substr(0, separator);
        } else {
            Password = userInfo.substr(0, kMaxPasswordLength);
        }
    }

    lowerAsciiInPlace(Host);
    const size_t portColon = Host.find(':');
    if (portColon != std::string::npos) {
        Port = strToInt(Host.substr(portColon + 1));
        Host.erase(portColon);
    }

    // parts holds at least three entries here, the host being the third.
    Folders.assign(parts.begin() + 3, parts.end());
    if (!Folders.empty())
        Folders.pop_back();

    FileName = parts.back();

    const size_t dot = FileName.find('.');
    if (dot != std::string::npos)
        Extension = FileName.substr(dot + 1);
}

namespace {

// True when s begins with prefix (written in lower case), without regard to the case of
// A to Z.
bool startsWithText(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const char c = s[i] >= 'A' && s[i] <= 'Z' ? static_cast<char>(s[i] - 'A' + 'a') : s[i];
        if (c != prefix[i])
            return false;
    }
    return true;
}

bool isAbsoluteLink(std::string_view link) {
    return startsWithText(link, "http:") || startsWithText(link, "https:");
}

} // namespace

std::string TParseURL::Resolve(const std::string& base, const std::string& link,
                               bool omitCredentials) {
    // An absolute link never needs the page address, which then need not parse.
    if (isAbsoluteLink(link))
        return lowerSchemeAndHost(link);
    Parse(base);
    return ResolveParsed(link, omitCredentials);
}

std::string TParseURL::ResolveParsed(const std::string& link, bool omitCredentials) const {
    // The link's prefixes are tested without regard to case; the link itself keeps its
    // case, and the scheme and host of the page are lower-case already.
    const auto linkStarts = [&link](std::string_view prefix) {
        return startsWithText(link, prefix);
    };
    if (isAbsoluteLink(link))
        return lowerSchemeAndHost(link);

    // Built in one string: a page scan resolves thousands.
    std::string result;
    result.reserve(Protocol.size() + 3 + UserName.size() + Password.size() + 2 + Host.size() + 64 +
                   link.size());
    result += Protocol;
    result += "://";
    if (!UserName.empty() && !omitCredentials) {
        result += UserName;
        result += ':';
        result += Password;
        result += '@';
    }
    result += Host;
    // The page's own port stays: a relative link on a server at port 8080 names a file of
    // that server, not of another one at the protocol's default port.
    const int defaultPort = Protocol == "https" ? 443 : 80;
    if (Port > 0 && Port != defaultPort) {
        result += ':';
        result += std::to_string(Port);
    }

    if (linkStarts("/cgi-bin")) {
        result += link;
    } else if (linkStarts("cgi-bin")) {
        // Scripts live under the host's root, not under the page's folder.
        result += '/';
        result += link;
    } else if (linkStarts("/")) {
        result += link;
    } else {
        for (const std::string& folder : Folders) {
            result += '/';
            result += folder;
        }
        if (!link.empty()) {
            result += '/';
            result += link;
        }
    }
    return result;
}

std::string lowerSchemeAndHost(std::string_view url) {
    std::string result(url);
    const size_t slashes = result.find("//");
    if (slashes == std::string::npos) {
        // No host: only a scheme before the first ":" is lower-cased.
        lowerAsciiInPlace(result, 0, result.find(':'));
        return result;
    }
    lowerAsciiInPlace(result, 0, slashes);
    // The host part runs up to the path or the query, where Parse ends it too; credentials
    // in front of the host end at its last "@" and keep their case.
    const size_t begin = slashes + 2;
    const size_t end = std::min(result.find_first_of("/?", begin), result.size());
    const size_t at = std::string_view(result).substr(begin, end - begin).rfind('@');
    lowerAsciiInPlace(result, at == std::string::npos ? begin : begin + at + 1, end);
    return result;
}

bool TParseURL::HasType(const std::string& typeList) const {
    const std::string x = text::asciiLowerCase(Extension);
    for (const std::string& item : splitCommaText(text::asciiLowerCase(typeList))) {
        if (text::ansiSameText(item, x))
            return true;
    }
    return false;
}

std::vector<std::string> splitCommaText(const std::string& text) {
    std::vector<std::string> items;
    // A NUL byte ends the text, as it ended the C string the format was made for.
    const std::string s = text.substr(0, text.find('\0'));
    const size_t n = s.size();
    size_t p = 0;
    while (p < n && isBlank(s[p]))
        ++p;
    while (p < n) {
        std::string item;
        if (s[p] == '"') {
            // A quoted item: "" inside stands for one quote; an unclosed quote runs to the end.
            ++p;
            while (p < n) {
                if (s[p] == '"') {
                    if (p + 1 < n && s[p + 1] == '"') {
                        item += '"';
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                item += s[p];
                ++p;
            }
        } else {
            const size_t start = p;
            while (p < n && !isBlank(s[p]) && s[p] != ',')
                ++p;
            item = s.substr(start, p - start);
        }
        items.push_back(item);
        while (p < n && isBlank(s[p]))
            ++p;
        if (p < n && s[p] == ',') {
            if (p + 1 == n)
                items.emplace_back();
            do {
                ++p;
            } while (p < n && isBlank(s[p]));
        }
    }
    return items;
}

} // namespace fetchora
