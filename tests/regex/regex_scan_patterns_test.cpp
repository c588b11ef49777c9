// The four patterns the page scan runs, with the modifiers it sets (g off, i on, s on), on
// HTML with mixed case, line breaks, quotes and missing closing brackets.
#include "regex_helpers.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

using testing::allMatches;
using testing::firstMatch;
using Matches = std::vector<std::string>;

constexpr const char* kAnchor = "< *a .*>";
constexpr const char* kHref = "href *[=] *.*[ >]";
constexpr const char* kImage = "< *img.*>";
constexpr const char* kSrc = "src *= *\".*\"";

class ScanPatterns : public ::testing::Test {
protected:
    ScanPatterns() {
        regex.SetModifierFlag(4, false);
        regex.SetModifierFlag(1, true);
    }
    TRegex regex;
};

TEST_F(ScanPatterns, AnchorTagsRunToTheFirstClosingBracket) {
    EXPECT_EQ(firstMatch(regex, kAnchor, "x <A HREF=p>y</a>"), "<A HREF=p>");
    EXPECT_EQ(firstMatch(regex, kAnchor, "<a> <abbr x> <area shape=r> </a>"), "<none>");
    EXPECT_EQ(firstMatch(regex, kAnchor, "<a\thref=x> <a\r\nhref=y> <ax>"), "<none>");
    EXPECT_EQ(firstMatch(regex, kAnchor, "<  a href=x>"), "<  a href=x>");
    EXPECT_EQ(firstMatch(regex, kAnchor, "<a class=\"x\"\r\n href=\"y\">t"),
              "<a class=\"x\"\r\n href=\"y\">");
    // A tag without its ">" runs into the next one.
    EXPECT_EQ(firstMatch(regex, kAnchor, "<a href=x <a href=y>z"), "<a href=x <a href=y>");
    EXPECT_EQ(firstMatch(regex, kAnchor, "<a href=x <a href=y"), "<none>");

    const std::string page = "<html><body>\r\n<P>Links: <a href=\"one.zip\">One</a>,\r\n"
                             "<A HREF=\"Two.ZIP\">Two</A> <b>bold</b> <a name=\"top\">\r\n"
                             "<IMG SRC=\"i.gif\"><a\r\n href=x>no</a><a  href='q'>q</a>";
    Matches expected;
    for (const char* tag :
         {"<a href=\"one.zip\">", "<A HREF=\"Two.ZIP\">", "<a name=\"top\">", "<a  href='q'>"})
        expected.push_back(std::to_string(page.find(tag) + 1) + ":" + tag);
    EXPECT_EQ(allMatches(regex, kAnchor, page), expected);
}

TEST_F(ScanPatterns, HrefTakesTheFirstHrefUpToABlankOrBracket) {
    EXPECT_EQ(firstMatch(regex, kHref, "<a href=\"a.zip\">"), "href=\"a.zip\">");
    EXPECT_EQ(firstMatch(regex, kHref, "href = \"p\" >"), "href = ");
    EXPECT_EQ(firstMatch(regex, kHref, "<a HREF =x.html title=t>"), "HREF =x.html ");
    EXPECT_EQ(firstMatch(regex, kHref, "<a href=\"my file.zip\">"), "href=\"my ");
    EXPECT_EQ(firstMatch(regex, kHref, "<a title=\"href\" href=x>"), "href=x>");
    EXPECT_EQ(firstMatch(regex, kHref, "<a data-href=q href=r>"), "href=q ");
    EXPECT_EQ(firstMatch(regex, kHref, "<a name=\"top\">"), "<none>");
    EXPECT_EQ(firstMatch(regex, kHref, "<a href=x"), "<none>"); // nothing ends the value
}

TEST_F(ScanPatterns, ImageTagsAreAnyTagStartingWithImg) {
    EXPECT_EQ(allMatches(regex, kImage, "<IMG SRC=x> <imgfoo> < img\r\nsrc=y> <image> <im>"),
              (Matches{"1:<IMG SRC=x>", "13:<imgfoo>", "22:< img\r\nsrc=y>"}));
    EXPECT_EQ(firstMatch(regex, kImage, "<img src=\"a.gif\" <b>"), "<img src=\"a.gif\" <b>");
}

TEST_F(ScanPatterns, SrcNeedsADoubleQuotedValue) {
    EXPECT_EQ(firstMatch(regex, kSrc, "<img src=\"my pic.jpg\">"), "src=\"my pic.jpg\"");
    EXPECT_EQ(firstMatch(regex, kSrc, "<IMG SRC = \"X.GIF\" alt=\"y\">"), "SRC = \"X.GIF\"");
    EXPECT_EQ(firstMatch(regex, kSrc, "<img alt=\"src\" src=\"p.jpg\">"), "src=\"p.jpg\"");
    EXPECT_EQ(firstMatch(regex, kSrc, "<img src=x.png>"), "<none>");
    EXPECT_EQ(firstMatch(regex, kSrc, "<img src=\"x.jpg>"), "<none>");
}

TEST_F(ScanPatterns, ManyOpenTagsWithoutClosingBracketFindNothing) {
    std::string page;
    for (int i = 0; i < 20000; ++i)
        page += "<a ";
    EXPECT_EQ(firstMatch(regex, kAnchor, page), "<none>");
    EXPECT_EQ(firstMatch(regex, kAnchor, page + ">"), page + ">");
}

} // namespace
} // namespace fetchora
