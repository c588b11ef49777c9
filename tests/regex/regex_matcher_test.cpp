// The matcher: case folding, line separators, repetitions and their next-literal
// shortcut, branches, groups, back-references, complex loops and the loop stack, and
// the bounds that keep any pattern and input off the thread's stack.
#include "regex_helpers.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

using testing::errorCode;
using testing::firstMatch;
using testing::matchText;

TEST(RegexMatcher, CaseInsensitiveLiteralsUseTheWindows1252Table) {
    TRegex regex;
    regex.SetModifierFlag(1, true);
    EXPECT_EQ(firstMatch(regex, "<A hRef", "x<a HREF"), "<a HREF");
    EXPECT_EQ(firstMatch(regex, "\xc9t\xe9", "\xe9T\xc9"), "\xe9T\xc9"); // É é
    EXPECT_EQ(firstMatch(regex, "\x8a", "\x9a"), "\x9a");                // Š š
    EXPECT_EQ(firstMatch(regex, "\xff", "\x9f"), "\x9f");                // ÿ Ÿ
    EXPECT_EQ(firstMatch(regex, "\xd7", "\xf7"), "<none>");              // × ÷ are no pair
    EXPECT_EQ(firstMatch(regex, "a+", "xAaAb"), "AaA");
    EXPECT_EQ(firstMatch(regex, "(a)\\1", "xaA"), "aA");
    EXPECT_EQ(firstMatch("(a)\\1", "aA"), "<none>");
}

TEST(RegexMatcher, DotAndLineSeparators) {
    EXPECT_EQ(firstMatch("a.b", "a\nb"), "a\nb"); // s is on by default
    TRegex regex;
    regex.SetModifierFlag(3, false);
    EXPECT_EQ(firstMatch(regex, "a.b", "a\nb a\rb"), "<none>");
    EXPECT_EQ(firstMatch(regex, "a.+", "ab\r\nc"), "ab");
    // With only LF a line break, a lone CR is a character, but CR before LF is not.
    regex.SetLineBreakChars("\n");
    EXPECT_EQ(firstMatch(regex, "a.b", "a\rb"), "a\rb");
    EXPECT_EQ(firstMatch(regex, "a.", "a\r\n"), "<none>");
    regex.SetLinePairedSeparator("");
    EXPECT_EQ(firstMatch(regex, "a.", "a\r\n"), "a\r");
}

TEST(RegexMatcher, MultiLineAnchorsCountThePairedSeparatorOnce) {
    EXPECT_EQ(firstMatch("^b", "a\nb"), "<none>");
    TRegex regex;
    regex.SetModifierFlag(5, true);
    regex.SetExpression("^\\w");
    regex.Exec("ab\ncd\r\nef");
    EXPECT_EQ(regex.MatchStart(0), 1);
    ASSERT_TRUE(regex.ExecNext());
    EXPECT_EQ(regex.MatchStart(0), 4);
    ASSERT_TRUE(regex.ExecNext());
    EXPECT_EQ(regex.MatchStart(0), 8);
    EXPECT_EQ(testing::allMatches(regex, "\\w$", "ab\ncd\r\nef"),
              (std::vector<std::string>{"2:b", "5:d", "9:f"}));
    // Neither anchor matches between CR and LF.
    EXPECT_EQ(firstMatch(regex, "^\\n", "a\r\nb"), "<none>");
    EXPECT_EQ(firstMatch(regex, "\\r$", "a\r\nb"), "<none>");
    EXPECT_EQ(firstMatch(regex, "\\r$", "a\r\rb"), "\r");
    // No separators at all: start and end of input only.
    regex.SetLineBreakChars("");
    regex.SetLinePairedSeparator("");
    EXPECT_EQ(firstMatch(regex, "^b", "a\nb"), "<none>");
    EXPECT_EQ(firstMatch(regex, "b$", "a\nb"), "b");
}

TEST(RegexMatcher, GreedyAndLazyRepetitions) {
    EXPECT_EQ(firstMatch("a.*b", "aXbYbZ"), "aXbYb");
    EXPECT_EQ(firstMatch("a.*?b", "aXbYbZ"), "aXb");
    EXPECT_EQ(firstMatch("a.+?b", "abXb"), "abXb");
    EXPECT_EQ(firstMatch("a{2,3}", "aaaa"), "aaa");
    EXPECT_EQ(firstMatch("a{2,3}?", "aaaa"), "aa");
    EXPECT_EQ(firstMatch("a{2,}?b", "aaaab"), "aaaab");
    EXPECT_EQ(firstMatch("x[a-c]*?y", "xabcy"), "xabcy");
    EXPECT_EQ(firstMatch("\\d{3}", "12 345"), "345");
    EXPECT_EQ(firstMatch("a+b", "aaac aab"), "aab");
    EXPECT_EQ(firstMatch("[^,]*,", "ab,cd,"), "ab,");
    EXPECT_EQ(firstMatch("\\D*?1", "ab1"), "ab1");
}

