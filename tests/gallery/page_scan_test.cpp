// The page scan on page texts (quotes, entities, descriptions, duplicates, the attribute
// quirks of the four patterns) and LoadPage on the wire against the loopback server.
#include "gallery/page_scan.h"

#include "http/http_client.h"
#include "platform/errors.h"
#include "queue/exception_list.h"
#include "support/application.h"
#include "support/loopback_server.h"
#include "support/sandbox.h"
#include "util/settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fetchora {
namespace {

using testing::Exchange;
using testing::LoopbackServer;

constexpr const char* kPage = "http://host/dir/page.html";

struct Found {
    int kind;
    std::string url;
    std::string description;
    bool operator==(const Found&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Found& f) {
    return out << "{" << f.kind << ", " << f.url << ", \"" << f.description << "\"}";
}

std::vector<Found> found(const THyperLinkList& list) {
    std::vector<Found> result;
    for (int i = 0; i < list.count(); ++i) {
        const THyperLink& e = list.GetLink(i);
        result.push_back({e.Kind, e.URL, e.Description});
    }
    return result;
}

std::vector<Found> scan(const std::string& text, THyperLinkList& list,
                        const std::string& url = kPage) {
    TPageScanner scanner;
    scanner.PageURL = url;
    scanner.PageText = text;
    scanner.ScanPage(list);
    return found(list);
}

std::vector<Found> scan(const std::string& text) {
    THyperLinkList list;
    return scan(text, list);
}

struct PageCase {
    const char* name;
    std::string text;
    std::vector<Found> expected;
};

class ScanPageCases : public ::testing::TestWithParam<PageCase> {};

TEST_P(ScanPageCases, FindsTheEntries) {
    EXPECT_EQ(scan(GetParam().text), GetParam().expected);
}

const std::string kDir = "http://host/dir";

INSTANTIATE_TEST_SUITE_P(
    Pages, ScanPageCases,
    ::testing::Values(
        PageCase{
            "SingleQuotedHref", "<a href='a.zip'>Get it</a>", {{1, kDir + "/a.zip", "Get it"}}},
        PageCase{"AddressKeepsTheCaseOfItsPath",
                 "<A HREF=\"Files/A.ZIP\">x</A>",
                 {{1, kDir + "/Files/A.ZIP", "x"}}},
        PageCase{"AbsoluteAndRootedAddresses",
                 "<a href=\"/top.zip\">t</a> <a href=\"HTTP://Other/X.zip\">o</a>",
                 {{1, "http://host/top.zip", "t"}, {1, "http://other/X.zip", "o"}}},
        PageCase{"ScriptsResolveAgainstTheHostRoot",
                 "<a href=\"cgi-bin/X.cgi\">x</a><a href=\"/CGI-BIN/y\">y</a>"
                 "<a href=\"HTTPS://S/Z\">z</a>",
                 {{1, "http://host/cgi-bin/X.cgi", "x"},
                  {1, "http://host/CGI-BIN/y", "y"},
                  {1, "https://s/Z", "z"}}},
        PageCase{"EntitiesInTheText",
                 "<a href=\"t.zip\">Tom &amp; Jerry&NBSP;</a>",
                 {{1, kDir + "/t.zip", "Tom & Jerry\xA0"}}},
        PageCase{"ApostropheBecomesAQuote",
                 "<a href=\"d.zip\">Don't stop</a><a href=\"e.zip\">it&apos;s</a>",
                 {{1, kDir + "/d.zip", "Don\"t stop"}, {1, kDir + "/e.zip", "it's"}}},
        PageCase{"WrappedImage",
                 "<a href=\"big.jpg\"><img src=\"small.jpg\"></a>",
                 {{1, kDir + "/big.jpg", ""}, {2, kDir + "/small.jpg", "[Image]"}}},
        PageCase{"LinkAndImageWithOneAddress",
                 "<img src=\"p.jpg\"><a href=\"P.jpg\">p</a>",
                 {{1, kDir + "/P.jpg", "p"}}},
        PageCase{"TwoAnchorsWithOneAddress",
                 "<a href=\"x.zip\">1</a><a href=\"X.ZIP\">2</a>",
                 {{1, kDir + "/x.zip", "1"}}},
        PageCase{"BlankAfterEqualsGivesTheFolder", "<a href= \"x.zip\">x</a>", {{1, kDir, "x"}}},
        PageCase{"UnquotedSrcGivesTheFolder", "<img src=x.png>", {{2, kDir, "[Image]"}}},
        PageCase{"NamedAnchorsLeaveOneEntry",
                 "<a name=\"one\">One</a><a name=\"two\">Two</a>",
                 {{1, kDir, "One"}}},
        PageCase{"SrcWithABlankLosesIt",
                 "<img src=\"my pic.jpg\">",
                 {{2, kDir + "/mypic.jpg", "[Image]"}}},
        PageCase{
            "HrefCutAtItsFirstBlank", "<a href=\"my file.zip\">f</a>", {{1, kDir + "/my", "f"}}},
        PageCase{"TagBrokenOverLines",
                 "<a class=\"c\"\r\n\thref=\"l.zip\"\r\n>Line\r\ntext</a>",
                 {{1, kDir + "/l.zip", "Line\r\ntext"}}},
        PageCase{"NoAnchorWithoutABlankAfterA",
                 "<abbr x>a</abbr><area href=\"q\"><a>b</a><a\nhref=\"r\">c</a>",
                 {}},
        PageCase{"HrefInsideAnotherAttribute",
                 "<a data-href=\"w.zip\" href=\"v.zip\">d</a>",
                 {{1, kDir + "/w.zip", "d"}}},
        // Two named anchors go, so the image's Number (the count after the append) falls
        // below the last link's.
        PageCase{"ImageNumberedAfterDeletionsSortsBetweenLinks",
                 "<a name=\"x\">1</a><a name=\"y\">2</a><a name=\"z\">3</a>"
                 "<a href=\"b.zip\">4</a><img src=\"i.gif\">",
                 {{1, kDir, "1"}, {2, kDir + "/i.gif", "[Image]"}, {1, kDir + "/b.zip", "4"}}},
        PageCase{"PageWithoutTags", "just text & no tags", {}}),
    [](const ::testing::TestParamInfo<PageCase>& info) { return std::string(info.param.name); });

TEST(ScanPage, DescriptionStopsAtAHundredCharactersOrTheEndOfThePage) {
    const std::string longText(150, 'x');
    auto entries = scan("<a href=\"l.zip\">" + longText + "</a>");
    ASSERT_EQ(entries.size(), 1U);
    EXPECT_EQ(entries[0].description, std::string(100, 'x'));

    entries = scan("<a href=\"e.zip\">  runs to the end  ");
    ASSERT_EQ(entries.size(), 1U);
    EXPECT_EQ(entries[0].description, "runs to the end");
}

TEST(ScanPage, EntryFieldsAndThePageTextAfterTheScan) {
    TPageScanner scanner;
    scanner.PageURL = kPage;
    scanner.PageText = "<a class='c'\thref='x.zip'\r\n>X</a>";
    THyperLinkList list;
    scanner.ScanPage(list);
    ASSERT_EQ(list.count(), 1);
    const THyperLink& e = list.GetLink(0);
    EXPECT_EQ(e.Tag, "<a class=\"c\"href=\"x.zip\">");
    EXPECT_EQ(e.BaseURL, kPage);
    EXPECT_EQ(e.Number, 1);
    // The scan gives the page back with its apostrophes replaced.
    EXPECT_EQ(scanner.PageText, "<a class=\"c\"\thref=\"x.zip\"\r\n>X</a>");
}

TEST(ScanPage, PageHoldingANulIsSearchedUpToItAndKeptWhole) {
    TPageScanner scanner;
    scanner.PageURL = kPage;
    scanner.PageText = std::string("<a href=\"a.zip\">A\0B</a><a href=\"b.zip\">b</a>", 41);
    THyperLinkList list;
    scanner.ScanPage(list);
    ASSERT_EQ(list.count(), 1);
    EXPECT_EQ(list.GetLink(0).URL, kDir + "/a.zip");
    EXPECT_EQ(list.GetLink(0).Description, std::string("A\0B", 3));
    EXPECT_EQ(scanner.PageText.size(), 41U);
}

TEST(ScanPage, EarlierEntriesStayAndOutliveTheirDuplicates) {
    THyperLinkList list;
    scan(R"(<a href="a.zip">a</a><a href="b.zip">b</a>)", list);
    scan("no tags here", list);
    EXPECT_EQ(list.count(), 2);

    const auto entries = scan(R"(<a href="c.zip">c</a><a href="A.ZIP">again</a><img src="b.zip">)",
                              list, "http://host/dir/other.html");
    EXPECT_EQ(entries, (std::vector<Found>{{1, kDir + "/a.zip", "a"},
                                           {1, kDir + "/b.zip", "b"},
                                           {1, kDir + "/c.zip", "c"}}));
    for (int i = 1; i < list.count(); ++i)
        EXPECT_LT(list.GetLink(i - 1).Number, list.GetLink(i).Number);
}

TEST(ScanPage, AnUnsplittablePageAddressEndsTheScanWithTheResolversError) {
    THyperLinkList list;
    TPageScanner scanner;
    scanner.PageURL = "nohost";
    scanner.PageText = "<a href=\"x.zip\">x</a>";
    EXPECT_THROW(scanner.ScanPage(list), ListError);
    ASSERT_EQ(list.count(), 1);
    EXPECT_EQ(list.GetLink(0).URL, "x.zip");
    EXPECT_EQ(scanner.PageText, "<a href=\"x.zip\">x</a>");
}

TEST(DecodeEntities, ReplacesTheTwelveEntitiesInTheirOrder) {
    EXPECT_EQ(DecodeEntities("&lt;b&GT; &Amp; &quot;q&quot; &apos;"), "<b> & \"q\" '");
    EXPECT_EQ(DecodeEntities("&cent;&pound;&yen;&reg;&times;&divide;&nbsp;"),
              "\xA2\xA3\xA5\xAE\xD7\xF7\xA0");
    // "&amp;" comes after "&lt;": an escaped entity stays escaped once.
    EXPECT_EQ(DecodeEntities("&amp;lt; &amp;amp;"), "&lt; &amp;");
    // Only "&quot;" comes after "&amp;", so it is decoded twice.
    EXPECT_EQ(DecodeEntities("&amp;quot;"), "\"");
    EXPECT_EQ(DecodeEntities("&#65; &copy; &lt &"), "&#65; &copy; &lt &");
}

class LoadPageOnTheWire : public ::testing::Test {
protected:
    void SetUp() override {
        testing::ensureApplication();
        setSettingsKeyPath("Software\\Fetchora");
        ExceptionList().clear();
    }
    void TearDown() override { ExceptionList().clear(); }

