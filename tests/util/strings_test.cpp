// Splitting at a character and into lines, fields of delimited texts and sizes for people.
#include "util/strings.h"

#include "platform/errors.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <locale.h> // NOLINT(modernize-deprecated-headers): newlocale is POSIX
#include <string>
#include <vector>

namespace fetchora {
namespace {

// Sets LC_ALL for the life of the object, as the user's locale the size format reads.
class UserLocale final {
public:
    explicit UserLocale(const char* name) {
        const char* value = std::getenv("LC_ALL");
        had_ = value != nullptr;
        if (had_)
            previous_ = value;
        ::setenv("LC_ALL", name, 1);
    }
    ~UserLocale() {
        if (had_)
            ::setenv("LC_ALL", previous_.c_str(), 1);
        else
            ::unsetenv("LC_ALL");
    }
    UserLocale(const UserLocale&) = delete;
    UserLocale& operator=(const UserLocale&) = delete;

private:
    bool had_ = false;
    std::string previous_;
};

TEST(SplitAt, EverySeparatorSplitsAndEmptyPiecesStay) {
    using Pieces = std::vector<std::string>;
    EXPECT_EQ(splitAt("", '\t'), Pieces{""});
    EXPECT_EQ(splitAt("a\tb", '\t'), (Pieces{"a", "b"}));
    EXPECT_EQ(splitAt("\ta\t\t", '\t'), (Pieces{"", "a", "", ""}));
    EXPECT_EQ(splitAt("http://h/p", '/'), (Pieces{"http:", "", "h", "p"}));
}

TEST(SplitLines, BreaksAtEveryLineEndAndDropsOnlyAFinalEmptyLine) {
    using Lines = std::vector<std::string>;
    EXPECT_EQ(splitLines(""), Lines{});
    EXPECT_EQ(splitLines("a\r\nb\nc\rd"), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(splitLines("a\r\n"), Lines{"a"});
    EXPECT_EQ(splitLines("a\r\n\r\nb"), (Lines{"a", "", "b"}));
    EXPECT_EQ(splitLines("\n"), Lines{""});
    EXPECT_EQ(splitLines("a\n\r"), (Lines{"a", ""})) << "LF CR is two line ends";
}

TEST(Field, CutsTheNumberedFieldAndRefusesOnePastTheEnd) {
    EXPECT_EQ(field("a,b,c", ",", 0), "a");
    EXPECT_EQ(field("a,b,c", ",", 2), "c");
    EXPECT_EQ(field("a,,c", ",", 1), "");
    EXPECT_EQ(field("one::two::three", "::", 1), "two");
    EXPECT_EQ(field("a,b\r\nc", ",", 2), "c") << "a line break separates too";
    EXPECT_EQ(field("http://x/a.zip\t12\t0", "\t", 1), "12");
    try {
        field("a,b,c", ",", 3);
        FAIL() << "no error";
    } catch (const ListError& error) {
        EXPECT_STREQ(error.what(), "List index out of bounds (3)");
        EXPECT_EQ(error.index(), 3);
    }
    // A trailing separator gives no empty last field.
    EXPECT_THROW(field("a,b,", ",", 2), ListError);
    EXPECT_THROW(field("", ",", 0), ListError);
    EXPECT_EQ(field(",", ",", 0), "");
    EXPECT_THROW(field(",", ",", 1), ListError);
    EXPECT_THROW(field("a", ",", -1), ListError);
}

TEST(FormatSize, UsesStrictBoundariesBetweenUnits) {
    struct Case {
        int64_t bytes;
        const char* shown;
    };
    const Case cases[] = {
        {0, "0 Bytes"},           {1, "1 Bytes"},
        {1000, "1000 Bytes"},     {1001, "1.0 KB"},
        {1049, "1.0 KB"},         {1050, "1.1 KB"},
        {999999, "1000.0 KB"},    {1000000, "1000.0 KB"},
        {1000001, "1.0 MB"},      {1000000000, "1000.0 MB"},
        {1000000001, "1.0 GB"},   {2147483647, "2.1 GB"},
        {-5, "-5 Bytes"},         {4294967296LL, "4.3 GB"},
        {5368709120LL, "5.4 GB"}, {1234567890123LL, "1234.6 GB"},
    };
    const UserLocale plain("C");
    for (const Case& c : cases)
        EXPECT_EQ(formatSize(c.bytes), c.shown) << c.bytes;
}

TEST(FormatSize, TakesTheDecimalPointFromTheUsersLocale) {
    const char* candidates[] = {"de_DE.UTF-8", "de_DE.utf8",  "fr_FR.UTF-8", "fr_FR.utf8",
                                "nl_NL.UTF-8", "ru_RU.UTF-8", "es_ES.UTF-8", "it_IT.UTF-8"};
    const char* found = nullptr;
    for (const char* name : candidates) {
        locale_t probe = ::newlocale(LC_NUMERIC_MASK, name, static_cast<locale_t>(nullptr));
        if (probe != static_cast<locale_t>(nullptr)) {
            ::freelocale(probe);
            found = name;
            break;
        }
    }
    if (found == nullptr)
        GTEST_SKIP() << "no locale with a decimal comma is installed (tried de_DE, fr_FR, nl_NL, "
                        "ru_RU, es_ES, it_IT)";
    const UserLocale user(found);
    EXPECT_EQ(formatSize(1500), "1,5 KB");
    EXPECT_EQ(formatSize(2500000), "2,5 MB");
    EXPECT_EQ(formatSize(999), "999 Bytes");
}

TEST(FoldedText, SpellingsOfOneTextMeetAndOthersDoNot) {
    // Lengths around a word of eight, capitals at every place, Windows-1252 letters.
    const std::string texts[] = {"a", "http://H/A.ZIP", "HTTP://EXAMPLE.ORG/DIR/\xC4RGER.Zip",
                                 "@[`{", "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"};
    for (const std::string& text : texts) {
        std::string lower = text;
        for (char& c : lower)
            c = static_cast<char>(text::ansiLower(static_cast<unsigned char>(c)));
        SCOPED_TRACE(text);
        EXPECT_EQ(foldedKey(text), lower);
        EXPECT_EQ(foldedHash(text), foldedHash(lower));
        EXPECT_TRUE(sameFolded(text, lower));
    }
    // The bytes just outside A to Z are no capitals.
    EXPECT_FALSE(sameFolded("@[", "`{"));
    EXPECT_NE(foldedHash("@[@[@[@[@["), foldedHash("`{`{`{`{`{"));
    EXPECT_FALSE(sameFolded("a.zip", "a.zi"));
    EXPECT_NE(foldedHash("abcdefgh"), foldedHash(std::string("abcdefgh\0", 9)));
}

TEST(CompareReals, IsAnAscendingThreeWayComparison) {
    EXPECT_EQ(compareReals(2.5, 1.0), 1);
    EXPECT_EQ(compareReals(-1.0, 1.0), -1);
    EXPECT_EQ(compareReals(3.0, 3.0), 0);
}

} // namespace
} // namespace fetchora
