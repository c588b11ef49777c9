// Fuzzes the page scan: the input, cut at its first NUL into a page address and a page
// text, is scanned into an empty list and then once more into the same list. Only the
// resolver's errors may leave the scan, and only for an address it cannot split; after a
// scan every address is absolute, none is there twice, and the list is ordered by Number.
#include "gallery/page_scan.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "queue/parse_url.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

namespace {

using fetchora::THyperLinkList;

void check(bool condition, const char* what) {
    if (condition)
        return;
    std::fprintf(stderr, "page_scan_fuzz: %s\n", what);
    std::abort();
}

bool isAbsolute(const std::string& url, const std::string& prefix) {
    using fetchora::text::startsWith;
    return startsWith(url, "http:") || startsWith(url, "https:") || startsWith(url, prefix);
}

void checkList(const THyperLinkList& list, const std::string& prefix) {
    std::set<std::string> seen;
    for (int i = 0; i < list.count(); ++i) {
        const fetchora::THyperLink& e = list.GetLink(i);
        check(e.Kind == fetchora::kLinkKind || e.Kind == fetchora::kImageKind, "unknown Kind");
        check(isAbsolute(e.URL, prefix), "an address is not resolved");
        check(e.URL == fetchora::lowerSchemeAndHost(e.URL),
              "an address holds upper case in its scheme or host");
        check(seen.insert(fetchora::text::ansiLowerCase(e.URL)).second,
              "an address is there twice");
        check(e.Tag.find_first_of("\r\n\t") == std::string::npos, "a tag holds a line character");
        if (e.Kind == fetchora::kImageKind)
            check(e.Description == fetchora::kImageDescription, "an image's description");
        else
            check(e.Description.size() <= fetchora::kDescriptionLimit, "a description too long");
        if (i > 0)
            check(list.GetLink(i - 1).Number <= e.Number, "the list is not ordered by Number");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t nul = input.find('\0');
    const std::string pageURL = input.substr(0, nul);
    const std::string pageText = nul == std::string::npos ? std::string() : input.substr(nul + 1);

    std::string prefix;
    bool parses = true;
    try {
        fetchora::TParseURL base;
        base.Parse(pageURL);
        prefix = fetchora::text::asciiLowerCase(base.Protocol + "://");
    } catch (const fetchora::Error&) {
        parses = false;
    }

    THyperLinkList list;
    fetchora::TPageScanner scanner;
    scanner.PageURL = pageURL;
    scanner.PageText = pageText;
    try {
        scanner.ScanPage(list);
    } catch (const fetchora::Error&) {
        check(!parses, "the scan failed on a page address that parses");
        return 0;
    }
    check(scanner.PageText.size() == pageText.size(), "the page text changed its length");
    checkList(list, prefix);

    // The same page again finds nothing new: every address is already there.
    const int before = list.count();
    scanner.ScanPage(list);
    check(list.count() == before, "a second scan of the page added entries");
    checkList(list, prefix);
    return 0;
}
