// The string helpers: splitting, fields, sizes for people, comparison of reals.
#include "util/strings.h"

#include "platform/errors.h"
#include "platform/format.h"

#include <clocale>
#include <cmath>
#include <langinfo.h>
#include <locale.h> // NOLINT(modernize-deprecated-headers): newlocale and uselocale are POSIX

namespace fetchora {

std::vector<std::string> splitAt(std::string_view text, char separator) {
    std::vector<std::string> pieces;
    size_t start = 0;
    for (;;) {
        const size_t found = text.find(separator, start);
        if (found == std::string_view::npos) {
            pieces.emplace_back(text.substr(start));
            return pieces;
        }
        pieces.emplace_back(text.substr(start, found - start));
        start = found + 1;
    }
}

std::vector<std::string> splitLines(const std::string& text) {
    if (text.empty())
        return {};
    // CR LF and a lone CR end a line as LF does.
    std::string breaks;
    breaks.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        breaks += text[i] == '\r' ? '\n' : text[i];
    }
    std::vector<std::string> lines = splitAt(breaks, '\n');
    if (breaks.back() == '\n')
        lines.pop_back();
    return lines;
}

std::string field(const std::string& text, const std::string& separator, int index) {
    std::string joined;
    if (separator.empty()) {
        joined = text;
    } else {
        size_t pos = 0;
        for (;;) {
            const size_t found = text.find(separator, pos);
            if (found == std::string::npos) {
                joined.append(text, pos, std::string::npos);
                break;
            }
            joined.append(text, pos, found - pos);
            joined += '\n';
            pos = found + separator.size();
        }
    }
    const std::vector<std::string> lines = splitLines(joined);
    if (index < 0 || static_cast<size_t>(index) >= lines.size())
        throw ListError(index);
    return lines[static_cast<size_t>(index)];
}

namespace {

// The decimal point of the user's locale (LC_NUMERIC, LC_ALL or LANG), whatever locale
// the process itself runs in.
std::string userDecimalPoint() {
    locale_t user = ::newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr));
    if (user == static_cast<locale_t>(nullptr))
        return ".";
    std::string point = ::nl_langinfo_l(RADIXCHAR, user);
    ::freelocale(user);
    return point.empty() ? std::string(".") : point;
}

std::string oneDecimal(double value, const char* unit) {
    std::string text = format("%1.1f", value);
    const size_t dot = text.find('.');
    if (dot != std::string::npos)
        text.replace(dot, 1, userDecimalPoint());
    return text + " " + unit;
}

} // namespace

std::string formatSize(int bytes) {
    const double b = bytes;
    if (b / 1000000000.0 > 1)
        return oneDecimal(b / 1000000000.0, "GB");
    if (b / 1000000.0 > 1)
        return oneDecimal(b / 1000000.0, "MB");
    if (b / 1000.0 > 1)
        return oneDecimal(b / 1000.0, "KB");
    return format("%d Bytes", static_cast<int>(std::lround(b)));
}

int compareReals(double a, double b) {
    if (a > b)
        return 1;
    if (a < b)
        return -1;
    return 0;
}

} // namespace fetchora
