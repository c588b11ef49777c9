// Helpers shared by the pattern engine's tests: run a pattern over a text and collect the
// matches, or the error code a pattern raises.
#pragma once

#include "regex/regex.h"

#include <string>
#include <vector>

namespace fetchora::testing {

// The text of register n after a successful search.
inline std::string matchText(const TRegex& regex, int n = 0) {
    if (regex.MatchStart(n) < 0)
        return "<unset>";
    return regex.InputString().substr(static_cast<std::size_t>(regex.MatchStart(n) - 1),
                                      static_cast<std::size_t>(regex.MatchLength(n)));
}

// The first match of pattern in text, or "<none>".
inline std::string firstMatch(TRegex& regex, const std::string& pattern, const std::string& text) {
    regex.SetExpression(pattern);
    return regex.Exec(text) ? matchText(regex) : "<none>";
}

inline std::string firstMatch(const std::string& pattern, const std::string& text) {
    TRegex regex;
    return firstMatch(regex, pattern, text);
}

// Every match that Exec and ExecNext report, as "start:text".
inline std::vector<std::string> allMatches(TRegex& regex, const std::string& pattern,
                                           const std::string& text) {
    std::vector<std::string> found;
    regex.SetExpression(pattern);
    for (bool m = regex.Exec(text); m && found.size() < 100; m = regex.ExecNext())
        found.push_back(std::to_string(regex.MatchStart(0)) + ":" + matchText(regex));
    return found;
}

// The code of the ERegex that searching with pattern raises, or 0.
inline int errorCode(TRegex& regex, const std::string& pattern, const std::string& text = "x") {
    regex.SetExpression(pattern);
    try {
        regex.Exec(text);
    } catch (const ERegex& e) {
        return e.Code;
    }
    return 0;
}

inline int errorCode(const std::string& pattern, const std::string& text = "x") {
    TRegex regex;
    return errorCode(regex, pattern, text);
}

} // namespace fetchora::testing
