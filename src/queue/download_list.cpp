// Probing of queue entries and the queue file's load and save rules.
#include "queue/download_list.h"

#include "platform/errors.h"
#include "platform/format.h"
#include "platform/text.h"
#include "queue/parse_url.h"
#include "queue/request_helpers.h"
#include "queue/tab_fields.h"
#include "util/file_io.h"
#include "util/strings.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <exception>

namespace fetchora {

bool TDownload::Probe(const std::string& text, THttpClient& client) {
    URL = text::trim(text);
    FileSize = -1;
    Downloaded = -1;
    ErrorText.clear();
    try {
        FileSize = ProbeSize(text, client);
        if (FileSize <= 0)
            throw Error(format("URL does not refer to a file. File size is %d", FileSize));
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

int TDownloadList::TotalSize() const {
    // A queue of several large files can pass 2 GB; the total stops at the largest
    // 32-bit value instead of wrapping to a negative size.
    int64_t total = 0;
    for (const auto& entry : entries())
        total += entry->FileSize;
    return static_cast<int>(std::clamp<int64_t>(total, INT_MIN, INT_MAX));
}

void TDownloadList::Renumber() {
    for (size_t i = 0; i < entries().size(); ++i)
        entries()[i]->Order = static_cast<int>(i);
}

bool TDownloadList::NamesUnique() const {
    std::vector<std::string> names;
    names.reserve(entries().size());
    for (const auto& entry : entries())
        names.push_back(text::ansiLowerCase(entry->FileName));
    std::sort(names.begin(), names.end());
    return std::adjacent_find(names.begin(), names.end()) == names.end();
}

void TDownloadList::PrefixNames() {
    for (size_t i = 0; i < entries().size(); ++i) {
        TDownload& entry = *entries()[i];
        // "%5.5d_%s": five digits at least, so the entry at index 100000 gets six.
        entry.FileName = format("%5.5d_", static_cast<int>(i)) + entry.FileName;
    }
}

void TDownloadList::LoadFromFile(const std::string& path) {
    clear();
    const std::vector<std::string> lines = splitLines(readWholeFile(path));
    for (const std::string& line : lines) {
        const std::vector<std::string> fields = splitTabFields(line);
        auto entry = std::make_unique<TDownload>();
        if (fields.empty())
            throw ListError(0);
        entry->URL = fields[0];
        if (fields.size() < 2)
            throw ListError(1);
        entry->FileName = fields[1];
        entry->Downloaded = fields.size() > 2 ? strToIntDef(fields[2], 0) : 0;
        entry->FileSize = fields.size() > 3 ? strToIntDef(fields[3], 0) : 0;
        Add(std::move(entry));
    }
}

void TDownloadList::SaveToFile(const std::string& path) {
    // Both sorts are deliberately unstable: of two entries with equal keys either may
    // come first, and of two equal URLs the one sorted first is kept.
    std::sort(entries().begin(), entries().end(),
              [](const auto& a, const auto& b) { return a->URL < b->URL; });
    for (size_t i = entries().size(); i-- > 1;) {
        if (text::ansiSameText(entries()[i]->URL, entries()[i - 1]->URL))
            entries().erase(entries().begin() + static_cast<std::ptrdiff_t>(i));
    }
    std::sort(entries().begin(), entries().end(),
              [](const auto& a, const auto& b) { return a->Order < b->Order; });

    std::string content;
    for (const auto& entry : entries()) {
        // "%s\t%s\t%d\t%d" of URL, FileName, Downloaded and FileSize, built by hand so
        // that every byte of the texts is kept.
        content += entry->URL + '\t' + entry->FileName + '\t' + std::to_string(entry->Downloaded) +
                   '\t' + std::to_string(entry->FileSize) + "\r\n";
    }
    writeWholeFile(content, path);
}

bool isSafeFileName(const std::string& name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    return name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

} // namespace fetchora
