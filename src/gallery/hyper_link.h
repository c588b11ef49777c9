// THyperLink, one link or image found on a page, and THyperLinkList, the owning list of
// them that the gallery keeps, with the two orders its scans sort by.
#pragma once

#include "util/owning_list.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fetchora {

// The kinds of a found entry.
inline constexpr int kLinkKind = 1;  // an anchor tag
inline constexpr int kImageKind = 2; // an image tag

class THyperLink final {
public:
    // Link: the text that follows the tag. Image: "[Image]".
    std::string Description;
    // The address; absolute once the scan has resolved it.
    std::string URL;
    // The whole matched tag without CR, LF and TAB.
    std::string Tag;
    // The number of entries in the list right after this one was appended.
    int Number = 0;
    // The address of the page the entry was found on.
    std::string BaseURL;
    // kLinkKind or kImageKind.
    int Kind = 0;
};

// What the duplicate removal needs of an entry: a hash of its case-folded URL (equal for
// addresses that are equal without regard to case) and its Number.
struct TLinkKey {
    std::uint64_t hash;
    int number;
};
TLinkKey linkKey(const THyperLink& entry);

// A comparison for sorting: negative, zero or positive.
using TLinkCompare = int (*)(const THyperLink& a, const THyperLink& b);

// Byte-wise comparison of the two URL values (case-sensitive, shorter prefix first).
int CompareLinkURL(const THyperLink& a, const THyperLink& b);
// Ascending by Number: 1, -1 or 0.
int CompareLinkNumber(const THyperLink& a, const THyperLink& b);

class THyperLinkList final : public TOwningList<THyperLink> {
public:
    // Appends an empty entry whose Number is the count after the append, and returns it.
    THyperLink& AddLink();
    // The entry at a 0-based index; ListError outside the list.
    THyperLink& GetLink(int index) { return at(index); }
    const THyperLink& GetLink(int index) const { return at(index); }

    // Sorts the whole list by compare (entries that compare equal keep their order).
    void Sort(TLinkCompare compare);

    // Frees every entry whose URL equals another's without regard to case, keeping the
    // one with the lowest Number (the first found), then orders the list by Number.
    void RemoveDuplicateURLs();
    // The same with keys[i] = linkKey(GetLink(i)) given by a caller that had the entries
    // at hand; afterwards keys follows the entries that stayed.
    void RemoveDuplicateURLs(std::vector<TLinkKey>& keys);
};

} // namespace fetchora
