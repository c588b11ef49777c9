// Request header lines in the order the client sends them (RFC 1945, section 5).
#include "http/http_request_writer.h"

namespace fetchora {

namespace {

void addField(std::vector<std::string>& lines, const char* name, const std::string& value) {
    if (!value.empty())
        lines.push_back(std::string(name) + ": " + value);
}

} // namespace

std::vector<std::string> composeRequestLines(const HttpRequestHead& head) {
    std::vector<std::string> lines;
    lines.push_back(head.method + " " + head.path + " HTTP/" + head.version);
    addField(lines, "From", head.sender);
    addField(lines, "Accept", head.accept);
    addField(lines, "Referer", head.reference);
    addField(lines, "Connection", head.connection);
    addField(lines, "Accept-Language", head.acceptLanguage);
    addField(lines, "User-Agent", head.agent);
    if (!head.targetHost.empty()) {
        std::string host = head.targetHost;
        if (!head.targetPort.empty() && head.targetPort != head.defaultPort)
            host += ":" + head.targetPort;
        addField(lines, "Host", host);
    }
    if (head.noCache)
        lines.emplace_back("Pragma: no-cache");
    addField(lines, "Proxy-Connection", head.proxyConnection);
    addField(lines, "Authorization", head.authorization);
    addField(lines, "Proxy-Authorization", head.proxyAuthorization);
    addField(lines, "Cookie", head.cookie);
    if (!head.rangeBegin.empty() || !head.rangeEnd.empty())
        lines.push_back("Range: bytes=" + head.rangeBegin + "-" + head.rangeEnd);
    return lines;
}

std::vector<std::string> composeConnectLines(const HttpRequestHead& head) {
    std::vector<std::string> lines;
    lines.push_back("CONNECT " + head.path + " HTTP/" + head.version);
    addField(lines, "User-Agent", head.agent);
    addField(lines, "Host", head.path);
    addField(lines, "Proxy-Connection", head.proxyConnection);
    addField(lines, "Proxy-Authorization", head.proxyAuthorization);
    return lines;
}

std::string serializeRequest(const std::vector<std::string>& lines) {
    std::string out;
    size_t size = 2;
    for (const auto& line : lines)
        size += line.size() + 2;
    out.reserve(size);
    for (const auto& line : lines) {
        out += line;
        out += "\r\n";
    }
    out += "\r\n";
    return out;
}

} // namespace fetchora
