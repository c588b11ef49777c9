// TRegex's interface: defaults, Exec, ExecNext and ExecPos with their errors, the input
// copy and the registers, recompilation, and the search shortcuts (each case here would
// lose a real match if its shortcut skipped too much).
#include "regex_helpers.h"

#include <gtest/gtest.h>

#include <functional>

namespace fetchora {
namespace {

using testing::allMatches;
using testing::errorCode;
using testing::firstMatch;
using testing::matchText;

int codeOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ERegex& e) {
        return e.Code;
    }
    return 0;
}

TEST(Regex, ConstructionDefaults) {
    TRegex regex;
    const bool expected[] = {false, true, true, true, false, false}; // i r s g m x
    for (int index = 1; index <= 6; ++index)
        EXPECT_EQ(regex.ModifierFlag(index), expected[index - 1]) << index;
    EXPECT_EQ(regex.SpaceCharacters(), " \t\n\r\f");
    EXPECT_EQ(regex.WordCharacters(),
              "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_");
    EXPECT_EQ(regex.LineBreakChars(), "\r\n");
    EXPECT_EQ(regex.LinePairedSeparator(), "\r\n");
    EXPECT_EQ(regex.MatchStart(0), -1);
    EXPECT_EQ(codeOf([&] { regex.ModifierFlag(0); }), 1013);
    EXPECT_EQ(codeOf([&] { regex.SetModifierFlag(7, true); }), 1013);
}

TEST(Regex, ExecutionErrors) {
    TRegex regex;
    EXPECT_EQ(codeOf([&] { (void)regex.InputString(); }), 1008);
    EXPECT_EQ(codeOf([&] { regex.ExecPos(1); }), 1003);
    regex.SetExpression("a");
    EXPECT_EQ(codeOf([&] { regex.ExecPos(1); }), 1005);
    EXPECT_EQ(codeOf([&] { regex.ExecNext(); }), 1005);
    TRegex unset;
    EXPECT_EQ(codeOf([&] { unset.Exec("a"); }), 1003);
    regex.SetInputString("bab");
    EXPECT_EQ(codeOf([&] { regex.ExecNext(); }), 1007);
    EXPECT_EQ(codeOf([&] { regex.ExecPos(0); }), 1006);
    EXPECT_FALSE(regex.Exec("bbb"));
    EXPECT_EQ(codeOf([&] { regex.ExecNext(); }), 1007); // the last search found nothing
    EXPECT_EQ(codeOf([&] { regex.SetLinePairedSeparator("\r\r"); }), 128);
    EXPECT_EQ(codeOf([&] { regex.SetLinePairedSeparator("x"); }), 128);
    EXPECT_EQ(regex.LinePairedSeparator(), "\r\n");
    EXPECT_EQ(codeOf([&] { regex.SetLinePairedSeparator(""); }), 0);
}

TEST(Regex, ExecNextAndExecPosContinueTheSearch) {
    TRegex regex;
    EXPECT_EQ(allMatches(regex, "ab", "abxabab"),
              (std::vector<std::string>{"1:ab", "4:ab", "6:ab"}));
    // An empty match moves the next search one position further.
    EXPECT_EQ(allMatches(regex, "a*?", "aaa"), (std::vector<std::string>{"1:", "2:", "3:"}));
    EXPECT_EQ(allMatches(regex, "b*", "abba"), (std::vector<std::string>{"2:bb"}));

    regex.SetExpression("abc");
    regex.SetInputString("abcabc");
    ASSERT_TRUE(regex.ExecPos(2));
    EXPECT_EQ(regex.MatchStart(0), 4);
    EXPECT_FALSE(regex.ExecPos(5));
    EXPECT_FALSE(regex.ExecPos(7)); // the end position is never tried
    EXPECT_FALSE(regex.ExecPos(100));
    EXPECT_EQ(regex.MatchStart(0), -1);
}

TEST(Regex, InputIsAnOwnedCopyUpToItsFirstNul) {
    TRegex regex;
    std::string text("abc\0abc", 7);
    regex.SetExpression("c");
    ASSERT_TRUE(regex.Exec(text));
    text.assign("zzzzzzz");
    EXPECT_EQ(regex.InputString(), "abc");
    EXPECT_FALSE(regex.ExecNext()); // the second c is behind the NUL
    ASSERT_TRUE(regex.Exec("xc"));
    regex.SetInputString("c");
    EXPECT_EQ(regex.MatchStart(0), -1); // a new input clears the registers
    EXPECT_EQ(regex.MatchLength(0), -1);
}

