// The page scan: turns the HTML text of one page into link and image entries of a
// THyperLinkList with four fixed patterns, resolving every address against the page's
// final address. TPageScanner holds the page address, the page text and the HTTP client
// that the gallery supplies; a test or a fuzzer drives ScanPage with text and address.
#pragma once

#include "gallery/hyper_link.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace fetchora {

class THttpClient;

// The most characters a link's description takes from the text after its tag.
inline constexpr std::size_t kDescriptionLimit = 100;
// The description of every image entry.
inline constexpr const char* kImageDescription = "[Image]";

class TPageScanner final {
public:
    // Without a client ScanPage resolves against PageURL as it is set; with one it takes
    // the client's Location (the address after any relocation), and LoadPage fetches
    // through it.
    explicit TPageScanner(THttpClient* client = nullptr) : HttpClient1(client) {}

    // The address that links are resolved against.
    std::string PageURL;
    // The text of the page being scanned; apostrophes become double quotes in the scan.
    std::string PageText;
    // The client of the page fetch (not owned; may be null for a scan without a fetch).
    THttpClient* HttpClient1;

    // Fetches url through the client (FetchPage) and scans it into list. An error of the
    // fetch or the scan is shown with Show information; entries appended before it stay.
    void LoadPage(THyperLinkList& list, const std::string& url);

    // Appends the anchors and images of PageText to list, resolves their addresses and
    // removes duplicate addresses over the whole list, which ends ordered by Number.
    // Throws what the resolver raises for a page address it cannot split.
    void ScanPage(THyperLinkList& list);
};

// The description of an anchor: from position start (0-based, right after the tag's
// ">") up to the next "<", the end of text or kDescriptionLimit characters, whichever
// comes first; entities decoded, then trimmed of characters with codes 0 to 32.
std::string TextAfterTag(std::string_view text, std::size_t start);

// Replaces the twelve named entities (letters in any case) by their Windows-1252
// characters, one entity after another: &nbsp; &lt; &gt; &amp; &quot; &apos; &cent;
// &pound; &yen; &reg; &times; &divide;. No other entity and no numeric reference.
std::string DecodeEntities(std::string_view text);

} // namespace fetchora
