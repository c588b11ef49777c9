// The owning list of found links: appending with sequence numbers, sorting, and the
// duplicate removal of the page scan.
#include "gallery/hyper_link.h"

#include "platform/text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
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

namespace {

unsigned char foldByte(char c) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80)
        return b >= 'A' && b <= 'Z' ? static_cast<unsigned char>(b + ('a' - 'A')) : b;
    return text::ansiLower(b);
}

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

// Eight bytes folded at once: ASCII upper-case letters gain 0x20; a word with a byte
// above 127 is folded byte by byte.
std::uint64_t foldWord(std::uint64_t w) {
    if ((w & kHighBits) != 0) {
        std::uint64_t folded = 0;
        for (int shift = 0; shift < 64; shift += 8)
            folded |= std::uint64_t{foldByte(static_cast<char>((w >> shift) & 0xFF))} << shift;
        return folded;
    }
    const std::uint64_t atLeastA = w + (0x80 - 'A') * kOnes;
    const std::uint64_t aboveZ = w + (0x80 - 'Z' - 1) * kOnes;
    const std::uint64_t upper = atLeastA & ~aboveZ & kHighBits;
    return w | (upper >> 2);
}

// A hash of the case-folded bytes, eight at a time: addresses that are equal without
// regard to case hash alike.
std::uint64_t foldedHashOf(const std::string& s) {
    constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ULL;
    std::uint64_t hash = s.size() * kMultiplier;
    std::size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        std::uint64_t w = 0;
        std::memcpy(&w, s.data() + i, 8);
        hash = (hash ^ foldWord(w)) * kMultiplier;
        hash ^= hash >> 29;
    }
    if (i < s.size()) {
        std::uint64_t w = 0;
        std::memcpy(&w, s.data() + i, s.size() - i);
        hash = (hash ^ foldWord(w)) * kMultiplier;
        hash ^= hash >> 29;
    }
    return hash;
}

int foldedCompare(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = foldByte(a[i]);
        const unsigned char y = foldByte(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

bool sameFolded(const std::string& a, const std::string& b) {
    return a == b || (a.size() == b.size() && foldedCompare(a, b) == 0);
}

struct DuplicateKey {
    std::uint64_t hash;
    int number;
    std::size_t index;
};

// The part of the hash that the sort orders by; addresses that share it but differ are
// told apart when their run is sorted by the addresses themselves.
std::uint32_t sortKey(const DuplicateKey& key) {
    return static_cast<std::uint32_t>(key.hash);
}

// Orders the keys by sortKey: a least-significant-digit radix sort, one byte per pass,
// linear in the number of keys. Passes where every key has the same byte are skipped.
void sortByHash(std::vector<DuplicateKey>& keys) {
    std::vector<DuplicateKey> other(keys.size());
    for (int shift = 0; shift < 32; shift += 8) {
        std::array<std::size_t, 257> offsets{};
        for (const DuplicateKey& key : keys)
            ++offsets[((sortKey(key) >> shift) & 0xFF) + 1];
        if (std::find(offsets.begin(), offsets.end(), keys.size()) != offsets.end())
            continue;
        for (std::size_t b = 1; b < offsets.size(); ++b)
            offsets[b] += offsets[b - 1];
        for (const DuplicateKey& key : keys)
            other[offsets[(sortKey(key) >> shift) & 0xFF]++] = key;
        keys.swap(other);
    }
}

} // namespace

TLinkKey linkKey(const THyperLink& entry) {
    return {foldedHashOf(entry.URL), entry.Number};
}

void THyperLinkList::RemoveDuplicateURLs() {
    std::vector<TLinkKey> keys;
    keys.reserve(entries().size());
    for (const auto& entry : entries())
        keys.push_back(linkKey(*entry));
    RemoveDuplicateURLs(keys);
}

void THyperLinkList::RemoveDuplicateURLs(std::vector<TLinkKey>& linkKeys) {
    auto& all = entries();
    const std::size_t n = all.size();
    if (linkKeys.size() != n) {
        linkKeys.clear();
        for (const auto& entry : all)
            linkKeys.push_back(linkKey(*entry));
    }
    // Sorting by the hash of the case-folded address brings every spelling of one address
    // together; a run of equal sort keys that holds more than one address is then sorted
    // by the folded address itself. Of each address the entry with the lowest Number, then
    // the earlier position, stays.
    std::vector<DuplicateKey> keys;
    keys.reserve(n);
    for (std::size_t i = 0; i < n; ++i)
        keys.push_back({linkKeys[i].hash, linkKeys[i].number, i});
    sortByHash(keys);

    const auto url = [&](const DuplicateKey& k) -> const std::string& { return all[k.index]->URL; };
    const auto first = [](const DuplicateKey& a, const DuplicateKey& b) {
        if (a.number != b.number)
            return a.number < b.number;
        return a.index < b.index;
    };
    std::vector<bool> drop(n, false);
    bool any = false;
    for (std::size_t runStart = 0; runStart < n;) {
        std::size_t runEnd = runStart + 1;
        while (runEnd < n && sortKey(keys[runEnd]) == sortKey(keys[runStart]))
            ++runEnd;
        if (runEnd - runStart == 1) {
            runStart = runEnd;
            continue;
        }
        any = true;
        const auto begin = keys.begin() + static_cast<std::ptrdiff_t>(runStart);
        const auto end = keys.begin() + static_cast<std::ptrdiff_t>(runEnd);
        // A run is nearly always one address.
        bool oneAddress = true;
        for (auto k = begin + 1; k != end && oneAddress; ++k)
            oneAddress = sameFolded(url(*k), url(*begin));
        if (oneAddress) {
            const auto keep = std::min_element(begin, end, first);
            for (auto k = begin; k != end; ++k)
                drop[k->index] = k != keep;
        } else {
            std::sort(begin, end, [&](const DuplicateKey& a, const DuplicateKey& b) {
                if (const int c = foldedCompare(url(a), url(b)); c != 0)
                    return c < 0;
                return first(a, b);
            });
            for (auto k = begin + 1; k != end; ++k)
                drop[k->index] = foldedCompare(url(*k), url(*(k - 1))) == 0;
        }
        runStart = runEnd;
    }
    if (any) {
        std::size_t kept = 0;
        for (std::size_t i = 0; i < n; ++i) {
            if (drop[i])
                continue;
            linkKeys[kept] = linkKeys[i];
            all[kept++] = std::move(all[i]);
        }
        all.resize(kept);
        linkKeys.resize(kept);
    }
    const auto numbered = [](const TLinkKey& a, const TLinkKey& b) { return a.number < b.number; };
    if (std::is_sorted(linkKeys.begin(), linkKeys.end(), numbered))
        return;
    // Ordered by Number as Sort(CompareLinkNumber) would, equal numbers keeping their
    // order, through the keys rather than the entries themselves.
    std::vector<std::size_t> order(all.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return linkKeys[a].number < linkKeys[b].number;
    });
    Entries sorted;
    std::vector<TLinkKey> sortedKeys;
    sortedKeys.reserve(all.size());
    for (const std::size_t i : order) {
        sorted.push_back(std::move(all[i]));
        sortedKeys.push_back(linkKeys[i]);
    }
    all = std::move(sorted);
    linkKeys = std::move(sortedKeys);
}

} // namespace fetchora