TEST(Regex, AMovedInputIsTakenOverWithoutACopy) {
    TRegex regex;
    regex.SetExpression("needle");
    std::string page(4096, 'x');
    page += "needle";
    const char* const bytes = page.data();
    ASSERT_TRUE(regex.Exec(std::move(page)));
    EXPECT_EQ(regex.InputString().data(), bytes);
    EXPECT_EQ(regex.MatchStart(0), 4097);
    std::string cut("abc\0needle", 10);
    regex.SetInputString(std::move(cut));
    EXPECT_EQ(regex.InputString(), "abc");
}

TEST(Regex, FailedCompilationLeavesNoProgramBehind) {
    TRegex regex;
    regex.SetExpression("a");
    ASSERT_TRUE(regex.Exec("a"));
    regex.SetExpression("a(");
    EXPECT_EQ(codeOf([&] { regex.Exec("a"); }), 103);
    EXPECT_EQ(codeOf([&] { regex.Exec("a"); }), 103); // not the old program
    regex.SetExpression("a");
    EXPECT_TRUE(regex.Exec("ba"));
    EXPECT_EQ(regex.MatchStart(0), 2);
}

TEST(Regex, ModifierAndCharacterSetChangesRecompile) {
    TRegex regex;
    regex.SetExpression("abc");
    EXPECT_FALSE(regex.Exec("ABC"));
    regex.SetModifierFlag(1, true);
    EXPECT_TRUE(regex.Exec("ABC"));
    regex.SetModifierFlag(1, false);
    EXPECT_FALSE(regex.Exec("ABC"));

    regex.SetExpression("\\w+");
    ASSERT_TRUE(regex.Exec("abc"));
    EXPECT_EQ(matchText(regex), "abc");
    regex.SetWordCharacters("ab");
    ASSERT_TRUE(regex.Exec("abc"));
    EXPECT_EQ(matchText(regex), "ab");
    regex.SetExpression("\\s");
    regex.SetSpaceCharacters("_");
    ASSERT_TRUE(regex.Exec("a b_"));
    EXPECT_EQ(regex.MatchStart(0), 4);
}

TEST(Regex, SearchTriesOnlyPositionsThatCanBeginAMatch) {
    // A pattern that can only match the empty string finds nothing.
    EXPECT_EQ(firstMatch("x*", "abc"), "<none>");
    EXPECT_EQ(firstMatch("a*", ""), "<none>");
    // But every character that can begin a match is considered.
    EXPECT_EQ(firstMatch("a?b", "xb"), "b");
    EXPECT_EQ(firstMatch("a*?b", "xb"), "b");
    EXPECT_EQ(firstMatch("(ab)*?c", "xc"), "c");
    EXPECT_EQ(firstMatch("(ab){0,2}c", "xc"), "c");
    EXPECT_EQ(firstMatch("x{0}y", "y"), "y");
    EXPECT_EQ(firstMatch("[xy]z|q", "aq"), "q");
    EXPECT_EQ(firstMatch("(?#c)(a|b)c", "bc"), "bc");
    EXPECT_EQ(firstMatch("(a)|\\1?b", "b"), "b");
    TRegex caseless;
    caseless.SetModifierFlag(1, true);
    EXPECT_EQ(firstMatch(caseless, "abc", "xABC"), "ABC");
}

TEST(Regex, LeadingLiteralAndAnchoredSearches) {
    EXPECT_EQ(firstMatch("abc", "aababc"), "abc");
    EXPECT_EQ(firstMatch("^a", "ba"), "<none>");
    EXPECT_EQ(firstMatch("\\Aa", "ab"), "a");
    EXPECT_EQ(firstMatch("^a|b", "cb"), "b"); // two alternatives: not anchored
    EXPECT_EQ(firstMatch("a|^b", "cb"), "<none>");
    TRegex regex;
    regex.SetExpression("^a");
    regex.SetInputString("aa");
    EXPECT_FALSE(regex.ExecPos(2)); // "^" is the start of the input, not of the search
    EXPECT_TRUE(regex.ExecPos(1));
}

TEST(Regex, RequiredLiteralOnlyRejectsTextsWithoutIt) {
    EXPECT_EQ(firstMatch("a*bcd", "xxbcd"), "bcd");
    EXPECT_EQ(firstMatch("a*bcd", "abcbc"), "<none>");
    EXPECT_EQ(firstMatch("a*b?cd", "acd"), "acd");     // b? is not required
    EXPECT_EQ(firstMatch("a*(bcd)?e", "ae"), "ae");    // nor a literal in a group
    EXPECT_EQ(firstMatch("a*(xy){0,2}z", "az"), "az"); // nor one in a loop body
    EXPECT_EQ(firstMatch("x*ab|cd", "cd"), "cd");      // nor one of several alternatives
    TRegex regex;
    regex.SetExpression("x*abc");
    regex.SetInputString("abcx");
    EXPECT_FALSE(regex.ExecPos(2)); // the literal must follow the start position
}

} // namespace
} // namespace fetchora
