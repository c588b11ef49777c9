// Probing of queue entries and the queue file's load and save rules.
#include "queue/download_list.h"

#include "platform/errors.h"
#include "platform/format.h"
#include "platform/text.h"
#include "queue/parse_url.h"
#include "queue/request_helpers.h"
#include "util/file_io.h"
#include "util/strings.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace fetchora {

bool TDownload::Probe(const std::string& text, THttpClient& client) {
    URL = text::trim(text);
    FileSize = -1;
    Downloaded = -1;
    ErrorText.clear();
    try {
        FileSize = ProbeSize(text, client);
        if (FileSize <= 0)
            throw Error("URL does not refer to a file. File size is " + std::to_string(FileSize));
        Downloaded = 0;
        TParseURL parser;
        parser.Parse(text);
        FileName = parser.FileName;
        return true;
    } catch (const std::exception& error) {
        ErrorText = format("%s [%s]", error.what(), URL.c_str());
        return false;
    }
}

TDownload& TDownloadList::Add(std::unique_ptr<TDownload> entry) {
    entry->Order = count();
    return append(std::move(entry));
}

int64_t TDownloadList::TotalSize() const {
    int64_t total = 0;
    for (const auto& entry : entries())
        total += entry->FileSize;
    return total;
}

void TDownloadList::Renumber() {
    int order = 0;
    for (const auto& entry : entries())
        entry->Order = order++;
}

bool TDownloadList::NamesUnique() const {
    std::unordered_set<std::string> names;
    names.reserve(entries().size());
    for (const auto& entry : entries()) {
        if (!names.insert(foldedKey(entry->FileName)).second)
            return false;
    }
    return true;
}

void TDownloadList::PrefixNames() {
    int index = 0;
    for (const auto& entry : entries()) {
        // "%5.5d_%s": five digits at least, so the entry at index 100000 gets six.
        entry->FileName = format("%5.5d_", index++) + entry->FileName;
    }
}

namespace {

// The next line of text from pos on, without its end (CR LF, LF or a lone CR); pos moves
// past the end. A final line break gives no empty line after it.
std::string_view nextLine(std::string_view text, size_t& pos) {
    // The next LF, then a CR before it: two scans of memory, not a test per byte.
    const size_t start = pos;
    const char* begin = text.data() + start;
    const size_t rest = text.size() - start;
    const auto* lf = static_cast<const char*>(std::memchr(begin, '\n', rest));
    const size_t lineFeed = lf != nullptr ? static_cast<size_t>(lf - begin) : rest;
    const auto* cr = static_cast<const char*>(std::memchr(begin, '\r', lineFeed));
    const size_t length = cr != nullptr ? static_cast<size_t>(cr - begin) : lineFeed;
    pos = start + length;
    if (pos < text.size()) {
        ++pos;
        if (text[pos - 1] == '\r' && pos < text.size() && text[pos] == '\n')
            ++pos;
    }
    return text.substr(start, length);
}

// Cuts the field up to the next TAB off line; the whole rest when there is none.
std::string_view takeField(std::string_view& line, bool& more) {
    const size_t tab = line.find('\t');
    more = tab != std::string_view::npos;
    const std::string_view field = line.substr(0, tab);
    line = more ? line.substr(tab + 1) : std::string_view();
    return field;
}

} // namespace

void TDownloadList::LoadFromFile(const std::string& path) {
    clear();
    const std::string content = readWholeFile(path);
    // Read in place, without a copy of the lines or of their fields.
    const std::string_view text(content);
    for (size_t pos = 0; pos < text.size();) {
        std::string_view line = nextLine(text, pos);
        if (line.empty())
            throw ListError(0);
        bool more = false;
        auto entry = std::make_unique<TDownload>();
        entry->URL = takeField(line, more);
        if (!more)
            throw ListError(1);
        entry->FileName = takeField(line, more);
        entry->Downloaded = 0;
        entry->FileSize = 0;
        if (more)
            entry->Downloaded = strToInt64Def(takeField(line, more), 0);
        if (more)
            entry->FileSize = strToInt64Def(takeField(line, more), 0);
        Add(std::move(entry));
    }
}

void TDownloadList::SaveToFile(const std::string& path) {
    // Duplicate removal: every spelling of one address meets the others in a hash table
    // of the case-folded addresses; of each address the entry added first (lowest Order,
    // then earliest place) stays. The list itself is then ordered by Order, entries with
    // equal Order keeping their places.
    auto& all = entries();
    const size_t n = all.size();
    size_t capacity = 16;
    while (capacity < 2 * n)
        capacity *= 2;
    // Slots hold an entry's index plus one; 0 is an empty slot.
    std::vector<uint32_t> slots(capacity, 0);
    std::vector<uint64_t> hashes(n);
    std::vector<bool> duplicate(n, false);
    bool any = false;
    const auto first = [&](size_t a, size_t b) {
        return all[a]->Order != all[b]->Order ? all[a]->Order < all[b]->Order : a < b;
    };
    for (size_t i = 0; i < n; ++i) {
        hashes[i] = foldedHash(all[i]->URL);
        for (size_t slot = hashes[i] & (capacity - 1);; slot = (slot + 1) & (capacity - 1)) {
            if (slots[slot] == 0) {
                slots[slot] = static_cast<uint32_t>(i + 1);
                break;
            }
            const size_t other = slots[slot] - 1;
            if (hashes[other] != hashes[i] || !sameFolded(all[other]->URL, all[i]->URL))
                continue;
            any = true;
            if (first(i, other)) {
                duplicate[other] = true;
                slots[slot] = static_cast<uint32_t>(i + 1);
            } else {
                duplicate[i] = true;
            }
            break;
        }
    }
    if (any) {
        size_t kept = 0;
        for (size_t i = 0; i < n; ++i) {
            if (!duplicate[i])
                all[kept++] = std::move(all[i]);
        }
        all.resize(kept);
    }
    const auto byOrder = [](const auto& a, const auto& b) { return a->Order < b->Order; };
    if (!std::is_sorted(all.begin(), all.end(), byOrder))
        std::stable_sort(all.begin(), all.end(), byOrder);

    // Two numbers of at most 20 characters, three TABs and CR LF beside the texts.
    constexpr size_t kLineExtra = 45;
    std::string content;
    size_t length = 0;
    for (const auto& entry : all)
        length += entry->URL.size() + entry->FileName.size() + kLineExtra;
    content.reserve(length);
    char number[24];
    const auto appendNumber = [&](int64_t value) {
        const auto result = std::to_chars(number, number + sizeof number, value);
        content.append(number, result.ptr);
    };
    for (const auto& entry : all) {
        // "%s\t%s\t%d\t%d" of URL, FileName, Downloaded and FileSize, built by hand so
        // that every byte of the texts is kept.
        content += entry->URL;
        content += '\t';
        content += entry->FileName;
        content += '\t';
        appendNumber(entry->Downloaded);
        content += '\t';
        appendNumber(entry->FileSize);
        content += "\r\n";
    }
    writeWholeFile(content, path);
}

bool isSafeFileName(const std::string& name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    return name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

} // namespace fetchora
