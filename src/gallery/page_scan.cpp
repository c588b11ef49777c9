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
#include <exception>

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

bool entityAt(std::string_view text, std::size_t pos, std::string_view name) {
    if (text.size() - pos < name.size())
        return false;
    return text::asciiSameText(text.substr(pos, name.size()), name);
}

// Every occurrence of name, left to right, without looking again at what replaced it.
std::string replaceEntity(std::string_view text, const Entity& entity) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t amp = text.find('&', pos);
        if (amp == std::string_view::npos)
            break;
        out.append(text, pos, amp - pos);
        if (entityAt(text, amp, entity.name)) {
            out += entity.replacement;
            pos = amp + entity.name.size();
        } else {
            out += '&';
            pos = amp + 1;
        }
    }
    out.append(text, pos, std::string_view::npos);
    return out;
}

void removeLineChars(std::string& s) {
    std::erase_if(s, [](char c) { return c == '\r' || c == '\n' || c == '\t'; });
}

// The address in an attribute match: without its last character (the blank, ">" or
// closing quote that ended it), its blanks, its first five characters (the attribute
// name and "=", or "src=" and the opening quote) and its double quotes, then trimmed.
std::string addressFromMatch(std::string v) {
    if (!v.empty())
        v.pop_back();
    std::erase(v, ' ');
    v.erase(0, std::min<std::size_t>(5, v.size()));
    std::erase(v, '"');
    return text::trim(v);
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
        entry.Tag.assign(page.substr(start, length));
        removeLineChars(entry.Tag);
    }
}

// The first match of the attribute pattern in each new entry's tag gives its address;
// then every new address is resolved against the entry's page.
void findAddresses(TRegex& regex, const char* pattern, TParseURL& resolver, THyperLinkList& list,
                   int first) {
    regex.SetExpression(pattern);
    for (int i = first; i < list.count(); ++i) {
        THyperLink& entry = list.GetLink(i);
        if (!regex.Exec(std::string_view(entry.Tag)))
            continue;
        const auto start = static_cast<std::size_t>(regex.MatchStart(0) - 1);
        const auto length = static_cast<std::size_t>(regex.MatchLength(0));
        entry.URL = addressFromMatch(entry.Tag.substr(start, length));
    }
    for (int i = first; i < list.count(); ++i) {
        THyperLink& entry = list.GetLink(i);
        entry.URL = resolver.Resolve(entry.BaseURL, entry.URL, false);
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
    std::replace(PageText.begin(), PageText.end(), '\'', '"');
    if (HttpClient1 != nullptr)
        PageURL = HttpClient1->Location();

    TParseURL resolver;
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

    int first = list.count();
    collectTags(pageRegex, kAnchorPattern, page, PageURL, kLinkKind, list,
                [page](THyperLink& entry, std::size_t after) {
                    entry.Description = TextAfterTag(page, after);
                });
    findAddresses(tagRegex, kHrefPattern, resolver, list, first);
    list.RemoveDuplicateURLs();

    first = list.count();
    collectTags(pageRegex, kImagePattern, page, PageURL, kImageKind, list,
                [](THyperLink& entry, std::size_t) { entry.Description = kImageDescription; });
    findAddresses(tagRegex, kSrcPattern, resolver, list, first);
    list.RemoveDuplicateURLs();
}

std::string TextAfterTag(std::string_view text, std::size_t start) {
    if (start >= text.size())
        return {};
    std::string_view rest = text.substr(start, kDescriptionLimit);
    rest = rest.substr(0, rest.find('<'));
    return text::trim(DecodeEntities(rest));
}

std::string DecodeEntities(std::string_view text) {
    std::string result(text);
    if (result.find('&') == std::string::npos)
        return result;
    for (const Entity& entity : kEntities)
        result = replaceEntity(result, entity);
    return result;
}

} // namespace fetchora
