// The page scan: the four patterns over the page text, descriptions, address resolution
// and the duplicate removal.
#include "gallery/page_scan.h"

#include "http/http_client.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "queue/parse_url.h"
#include "queue/request_helpers.h"
#include "regex/regex.h"
#include "util/messages.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <vector>

namespace fetchora {

namespace {

// The four patterns, run lazily and without regard to case.
constexpr const char* kAnchorPattern = "< *a .*>";
constexpr const char* kHrefPattern = "href *[=] *.*[ >]";
constexpr const char* kImagePattern = "< *img.*>";
constexpr const char* kSrcPattern = "src *= *\".*\"";

constexpr int kModifierIndexI = 1;
constexpr int kModifierIndexG = 4;

struct Entity {
    std::string_view name;
    char replacement;
};

// Replaced one after another in this order, so "&amp;lt;" ends as "&lt;".
constexpr std::array<Entity, 12> kEntities{{
    {"&nbsp;", '\xA0'},
    {"&lt;", '<'},
    {"&gt;", '>'},
    {"&amp;", '&'},
    {"&quot;", '"'},
    {"&apos;", '\''},
    {"&cent;", '\xA2'},
    {"&pound;", '\xA3'},
    {"&yen;", '\xA5'},
    {"&reg;", '\xAE'},
    {"&times;", '\xD7'},
    {"&divide;", '\xF7'},
}};

// True when the entity's name (written in lower case) stands at pos, its letters in any
// case.
bool entityAt(std::string_view text, std::size_t pos, std::string_view name) {
    if (text.size() - pos < name.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = text[pos + i];
        const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != name[i])
            return false;
    }
    return true;
}

// Replaces every occurrence of the entity in place, left to right, without looking again
// at what replaced it (a replacement is always shorter than its entity).
void replaceEntity(std::string& text, const Entity& entity) {
    std::size_t amp = text.find('&');
    if (amp == std::string::npos)
        return;
    std::size_t write = amp;
    std::size_t read = amp;
    while (read < text.size()) {
        if (text[read] == '&' && entityAt(text, read, entity.name)) {
            text[write++] = entity.replacement;
            read += entity.name.size();
        } else {
            text[write++] = text[read++];
        }
    }
    text.resize(write);
}

// The tag text without CR, LF and TAB.
void assignTag(std::string& tag, std::string_view text) {
    const auto lineChar = [](char c) { return c == '\r' || c == '\n' || c == '\t'; };
    if (std::none_of(text.begin(), text.end(), lineChar)) {
        tag.assign(text);
        return;
    }
    tag.reserve(text.size());
    for (const char c : text) {
        if (c != '\r' && c != '\n' && c != '\t')
            tag += c;
    }
}

// Drops leading and trailing characters with codes 0 to 32.
std::string_view trimmed(std::string_view s) {
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

// The address in an attribute match: without its last character (the blank, ">" or
// closing quote that ended it), its blanks, its first five characters (the attribute
// name and "=", or "src=" and the opening quote) and its double quotes, then trimmed.
std::string addressFromMatch(std::string_view match) {
    if (!match.empty())
        match.remove_suffix(1);
    std::string v;
    v.reserve(match.size());
    std::size_t skipped = 0;
    for (const char c : match) {
        if (c == ' ')
            continue;
        if (skipped < 5) {
            ++skipped;
            continue;
        }
        if (c != '"')
            v += c;
    }
    const std::string_view kept = trimmed(v);
    if (kept.size() != v.size()) {
        const auto lead = static_cast<std::size_t>(kept.data() - v.data());
        v.erase(lead + kept.size());
        v.erase(0, lead);
    }
    return v;
}

void replaceApostrophes(std::string& text) {
    char* const end = text.data() + text.size();
    for (char* p = text.data(); p < end;) {
        auto* quote = static_cast<char*>(std::memchr(p, '\'', static_cast<std::size_t>(end - p)));
        if (quote == nullptr)
            break;
        *quote = '"';
        p = quote + 1;
    }
}

// The matches of the page pattern over the regex's input, each appended as an entry.
template <typename Fill>
void collectTags(TRegex& regex, const char* pattern, std::string_view page,
                 const std::string& pageURL, int kind, THyperLinkList& list, Fill fill) {
    regex.SetExpression(pattern);
    for (bool found = regex.ExecPos(1); found; found = regex.ExecNext()) {
        const auto start = static_cast<std::size_t>(regex.MatchStart(0) - 1);
        const auto length = static_cast<std::size_t>(regex.MatchLength(0));
        THyperLink& entry = list.AddLink();
        entry.BaseURL = pageURL;
        entry.Kind = kind;
        fill(entry, start + length);
        assignTag(entry.Tag, page.substr(start, length));
    }
}

// The first match of the attribute pattern in each new entry's tag gives its address;
// then every new address is resolved against the entry's page. The page address is split
// once; where it cannot be split, Resolve raises its error at the first relative link.
void findAddresses(TRegex& regex, const char* pattern, const std::string& pageURL,
                   THyperLinkList& list, int first, std::vector<TLinkKey>& keys) {
    regex.SetExpression(pattern);
    for (int i = first; i < list.count(); ++i) {
        THyperLink& entry = list.GetLink(i);
        if (!regex.Exec(std::string_view(entry.Tag)))
            continue;
        const auto start = static_cast<std::size_t>(regex.MatchStart(0) - 1);
        const auto length = static_cast<std::size_t>(regex.MatchLength(0));
        entry.URL = addressFromMatch(std::string_view(entry.Tag).substr(start, length));
    }
    TParseURL page;
    bool pageSplit = true;
    try {
        page.Parse(pageURL);
    } catch (const Error&) {
        pageSplit = false;
    }
    TParseURL resolver;
    for (int i = first; i < list.count(); ++i) {
        THyperLink& entry = list.GetLink(i);
        if (pageSplit && entry.BaseURL == pageURL)
            entry.URL = page.ResolveParsed(entry.URL, false);
        else
            entry.URL = resolver.Resolve(entry.BaseURL, entry.URL, false);
        keys.push_back(linkKey(entry));
    }
}

} // namespace

void TPageScanner::LoadPage(THyperLinkList& list, const std::string& url) {
    PageURL = url;
    try {
        if (HttpClient1 == nullptr)
            throw Error("No HTTP client for the page fetch");
        PageText = FetchPage(url, *HttpClient1);
        ScanPage(list);
    } catch (const std::exception& error) {
        showInformation(error.what());
    }
}

void TPageScanner::ScanPage(THyperLinkList& list) {
    replaceApostrophes(PageText);
    if (HttpClient1 != nullptr)
        PageURL = HttpClient1->Location();

    TRegex pageRegex;
    TRegex tagRegex;
    for (TRegex* regex : {&pageRegex, &tagRegex}) {
        regex->SetModifierFlag(kModifierIndexG, false);
        regex->SetModifierFlag(kModifierIndexI, true);
    }

    // The engine takes the page over without a copy and gives it back at the end, also
    // when the resolver throws. A page holding a NUL is copied instead: the engine sees
    // it only up to the NUL, while descriptions may run past it.
    const bool holdsNul = PageText.find('\0') != std::string::npos;
    if (holdsNul)
        pageRegex.SetInputString(std::string_view(PageText));
    else
        pageRegex.SetInputString(std::move(PageText));
    struct GiveBack {
        TPageScanner& scanner;
        TRegex& regex;
        bool copied;
        ~GiveBack() {
            if (!copied)
                scanner.PageText = regex.InputString();
        }
    } giveBack{*this, pageRegex, holdsNul};
    const std::string_view page =
        holdsNul ? std::string_view(PageText) : std::string_view(pageRegex.InputString());

    // What the duplicate removals need of each entry, taken while the entry is at hand.
    std::vector<TLinkKey> keys;
    keys.reserve(static_cast<std::size_t>(list.count()));
    for (int i = 0; i < list.count(); ++i)
        keys.push_back(linkKey(list.GetLink(i)));

    int first = list.count();
    collectTags(pageRegex, kAnchorPattern, page, PageURL, kLinkKind, list,
                [page](THyperLink& entry, std::size_t after) {
                    entry.Description = TextAfterTag(page, after);
                });
    findAddresses(tagRegex, kHrefPattern, PageURL, list, first, keys);
    list.RemoveDuplicateURLs(keys);

    first = list.count();
    collectTags(pageRegex, kImagePattern, page, PageURL, kImageKind, list,
                [](THyperLink& entry, std::size_t) { entry.Description = kImageDescription; });
    findAddresses(tagRegex, kSrcPattern, PageURL, list, first, keys);
    list.RemoveDuplicateURLs(keys);
}

std::string TextAfterTag(std::string_view text, std::size_t start) {
    if (start >= text.size())
        return {};
    std::string_view rest = text.substr(start, kDescriptionLimit);
    rest = rest.substr(0, rest.find('<'));
    if (rest.find('&') == std::string_view::npos)
        return std::string(trimmed(rest));
    return std::string(trimmed(DecodeEntities(rest)));
}

std::string DecodeEntities(std::string_view text) {
    std::string result(text);
    for (const Entity& entity : kEntities)
        replaceEntity(result, entity);
    return result;
}

} // namespace fetchora
