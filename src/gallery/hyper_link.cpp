// The owning list of found links: appending with sequence numbers, sorting, and the
// duplicate removal of the page scan.
#include "gallery/hyper_link.h"

#include "platform/text.h"

#include <algorithm>
#include <numeric>
#include <vector>

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
    std::stable_sort(
        entries().begin(), entries().end(),
        [compare](const std::unique_ptr<THyperLink>& a, const std::unique_ptr<THyperLink>& b) {
            return compare(*a, *b) < 0;
        });
}

void THyperLinkList::RemoveDuplicateURLs() {
    auto& all = entries();
    const std::size_t n = all.size();
    // Sorting by the case-folded address brings every spelling of one address together;
    // within a group the lowest Number, then the earlier position, comes first and stays.
    std::vector<std::string> keys;
    keys.reserve(n);
    for (const auto& entry : all)
        keys.push_back(text::ansiLowerCase(entry->URL));
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        if (const int c = keys[a].compare(keys[b]); c != 0)
            return c < 0;
        if (all[a]->Number != all[b]->Number)
            return all[a]->Number < all[b]->Number;
        return a < b;
    });
    std::vector<bool> drop(n, false);
    for (std::size_t i = 1; i < n; ++i) {
        if (keys[order[i]] == keys[order[i - 1]])
            drop[order[i]] = true;
    }
    std::vector<std::unique_ptr<THyperLink>> kept;
    kept.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (!drop[i])
            kept.push_back(std::move(all[i]));
    }
    all = std::move(kept);
    Sort(CompareLinkNumber);
}

} // namespace fetchora