TEST(RegexMatcher, NextLiteralShortcutKeepsEveryRealMatch) {
    // Each case needs a count after which the next literal does not follow first.
    EXPECT_EQ(firstMatch("a.*bc", "abxbcbd"), "abxbc");
    EXPECT_EQ(firstMatch("a.*?bc", "abxbc"), "abxbc");
    EXPECT_EQ(firstMatch("a.*(b)c", "abxbcb"), "abxbc");
    EXPECT_EQ(firstMatch("a.*?[bc]d", "abcd"), "abcd");
    EXPECT_EQ(firstMatch("x*xy", "xxxy"), "xxxy");
    EXPECT_EQ(firstMatch("x*?xy", "xxxy"), "xxxy");
    TRegex caseless;
    caseless.SetModifierFlag(1, true);
    EXPECT_EQ(firstMatch(caseless, "a.*?B", "axbB"), "axb");
    EXPECT_EQ(firstMatch(caseless, "a.*b", "axbBc"), "axbB");
    // The lazy scan over a text is cached; later searches in the same text must still see
    // literals that lie before an earlier search's end.
    caseless.SetExpression("<.*?>");
    ASSERT_TRUE(caseless.Exec("<a> <b <c> <d>"));
    EXPECT_EQ(matchText(caseless), "<a>");
    ASSERT_TRUE(caseless.ExecNext());
    EXPECT_EQ(matchText(caseless), "<b <c>");
    ASSERT_TRUE(caseless.ExecNext());
    EXPECT_EQ(matchText(caseless), "<d>");
    ASSERT_TRUE(caseless.ExecPos(2));
    EXPECT_EQ(matchText(caseless), "<b <c>");
}

TEST(RegexMatcher, BranchesRestoreThePosition) {
    EXPECT_EQ(firstMatch("ab|ac", "ac"), "ac");
    EXPECT_EQ(firstMatch("(a|ab)c", "abc"), "abc");
    EXPECT_EQ(firstMatch("(a|ab)(c|bcd)", "abcd"), "abcd");
    EXPECT_EQ(firstMatch("a(|b)c", "ac abc"), "ac");
    EXPECT_EQ(firstMatch("x(a|b|c)+y", "xabcabz xcy"), "xcy");
}

TEST(RegexMatcher, GroupsRecordAndRestoreRegisters) {
    TRegex regex;
    regex.SetExpression("(a)b|(a)c");
    ASSERT_TRUE(regex.Exec("ac"));
    EXPECT_EQ(regex.MatchStart(1), -1); // set by the failed first branch, then restored
    EXPECT_EQ(regex.MatchStart(2), 1);

    regex.SetExpression("(a|b)*c");
    ASSERT_TRUE(regex.Exec("abc"));
    EXPECT_EQ(matchText(regex, 1), "b"); // the last iteration

    regex.SetExpression("((a)(b))+(x)?");
    ASSERT_TRUE(regex.Exec("zabab"));
    EXPECT_EQ(regex.MatchStart(0), 2);
    EXPECT_EQ(matchText(regex, 1), "ab");
    EXPECT_EQ(regex.MatchStart(1), 4);
    EXPECT_EQ(matchText(regex, 3), "b");
    EXPECT_EQ(regex.MatchStart(4), -1);
    EXPECT_EQ(regex.MatchLength(4), -1);

    regex.SetExpression("(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)(m)(n)");
    ASSERT_TRUE(regex.Exec("abcdefghijklmn"));
    EXPECT_EQ(matchText(regex, 14), "n");
    EXPECT_EQ(regex.MatchStart(15), -1);
    EXPECT_EQ(regex.MatchStart(-1), -1);
}

