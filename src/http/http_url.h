// The URL splitters shared by the HTTP client and the request helpers: ParseHttpURL, the
// client's reading of a URL, and findHostPart, the host part after the first "//" with
// its credential part, where the helpers insert credentials.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace fetchora {

// A URL split into its parts as the client reads it.
struct THttpUrlParts {
    std::string Proto; // lowercased; empty when the URL names none
    std::string User;
    std::string Pass;
    std::string Host; // lowercased (A to Z)
    std::string Port; // empty when the URL names none
    std::string Path; // from the first "/" or "?" after the host; may be empty
};

// Splits a URL into protocol, user, password, host, port and path: the authority runs
// from after "://" up to the first "/" or "?"; in it the last "@" ends the credentials
// (user and password split at their first ":") and a ":" after it starts the port.
THttpUrlParts ParseHttpURL(const std::string& url);

// The host part of an address: from after its first "//" up to the next "/" or the end.
// Its credential part "user:password@" runs up to and including the last "@" in it, where
// the client's reading ends the credentials too.
// Offsets into the address; begin is npos when there is no "//".
struct UrlHostPart {
    size_t begin = std::string_view::npos;
    size_t end = std::string_view::npos;
    size_t credentialEnd = std::string_view::npos; // one past the "@"; npos when none
    bool found() const { return begin != std::string_view::npos; }
    bool hasCredentials() const { return credentialEnd != std::string_view::npos; }
};
UrlHostPart findHostPart(std::string_view url);

// url with "user:password@" in front of its host part, in place of any credential part it
// had; unchanged when it has no "//".
std::string replaceCredentials(const std::string& url, const std::string& user,
                               const std::string& password);

} // namespace fetchora
