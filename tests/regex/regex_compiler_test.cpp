// The compiler: the node shapes it emits for each construct, the syntax rules that decide
// what a pattern means, and every compile error with its position.
#include "regex_helpers.h"

#include <gtest/gtest.h>

#include <sstream>

namespace fetchora {
namespace {

using testing::errorCode;
using testing::firstMatch;

// The dump without offsets: "BRANCH STAR EXACTLY "a" END".
std::string shape(TRegex& regex, const std::string& pattern) {
    regex.SetExpression(pattern);
    std::istringstream lines(regex.Dump());
    std::string result;
    std::string line;
    while (std::getline(lines, line)) {
        line = line.substr(line.find(": ") + 2);
        for (const char* link : {" -> ", " body "}) {
            const std::size_t at = line.find(link);
            if (at != std::string::npos) {
                std::size_t end = at + std::string(link).size();
                while (end < line.size() && line[end] >= '0' && line[end] <= '9')
                    ++end;
                line.erase(at, end - at);
            }
        }
        result += (result.empty() ? "" : " ") + line;
    }
    return result;
}

struct ShapeCase {
    const char* pattern;
    int modifiersOn;  // bits to set
    int modifiersOff; // bits to clear
    const char* expected;
};

TEST(RegexCompiler, EmitsTheNodeOfEachConstruct) {
    const ShapeCase cases[] = {
        {"abc", 0, 0, R"(BRANCH EXACTLY "abc" END)"},
        {"abc", TRegex::ModifierI, 0, R"(BRANCH EXACTLYCI "abc" END)"},
        {"ab*", 0, 0, R"(BRANCH EXACTLY "a" STAR EXACTLY "b" END)"},
        {"a+", 0, 0, R"(BRANCH PLUS EXACTLY "a" END)"},
        {"a*?b+?", 0, 0, R"(BRANCH STARNG EXACTLY "a" PLUSNG EXACTLY "b" END)"},
        {"a{2,5}", 0, 0, R"(BRANCH BRACES {2,5} EXACTLY "a" END)"},
        {"a{3,}?", 0, 0, R"(BRANCH BRACESNG {3,2147483646} EXACTLY "a" END)"},
        {"a?", 0, 0, R"(BRANCH BRANCH EXACTLY "a" BRANCH NOTHING END)"},
        {"a??", 0, 0, R"(BRANCH BRACESNG {0,1} EXACTLY "a" END)"},
        {"a*", 0, TRegex::ModifierG, R"(BRANCH STARNG EXACTLY "a" END)"},
        {"(ab)*", 0, 0,
         R"(BRANCH BRANCH OPEN1 BRANCH EXACTLY "ab" CLOSE1 BACK BRANCH NOTHING END)"},
        {"(ab)+", 0, 0,
         R"(BRANCH OPEN1 BRANCH EXACTLY "ab" CLOSE1 BRANCH BACK BRANCH NOTHING END)"},
        {"(ab)?", 0, 0, R"(BRANCH BRANCH OPEN1 BRANCH EXACTLY "ab" CLOSE1 BRANCH NOTHING END)"},
        {"(ab){2,}", 0, 0,
         R"(BRANCH LOOPENTRY OPEN1 BRANCH EXACTLY "ab" CLOSE1 LOOP {2,2147483646} END)"},
        {"(ab)*?", 0, 0,
         R"(BRANCH LOOPENTRY OPEN1 BRANCH EXACTLY "ab" CLOSE1 LOOPNG {0,2147483646} END)"},
        {"(ab)+", 0, TRegex::ModifierG,
         R"(BRANCH LOOPENTRY OPEN1 BRANCH EXACTLY "ab" CLOSE1 LOOPNG {1,2147483646} END)"},
        {"a|b", 0, 0, R"(BRANCH EXACTLY "a" BRANCH EXACTLY "b" END)"},
        {"|", 0, 0, R"(BRANCH NOTHING BRANCH NOTHING END)"},
        {".", 0, 0, "BRANCH ANY END"},
        {".", 0, TRegex::ModifierS, "BRANCH ANYML END"},
        {"^$\\A\\Z", 0, 0, "BRANCH BOL EOL BOL EOL END"},
        {"^$", TRegex::ModifierM, 0, "BRANCH BOLML EOLML END"},
        {"\\d\\D", 0, 0, "BRANCH DIGIT NOTDIGIT END"},
        {"[cab]", 0, 0, "BRANCH ANYOFTINY [abc] END"},
        {"[x]", 0, 0, "BRANCH ANYOFTINY [xxx] END"},
        {"[^ab]", 0, 0, "BRANCH ANYBUTTINY [abb] END"},
        {"[a-d]", 0, 0, "BRANCH ANYOFFULL [a-d] END"},
        {"[ab]", TRegex::ModifierI, 0, "BRANCH ANYOFFULL [ABab] END"},
        {"[^a-y]", 0, 0, R"(BRANCH ANYOFFULL [\x00-`z-\xFF] END)"},
        {"\\s", 0, 0, R"(BRANCH ANYOFFULL [\x09\x0A\x0C\x0D\x20] END)"},
        {"(a)\\1", 0, 0, R"(BRANCH OPEN1 BRANCH EXACTLY "a" CLOSE1 BACKREF \1 END)"},
        {"(a)\\1", TRegex::ModifierI, 0,
         R"(BRANCH OPEN1 BRANCH EXACTLYCI "a" CLOSE1 BACKREFCI \1 END)"},
        {"(?#note)a(?i)", 0, 0, R"(BRANCH COMMENT EXACTLY "a" COMMENT END)"},
        {" a", TRegex::ModifierX, 0, R"(BRANCH COMMENT EXACTLY "a" END)"},
    };
    for (const ShapeCase& c : cases) {
        TRegex regex;
        regex.SetModifierFlag(1, false);
        for (int index = 1; index <= 6; ++index) {
            const int bit = 1 << (index - 1);
            if (c.modifiersOn & bit)
                regex.SetModifierFlag(index, true);
            if (c.modifiersOff & bit)
                regex.SetModifierFlag(index, false);
        }
        EXPECT_EQ(shape(regex, c.pattern), c.expected) << c.pattern;
    }
}

TEST(RegexCompiler, LinksLoopsBackToTheirStart) {
    TRegex regex;
    regex.SetExpression("(ab)*c");
    // The back node returns to the branch in front of the group; the empty alternative
    // leads on to the literal c.
    EXPECT_EQ(regex.Dump(), "1: BRANCH -> 56\n"
                            "6: BRANCH -> 39\n"
                            "11: OPEN1 -> 16\n"
                            "16: BRANCH -> 29\n"
                            "21: EXACTLY \"ab\" -> 29\n"
                            "29: CLOSE1 -> 34\n"
                            "34: BACK -> 6\n"
                            "39: BRANCH -> 44\n"
                            "44: NOTHING -> 49\n"
                            "49: EXACTLY \"c\" -> 56\n"
                            "56: END\n");
    regex.SetExpression("(ab){1,2}?c");
    EXPECT_EQ(regex.Dump(), "1: BRANCH -> 58\n"
                            "6: LOOPENTRY -> 34\n"
                            "11: OPEN1 -> 16\n"
                            "16: BRANCH -> 29\n"
                            "21: EXACTLY \"ab\" -> 29\n"
                            "29: CLOSE1 -> 34\n"
                            "34: LOOPNG {1,2} body 11 -> 51\n"
                            "51: EXACTLY \"c\" -> 58\n"
                            "58: END\n");
}

TEST(RegexCompiler, QuantifierTakesOnlyTheLastCharacterOfARun) {
    EXPECT_EQ(firstMatch("abc*", "abx"), "ab");
    EXPECT_EQ(firstMatch("abc+", "abcccd"), "abccc");
    EXPECT_EQ(firstMatch("abc{2}", "abcabcc"), "abcc");
    EXPECT_EQ(firstMatch("ab\\x63?d", "abd"), "abd"); // an escaped character counts as one
}

TEST(RegexCompiler, BraceThatFormsNoRepetitionIsLiteral) {
    EXPECT_EQ(firstMatch("a{x}", "a{x}"), "a{x}");
    EXPECT_EQ(firstMatch("a{,2}", "aa{,2}"), "a{,2}");
    EXPECT_EQ(firstMatch("a{2", "aa{2"), "a{2");
    EXPECT_EQ(firstMatch("{", "x{"), "{");
    EXPECT_EQ(firstMatch("a{1,2,3}", "a{1,2,3}"), "a{1,2,3}");
    EXPECT_EQ(firstMatch("a{2}", "a{2}aa"), "aa");
    EXPECT_EQ(firstMatch("a{0}b", "ab"), "b");
}

TEST(RegexCompiler, EscapesStandForTheirCharacters) {
    const std::pair<const char*, std::string> cases[] = {
        {"\\t\\n\\r\\f", "\t\n\r\f"}, {"\\a\\e", "\x07\x1b"}, {"\\x41\\x{42}\\x{9}", "AB\t"},
        {"\\b\\.\\*\\{", "b.*{"}, // \b is the letter b, not a word boundary
        {"\\x{e9}", "\xe9"},
    };
    for (const auto& [pattern, text] : cases)
        EXPECT_EQ(firstMatch(pattern, "<" + text + ">"), text) << pattern;
    EXPECT_EQ(firstMatch("\\d+", "ab12c"), "12");
    EXPECT_EQ(firstMatch("\\D+", "12ab3"), "ab");
    EXPECT_EQ(firstMatch("\\w+", "  foo_1 "), "foo_1");
    EXPECT_EQ(firstMatch("\\W+", "ab, cd"), ", ");
    EXPECT_EQ(firstMatch("\\s+", "a \t\r\n\fb"), " \t\r\n\f");
    EXPECT_EQ(firstMatch("\\S+", "  ab "), "ab");
}

TEST(RegexCompiler, NulInPatternNeverMatches) {
    // A NUL must not cut the literal short: "a\x00" may not match a lone "a".
    EXPECT_EQ(firstMatch("a\\x00", "a"), "<none>");
    EXPECT_EQ(firstMatch("a\\x{0}?b", "ab"), "ab");
    TRegex regex;
    regex.SetExpression(std::string("ab\0cd", 5));
    EXPECT_EQ(regex.Expression(), "ab");
}

TEST(RegexCompiler, ClassMembersAndRanges) {
    EXPECT_EQ(firstMatch("[]a]+", "x]a]y"), "]a]");
    EXPECT_EQ(firstMatch("[^]a]+", "]]bc]"), "bc");
    EXPECT_EQ(firstMatch("[a-]+", "x-a-y"), "-a-");
    EXPECT_EQ(firstMatch("[-a]+", "x-a-y"), "-a-");
    EXPECT_EQ(firstMatch("[a\\-z]+", "b-az"), "-az");
    EXPECT_EQ(firstMatch("[\\d_]+", "x1_2y"), "1_2");
    EXPECT_EQ(firstMatch("[\\s,]+", "a ,\tb"), " ,\t");
    EXPECT_EQ(firstMatch("[\\w.]+", "(a.b_c)"), "a.b_c");
    EXPECT_EQ(firstMatch("[\\D]+", "aDD1"), "DD"); // \D in a class is the letter
    EXPECT_EQ(firstMatch("[\\x41-\\x43]+", "zABCD"), "ABC");
    EXPECT_EQ(firstMatch("[\\t]", "a\tb"), "\t");
    EXPECT_EQ(firstMatch("[a-\\d]+", "x-a5"), "-a5"); // a set cannot end a range

    TRegex caseless;
    caseless.SetModifierFlag(1, true);
    EXPECT_EQ(firstMatch(caseless, "[a-c]+", "xAbCd"), "AbC");
    EXPECT_EQ(firstMatch(caseless, "[^a]+", "AaXy"), "Xy");
    EXPECT_EQ(firstMatch(caseless, "[\xe0]", "\xc0"), "\xc0");
}

TEST(RegexCompiler, CyrillicRangesFollowTheRModifier) {
    TRegex cyrillic; // r is on by default
    EXPECT_EQ(firstMatch(cyrillic, "[\xe0-\xff]", "\xb8"), "\xb8");
    EXPECT_EQ(firstMatch(cyrillic, "[\xc0-\xdf]", "\xa8"), "\xa8");
    EXPECT_EQ(firstMatch(cyrillic, "[\xe0-\xdf]+", "\xc0\xff\xa8\xb8z"), "\xc0\xff\xa8\xb8");
    EXPECT_EQ(firstMatch(cyrillic, "[\xe0-\xfe]", "\xb8"), "<none>"); // only the whole range

    TRegex plain;
    plain.SetModifierFlag(2, false);
    EXPECT_EQ(firstMatch(plain, "[\xe0-\xff]", "\xb8"), "<none>");
    EXPECT_EQ(errorCode(plain, "[\xe0-\xdf]"), 109);
}

TEST(RegexCompiler, ExtendedSyntaxIgnoresBlanksAndComments) {
    TRegex regex;
    regex.SetModifierFlag(6, true);
    EXPECT_EQ(firstMatch(regex, "a b # a comment\n c", "xabc"), "abc");
    EXPECT_EQ(firstMatch(regex, "a *", "aaa"), "aaa"); // the blank does not hide the quantifier
    EXPECT_EQ(firstMatch(regex, "a b+", "abbb"), "abbb");
    EXPECT_EQ(firstMatch(regex, "[ ]", "a b"), " "); // blanks in a class are members
    EXPECT_EQ(firstMatch(regex, "a\\ b", "a b"), "a b");
    EXPECT_EQ(firstMatch("a b", "a b"), "a b"); // without x they count
}

TEST(RegexCompiler, ModifierGroupsLastToTheEndOfTheEnclosingGroup) {
    EXPECT_EQ(firstMatch("a(?i)b", "AB aB"), "aB");
    EXPECT_EQ(firstMatch("(a(?i)b)c", "aBC aBc"), "aBc");
    EXPECT_EQ(firstMatch("(?i)a|b", "B"), "B"); // the rest of the pattern, every branch
    EXPECT_EQ(firstMatch("(?I)x", "X"), "X");
    EXPECT_EQ(firstMatch("(?-s).", "\nz"), "z");
    EXPECT_EQ(firstMatch("(?m)^b", "a\nb"), "b");
    EXPECT_EQ(firstMatch("(?-g)a+", "aaa"), "a");
    EXPECT_EQ(firstMatch("(?x) a b", "ab"), "ab");
    EXPECT_EQ(firstMatch("(?is-i)A.", "a\n A\n"), "A\n");
    TRegex caseless;
    caseless.SetModifierFlag(1, true);
    EXPECT_EQ(firstMatch(caseless, "(?-i)a", "Aa"), "a");
}

struct ErrorCase {
    const char* pattern;
    int code;
    int position;
};

TEST(RegexCompiler, ReportsEachErrorWithItsPosition) {
    const ErrorCase cases[] = {
        {"x{2,1}", 124, 6},
        {"a**", 107, 3},
        {"a*??", 107, 4},
        {"a{2}{3}", 107, 5},
        {"*a", 115, 1},
        {"a|+", 115, 3},
        {"{2}", 115, 1},
        {"(a", 103, 2},
        {"(?i", 103, 3},
        {"a)", 104, 2},
        {"(^)*", 106, 4},
        {"(a|)+", 106, 5},
        {"(?#x)*", 106, 6},
        {"\\A{2}", 106, 5},
        {"a\\", 116, 2},
        {"[a\\", 110, 3},
        {"[abc", 113, 4},
        {"[]", 113, 2},
        {"(?#abc", 125, 6},
        {"(?iq)", 127, 4},
        {"[z-a]", 109, 4},
        {"\\x", 111, 2},
        {"\\x{}", 111, 4},
        {"\\xg1", 108, 3},
        {"\\x4", 108, 3},
        {"\\x{4g}", 108, 5},
        {"\\x{123}", 112, 6},
        {"a{99999999999}", 122, 14},
        {"a{1,99999999999}", 122, 16},
        {"((((((((((((((()))))))))))))))", 102, 15},
    };
    for (const ErrorCase& c : cases) {
        TRegex regex;
        regex.SetExpression(c.pattern);
        try {
            regex.Exec("x");
            ADD_FAILURE() << c.pattern << " compiled";
        } catch (const ERegex& e) {
            EXPECT_EQ(e.Code, c.code) << c.pattern;
            EXPECT_EQ(e.Position, c.position) << c.pattern;
            EXPECT_EQ(e.what(),
                      regexErrorText(c.code) + " (pos " + std::to_string(c.position) + ")")
                << c.pattern;
        }
    }
    // Fourteen groups are allowed; "?" may follow an empty atom.
    EXPECT_EQ(errorCode("(((((((((((((())))))))))))))"), 0);
    EXPECT_EQ(errorCode("(^)?x"), 0);
}

TEST(RegexCompiler, ErrorTextsByCode) {
    EXPECT_EQ(regexErrorText(0), "No errors");
    EXPECT_EQ(regexErrorText(103), regexErrorText(104));
    EXPECT_EQ(regexErrorText(110), "TRegex(comp): Parse Atom Trailing \\");
    EXPECT_EQ(regexErrorText(124), "TRegex(comp): BRACE Min Param Greater then Max");
    EXPECT_EQ(regexErrorText(1005), "TRegex(exec): No Inpit String Specified");
    EXPECT_EQ(regexErrorText(1013), "Unknown error");
    EXPECT_EQ(regexErrorText(117), "Unknown error");

    const ERegex execution(1014, 7);
    EXPECT_STREQ(execution.what(), "TRegex(exec): Loop Stack Exceeded");
    EXPECT_EQ(execution.Position, 0);
    const ERegex compile(113, 4);
    EXPECT_STREQ(compile.what(), "TRegex(comp): Unmatched [] (pos 4)");
}

} // namespace
} // namespace fetchora