TEST(RegexMatcher, BackReferences) {
    EXPECT_EQ(firstMatch("(a+)b\\1", "aabaa"), "aabaa");
    EXPECT_EQ(firstMatch("(a+)b\\1$", "aaba"), "aba");
    EXPECT_EQ(firstMatch("(ab)\\1*", "abababx"), "ababab");
    EXPECT_EQ(firstMatch("(ab)\\1{2}", "abababab"), "ababab");
    EXPECT_EQ(firstMatch("(ab)\\1+?", "abababab"), "abab");
    EXPECT_EQ(firstMatch("(x*)\\1+y", "y"), "y");     // an empty group repeats at once
    EXPECT_EQ(firstMatch("(a)|\\1b", "b"), "<none>"); // a group that is not set fails
    EXPECT_EQ(firstMatch("(a)|b\\1*c", "bc"), "bc");  // ... but may be repeated zero times
    EXPECT_EQ(firstMatch("\\2(a)", "aa"), "<none>");
}

TEST(RegexMatcher, ComplexLoopsCountTheirIterations) {
    EXPECT_EQ(firstMatch("(ab){2}", "ab abab"), "abab");
    EXPECT_EQ(firstMatch("(a|b){2,3}c", "abbbc"), "bbbc");
    EXPECT_EQ(firstMatch("(a|b){2,3}?b", "abbb"), "abb");
    EXPECT_EQ(firstMatch("(ab){0,2}c", "c"), "c");
    EXPECT_EQ(firstMatch("((ab){2}c){2}", "ababcababcx"), "ababcababc");
    EXPECT_EQ(firstMatch("((ab){2}c)+", "ababcababcabc"), "ababcababc");
    EXPECT_EQ(firstMatch("(a(b)?"
                         "?)+c",
                         "aabc"),
              "aabc");
    EXPECT_EQ(firstMatch("(ab)*?c", "ababc"), "ababc");
    EXPECT_EQ(firstMatch("(ab)+?", "abab"), "ab");
    EXPECT_EQ(firstMatch("(ab)?"
                         "?a",
                         "aba"),
              "a");
    EXPECT_EQ(firstMatch("(^)?"
                         "?a",
                         "a"),
              "a");
}

// n groups nested, each repeated {1}: "((...(a){1}...){1}){1}".
std::string nestedLoops(int n) {
    std::string pattern = "a";
    for (int i = 0; i < n; ++i)
        pattern = "(" + pattern + "){1}";
    return pattern;
}

TEST(RegexMatcher, LoopStackHoldsTenActiveLoops) {
    EXPECT_EQ(firstMatch(nestedLoops(10), "a"), "a");
    EXPECT_EQ(errorCode(nestedLoops(11), "a"), 1014);
    // Loops one after another do not nest.
    std::string sequence;
    for (int i = 0; i < 12; ++i)
        sequence += "(a){1}";
    EXPECT_EQ(firstMatch(sequence, std::string(12, 'a')), std::string(12, 'a'));
}

TEST(RegexMatcher, LongInputsRunOnTheMatchersOwnStack) {
    const std::string pairs = [] {
        std::string s;
        for (int i = 0; i < 200000; ++i)
            s += "ab";
        return s;
    }();
    EXPECT_EQ(firstMatch("(ab)*c", pairs + "c").size(), pairs.size() + 1);
    EXPECT_EQ(firstMatch("(a|b)+?c", pairs + "c").size(), pairs.size() + 1);
    EXPECT_EQ(firstMatch("(ab){1,}", pairs).size(), pairs.size());
    EXPECT_EQ(firstMatch("x(ab)*c", "x" + pairs), "<none>");
}

TEST(RegexMatcher, BacktrackingBoundsRaiseAndLeaveTheObjectUsable) {
    TRegex regex;
    regex.setStackLimit(1000);
    std::string pairs;
    for (int i = 0; i < 5000; ++i)
        pairs += "ab";
    regex.SetExpression("(ab)*c");
    try {
        regex.Exec(pairs + "c");
        ADD_FAILURE() << "no error";
    } catch (const ERegex& e) {
        EXPECT_EQ(e.Code, kRegexErrorStackExceeded);
        EXPECT_EQ(e.Position, 0);
        EXPECT_EQ(e.what(), regexErrorText(kRegexErrorStackExceeded));
    }
    EXPECT_TRUE(regex.Exec("ababc"));
    EXPECT_EQ(regex.MatchLength(0), 5);

    regex.setStepLimit(10000);
    EXPECT_EQ(errorCode(regex, "(a|a)*[bc]", std::string(40, 'a')), kRegexErrorStepLimit);
    EXPECT_EQ(firstMatch(regex, "(a|a)*b", "aab"), "aab");
}

} // namespace
} // namespace fetchora
