// The list of found links: numbering, the list error, the two orders and the duplicate
// removal that every scan ends with.
#include "gallery/hyper_link.h"

#include "platform/errors.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <unordered_map>

namespace fetchora {
namespace {

THyperLink& add(THyperLinkList& list, const std::string& url) {
    THyperLink& e = list.AddLink();
    e.URL = url;
    return e;
}

TEST(HyperLinkList, AddLinkNumbersByCountAndGetLinkChecksItsIndex) {
    THyperLinkList list;
    EXPECT_EQ(list.AddLink().Number, 1);
    EXPECT_EQ(list.AddLink().Number, 2);
    list.remove(0);
    // After a deletion the next number repeats one already held.
    EXPECT_EQ(list.AddLink().Number, 2);
    EXPECT_EQ(list.GetLink(1).Number, 2);
    EXPECT_THROW(list.GetLink(2), ListError);
    EXPECT_THROW(list.GetLink(-1), ListError);
}

TEST(HyperLinkList, ComparisonsAndSort) {
    THyperLink a;
    THyperLink b;
    a.URL = "http://h/a";
    b.URL = "http://h/ab";
    EXPECT_LT(CompareLinkURL(a, b), 0);
    b.URL = "http://h/B";
    EXPECT_GT(CompareLinkURL(a, b), 0);
    a.Number = 3;
    b.Number = 2;
    EXPECT_EQ(CompareLinkNumber(a, b), 1);
    EXPECT_EQ(CompareLinkNumber(b, a), -1);
    EXPECT_EQ(CompareLinkNumber(a, a), 0);

    THyperLinkList list;
    add(list, "c");
    add(list, "a");
    add(list, "b");
    list.Sort(CompareLinkURL);
    EXPECT_EQ(list.GetLink(0).URL + list.GetLink(1).URL + list.GetLink(2).URL, "abc");
    list.Sort(CompareLinkNumber);
    EXPECT_EQ(list.GetLink(0).URL + list.GetLink(1).URL + list.GetLink(2).URL, "cab");
}

TEST(HyperLinkList, DuplicateRemovalKeepsTheFirstFoundOfEachAddress) {
    THyperLinkList list;
    add(list, "http://h/b").Description = "first b";
    add(list, "http://h/a").Description = "first a";
    add(list, "http://h/B").Description = "second b";
    add(list, "http://h/c");
    add(list, "http://h/A").Description = "second a";
    list.remove(3);
    // Numbers 1, 2, 3, 5 and, after the deletion, a second 5.
    add(list, "http://h/c").Description = "late c";
    list.RemoveDuplicateURLs();
    ASSERT_EQ(list.count(), 3);
    EXPECT_EQ(list.GetLink(0).Description, "first b");
    EXPECT_EQ(list.GetLink(1).Description, "first a");
    EXPECT_EQ(list.GetLink(2).Description, "late c");
}

TEST(HyperLinkList, DuplicateRemovalOrdersByNumberKeepingTheOrderOfEqualNumbers) {
    THyperLinkList list;
    add(list, "http://h/x").Number = 5;
    add(list, "http://h/y").Number = 2;
    add(list, "http://h/z").Number = 9;
    add(list, "http://h/w").Number = 2;
    add(list, "HTTP://H/Y").Number = 1;
    list.RemoveDuplicateURLs();
    std::string order;
    for (int i = 0; i < list.count(); ++i)
        order += list.GetLink(i).URL + " ";
    EXPECT_EQ(order, "HTTP://H/Y http://h/w http://h/x http://h/z ");
}

// Two different addresses whose hashes share the part the sort orders by still both
// stay; a spelling of one of them in capitals goes.
TEST(HyperLinkList, AddressesSharingASortKeyAreToldApart) {
    std::unordered_map<std::uint32_t, std::string> seen;
    std::string a;
    std::string b;
    for (int i = 0; a.empty(); ++i) {
        THyperLink probe;
        probe.URL = "http://h/" + std::to_string(i);
        const auto key = static_cast<std::uint32_t>(linkKey(probe).hash);
        const auto [it, inserted] = seen.emplace(key, probe.URL);
        if (!inserted) {
            a = it->second;
            b = probe.URL;
        }
    }
    THyperLinkList list;
    add(list, a);
    add(list, b);
    add(list, "HTTP://H/" + a.substr(9));
    add(list, b);
    list.RemoveDuplicateURLs();
    ASSERT_EQ(list.count(), 2);
    EXPECT_EQ(list.GetLink(0).URL, a);
    EXPECT_EQ(list.GetLink(1).URL, b);
}

} // namespace
} // namespace fetchora