    static std::string ok(const std::string& body) {
        return "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\n\r\n" + body;
    }

    testing::Sandbox sandbox;
    testing::ScriptedDesktop desktop;
    LoopbackServer server;
    THttpClient client{"HttpClient1"};
    TPageScanner scanner{&client};
    THyperLinkList list;
};

TEST_F(LoadPageOnTheWire, FetchesAndScansThePage) {
    server.script({Exchange::reply(ok("<a href='f.zip'>File</a><img src=\"/i.gif\">"))});
    scanner.LoadPage(list, server.url("/dir/Page.html"));
    // The links are files of the page's own server, port included.
    EXPECT_EQ(found(list), (std::vector<Found>{{1, server.url("/dir/f.zip"), "File"},
                                               {2, server.url("/i.gif"), "[Image]"}}));
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(LoadPageOnTheWire, ARelocatedPageResolvesAgainstItsFinalAddress) {
    server.script({Exchange::reply("HTTP/1.0 302 Found\r\nLocation: " + server.url("/new/") +
                                   "\r\nContent-Length: 0\r\n\r\n"),
                   Exchange::reply(ok("<a href=\"f.zip\">File</a>"))});
    scanner.LoadPage(list, server.url("/old/page.html"));
    ASSERT_EQ(list.count(), 1);
    EXPECT_EQ(list.GetLink(0).URL, server.url("/new/f.zip"));
    EXPECT_EQ(list.GetLink(0).BaseURL, server.url("/new/"));
    EXPECT_EQ(scanner.PageURL, server.url("/new/"));
}

TEST_F(LoadPageOnTheWire, AnErrorIsShownAndTheEntriesBeforeItStay) {
    scanner.LoadPage(list, "nohost");
    ASSERT_EQ(desktop.messages.size(), 1U);
    EXPECT_EQ(desktop.messages[0].title, "Information");
    EXPECT_EQ(desktop.messages[0].text, ListError(2).what());
    EXPECT_EQ(list.count(), 0);
}

} // namespace
} // namespace fetchora
