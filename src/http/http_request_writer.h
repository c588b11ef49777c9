// The HTTP client's request composer: the header lines of a request in their fixed order,
// each left out when its value is empty, and the bytes that go on the wire.
#pragma once

#include <string>
#include <vector>

namespace fetchora {

// Everything a request header is made of. Values are what follows "Name: "; empty ones
// leave their line out.
struct HttpRequestHead {
    std::string method;  // "GET", "HEAD"
    std::string path;    // path, or the absolute URL through a proxy
    std::string version; // "1.0" or "1.1"
    std::string sender;  // From
    std::string accept;
    std::string reference; // Referer
    std::string connection;
    std::string acceptLanguage;
    std::string agent; // User-Agent
    std::string targetHost;
    std::string targetPort;         // left off the Host line when empty or the default
    std::string defaultPort = "80"; // the port the request's protocol means by default
    bool noCache = false;
    std::string proxyConnection;
    std::string authorization;      // "Basic ..." or "NTLM ..."
    std::string proxyAuthorization; // likewise
    std::string cookie;
    std::string rangeBegin;
    std::string rangeEnd;
};

// The header lines, request line first, without line ends and without the empty line.
std::vector<std::string> composeRequestLines(const HttpRequestHead& head);

// The request that opens a tunnel through a proxy (RFC 7231, 4.3.6): "CONNECT host:port",
// the agent, the Host line naming the same, and the proxy's own lines. path holds
// "host:port".
std::vector<std::string> composeConnectLines(const HttpRequestHead& head);

// The lines, each followed by CR LF, then the empty line that ends the header.
std::string serializeRequest(const std::vector<std::string>& lines);

} // namespace fetchora
