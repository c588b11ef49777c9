// TParseURL: splits a web address into protocol, credentials, host, port, folders, file
// name, extension and query, resolves a link found on a page against the page's address,
// and tests an extension against a comma-separated type list.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

class TParseURL final {
public:
    // The last "/"-separated part of the address without its query; empty when the
    // address ends in "/".
    std::string FileName;
    // The text after the first "." of FileName.
    std::string Extension;
    // The folder parts between the host and the file name, in order.
    std::vector<std::string> Folders;
    // The host without user information and port, lower-case.
    std::string Host;
    // The scheme without its ":", lower-case.
    std::string Protocol;
    // 80 for http, 443 for https, the number written after the host, else 0.
    int Port = 0;
    // The text after the first "?" of the address.
    std::string Query;
    std::string UserName;
    // At most 1000 characters.
    std::string Password;

    // Fills every field from url. Throws ListError for an address of fewer than three
    // "/"-separated parts (index 2; index 0 for an empty address) and ConversionError for
    // a port that is not a decimal number; the fields set before keep their values.
    void Parse(const std::string& url);

    // The absolute address of link as found on the page at base, its scheme and host in
    // lower case and everything else as written. Parses base (so the fields then describe
    // it) unless link is already absolute.
    std::string Resolve(const std::string& base, const std::string& link, bool omitCredentials);
    // Resolve against the address that the last Parse filled the fields from, for many
    // links of one page without parsing its address again.
    std::string ResolveParsed(const std::string& link, bool omitCredentials) const;

    // True when Extension is one of the comma-separated types of typeList, without
    // regard to case. Call it after Parse.
    bool HasType(const std::string& typeList) const;

private:
    void clear_();
};

// The address with its scheme and its host lower-cased (A to Z only) and every other part
// (user name and password, port, path, query) as written: two spellings of one server
// become one, while a path keeps naming the resource a case-sensitive server has.
std::string lowerSchemeAndHost(std::string_view url);

// The items of a comma-separated text, read the way the type setting is written: blanks
// and control characters around items are skipped, double quotes enclose an item that
// holds them, two commas in a row or a final comma give an empty item.
std::vector<std::string> splitCommaText(const std::string& text);

} // namespace fetchora
