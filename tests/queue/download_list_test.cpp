// The queue file's load and save rules and the list operations of TDownloadList.
#include "queue/download_list.h"

#include "platform/errors.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace fetchora {
namespace {

using testing::Sandbox;

std::unique_ptr<TDownload> entry(const std::string& url, const std::string& name,
                                 int64_t downloaded = 0, int64_t size = 10) {
    auto e = std::make_unique<TDownload>();
    e->URL = url;
    e->FileName = name;
    e->Downloaded = downloaded;
    e->FileSize = size;
    return e;
}

std::vector<std::string> urls(const TDownloadList& list) {
    std::vector<std::string> result;
    result.reserve(static_cast<size_t>(list.count()));
    for (int i = 0; i < list.count(); ++i)
        result.push_back(list[i].URL);
    return result;
}

class DownloadListTest : public ::testing::Test {
protected:
    Sandbox sandbox_;
    std::string path_ = sandbox_.libraryPath("downloads.txt");

    void write(const std::string& bytes) { Sandbox::writeFile(path_, bytes); }
    std::string read() const { return Sandbox::readFile(path_); }
};

TEST_F(DownloadListTest, SaveWritesExactLinesInOrderOfAddition) {
    TDownloadList list;
    list.Add(entry("http://h/z.zip", "z.zip", 5, 100));
    list.Add(entry("http://h/a.zip", "a.zip", 0, -1));
    list.SaveToFile(path_);
    EXPECT_EQ(read(), "http://h/z.zip\tz.zip\t5\t100\r\nhttp://h/a.zip\ta.zip\t0\t-1\r\n");
    EXPECT_EQ(urls(list), (std::vector<std::string>{"http://h/z.zip", "http://h/a.zip"}));

    TDownloadList empty;
    empty.SaveToFile(path_);
    EXPECT_EQ(read(), "");
}

TEST_F(DownloadListTest, SaveKeepsOneEntryOfEveryAddressWhateverItsSpelling) {
    TDownloadList list;
    list.Add(entry("http://h/b.zip", "b.zip"));
    list.Add(entry("http://h/a.zip", "a.zip"));
    list.Add(entry("http://h/b.zip", "b.zip"));
    list.Add(entry("http://h/A.ZIP", "A.ZIP"));
    list.Add(entry("http://h/B.zip", "B.zip"));
    list.SaveToFile(path_);
    // Sorted with case the spellings would run A.ZIP, B.zip, a.zip, b.zip, b.zip and
    // never meet; with case folded they do, and the entry added first stays as written.
    EXPECT_EQ(urls(list), (std::vector<std::string>{"http://h/b.zip", "http://h/a.zip"}));

    TDownloadList mixed;
    mixed.Add(entry("http://h/x/A.zip", "1"));
    mixed.Add(entry("http://h/x/a.zip", "2"));
    mixed.Add(entry("http://h/x/b.zip", "3"));
    mixed.SaveToFile(path_);
    EXPECT_EQ(read(), "http://h/x/A.zip\t1\t0\t10\r\nhttp://h/x/b.zip\t3\t0\t10\r\n");
}

TEST_F(DownloadListTest, SizesPastFourGigabytesSurviveTheQueueFile) {
    TDownloadList list;
    list.Add(entry("http://h/Big.ISO", "Big.ISO", 4294967296LL + 17, 5368709120LL));
    list.Add(entry("http://h/huge", "huge", 0, 9007199254740993LL));
    list.SaveToFile(path_);
    EXPECT_EQ(read(), "http://h/Big.ISO\tBig.ISO\t4294967313\t5368709120\r\n"
                      "http://h/huge\thuge\t0\t9007199254740993\r\n");

    TDownloadList loaded;
    loaded.LoadFromFile(path_);
    ASSERT_EQ(loaded.count(), 2);
    EXPECT_EQ(loaded[0].Downloaded, 4294967313LL);
    EXPECT_EQ(loaded[0].FileSize, 5368709120LL);
    EXPECT_EQ(loaded[1].FileSize, 9007199254740993LL);
    EXPECT_EQ(loaded.TotalSize(), 5368709120LL + 9007199254740993LL);

    // Numbers out of the 64-bit range read as 0, as any other text that is no number;
    // the forms the older reader took ("$" hexadecimal, a sign) still read.
    write("a\ta\t99999999999999999999\t-9223372036854775808\r\nb\tb\t$10\t+7\r\n");
    loaded.LoadFromFile(path_);
    EXPECT_EQ(loaded[0].Downloaded, 0);
    EXPECT_EQ(loaded[0].FileSize, INT64_MIN);
    EXPECT_EQ(loaded[1].Downloaded, 16);
    EXPECT_EQ(loaded[1].FileSize, 7);
}

TEST_F(DownloadListTest, RemoveIfKeepsTheOthersInOrderWithTheirOrder) {
    TDownloadList list;
    for (const char* name : {"a", "b", "c", "d"})
        list.Add(entry(std::string("http://h/") + name, name));
    list.removeIf([](const TDownload& e) { return e.FileName == "a" || e.FileName == "c"; });
    EXPECT_EQ(urls(list), (std::vector<std::string>{"http://h/b", "http://h/d"}));
    EXPECT_EQ(list[0].Order, 1);
    EXPECT_EQ(list[1].Order, 3);
}

TEST_F(DownloadListTest, LoadReadsFieldsAndNumbersEntriesByLine) {
    write("http://h/1.zip\tone.zip\t7\t100\r\n"
          "http://h/2.zip\ttwo.zip\r\n"
          "http://h/3.zip\tthree.zip\tseven\t100\r\n"
          "http://h/4.zip\tfour.zip\t$10\tx\n"
          " http://h/5.zip\t\t1\t2\t3\r\n"
          "http://h/6.zip\tsix.zip\t\t-5");
    TDownloadList list;
    list.Add(entry("http://old", "old"));
    list.LoadFromFile(path_);
    ASSERT_EQ(list.count(), 6);
    EXPECT_EQ(list[0].URL, "http://h/1.zip");
    EXPECT_EQ(list[0].FileName, "one.zip");
    EXPECT_EQ(list[0].Downloaded, 7);
    EXPECT_EQ(list[0].FileSize, 100);
    EXPECT_EQ(list[1].Downloaded, 0);
    EXPECT_EQ(list[1].FileSize, 0);
    EXPECT_EQ(list[2].Downloaded, 0);
    EXPECT_EQ(list[2].FileSize, 100);
    EXPECT_EQ(list[3].Downloaded, 16);
    EXPECT_EQ(list[3].FileSize, 0);
    EXPECT_EQ(list[4].URL, " http://h/5.zip");
    EXPECT_EQ(list[4].FileName, "");
    EXPECT_EQ(list[5].Downloaded, 0);
    EXPECT_EQ(list[5].FileSize, -5);
    for (int i = 0; i < list.count(); ++i)
        EXPECT_EQ(list[i].Order, i);
    EXPECT_TRUE(list[0].ErrorText.empty());
}

TEST_F(DownloadListTest, DamagedLineStopsTheLoad) {
    struct Case {
        const char* content;
        int loaded;
        const char* message;
    };
    const Case cases[] = {
        {"http://h/1\ta\r\n\r\nhttp://h/2\tb\r\n", 1, "List index out of bounds (0)"},
        {"http://h/1\ta\r\nhttp://h/2\tb\r\n\r\n", 2, "List index out of bounds (0)"},
        {"http://h/1\ta\r\nno tab here\r\nhttp://h/2\tb\r\n", 1, "List index out of bounds (1)"},
        // A lone CR ends a line as LF and CR LF do: CR CR LF holds an empty line.
        {"http://h/1\ta\rhttp://h/2\tb\nhttp://h/3\tc\r\r\nhttp://h/4\td", 3,
         "List index out of bounds (0)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        write(c.content);
        TDownloadList list;
        try {
            list.LoadFromFile(path_);
            FAIL() << "the damaged file loaded";
        } catch (const ListError& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
        EXPECT_EQ(list.count(), c.loaded);
    }
}

TEST_F(DownloadListTest, EmptyFileIsAnEmptyQueueAndMissingFileAnError) {
    write("");
    TDownloadList list;
    list.Add(entry("http://old", "old"));
    list.LoadFromFile(path_);
    EXPECT_EQ(list.count(), 0);

    EXPECT_THROW(list.LoadFromFile(sandbox_.libraryPath("missing.txt")), StreamError);
}

TEST_F(DownloadListTest, SaveRestoresTheOrderThroughTheFile) {
    TDownloadList list;
    list.Add(entry("http://h/c", "c", 1, 3));
    list.Add(entry("http://h/a", "a", 2, 4));
    list.Add(entry("http://h/b", "b", 3, 5));
    list.move(2, 0); // b, c, a
    list.Renumber();
    list.SaveToFile(path_);
    EXPECT_EQ(read(), "http://h/b\tb\t3\t5\r\nhttp://h/c\tc\t1\t3\r\nhttp://h/a\ta\t2\t4\r\n");

    TDownloadList loaded;
    loaded.LoadFromFile(path_);
    loaded.SaveToFile(path_);
    EXPECT_EQ(read(), "http://h/b\tb\t3\t5\r\nhttp://h/c\tc\t1\t3\r\nhttp://h/a\ta\t2\t4\r\n");
}

TEST_F(DownloadListTest, SaveReplacesTheWholeFileKeepingItsMode) {
    write("old\tcontent\r\n");
    ::chmod(path_.c_str(), 0640);
    TDownloadList list;
    list.Add(entry("http://h/a", "a"));
    list.SaveToFile(path_);
    struct stat info {};
    ASSERT_EQ(::stat(path_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(read(), "http://h/a\ta\t0\t10\r\n");

    EXPECT_THROW(list.SaveToFile(sandbox_.path("no-such-folder/downloads.txt")), Error);
}

TEST(DownloadList, AddNumbersAndRemoveAndMoveKeepOthers) {
    TDownloadList list;
    list.Add(entry("u0", "n0"));
    list.Add(entry("u1", "n1"));
    list.Add(entry("u2", "n2"));
    list.remove(0);
    // Add takes the current count, so two entries may share an Order.
    EXPECT_EQ(list.Add(entry("u3", "n3")).Order, 2);
    EXPECT_EQ(list[1].Order, 2);
    list.move(0, 2);
    EXPECT_EQ(urls(list), (std::vector<std::string>{"u2", "u3", "u1"}));
    list.move(2, 0);
    EXPECT_EQ(urls(list), (std::vector<std::string>{"u1", "u2", "u3"}));

    EXPECT_THROW(list.at(3), ListError);
    EXPECT_THROW(list.at(-1), ListError);
    EXPECT_THROW(list.remove(3), ListError);
    EXPECT_THROW(list.move(0, 3), ListError);
    EXPECT_THROW(list.move(5, 0), ListError);
    EXPECT_EQ(list.count(), 3);

    std::unique_ptr<TDownload> taken = list.extract(1);
    EXPECT_EQ(taken->URL, "u2");
    EXPECT_EQ(list.count(), 2);
    list.clear();
    EXPECT_EQ(list.count(), 0);
}

TEST(DownloadList, TotalSizeSumsPastTwoGigabytes) {
    TDownloadList list;
    EXPECT_EQ(list.TotalSize(), 0);
    list.Add(entry("a", "a", 0, 100));
    list.Add(entry("b", "b", 0, 23));
    EXPECT_EQ(list.TotalSize(), 123);
    list.Add(entry("c", "c", 0, 2000000000));
    list.Add(entry("d", "d", 0, 2000000000));
    EXPECT_EQ(list.TotalSize(), 4000000123LL);
}

TEST(DownloadList, NamesUniqueIgnoresCase) {
    TDownloadList list;
    EXPECT_TRUE(list.NamesUnique());
    list.Add(entry("u1", "a.zip"));
    list.Add(entry("u2", "b.zip"));
    EXPECT_TRUE(list.NamesUnique());
    list.Add(entry("u3", "A.ZIP"));
    EXPECT_FALSE(list.NamesUnique());
    list[2].FileName = "\xC4.zip"; // Windows-1252 capital A with diaeresis
    list[1].FileName = "\xE4.ZIP";
    EXPECT_FALSE(list.NamesUnique());
}

TEST(DownloadList, PrefixNamesNumbersEveryEntry) {
    TDownloadList list;
    list.Add(entry("u1", "a.zip"));
    list.Add(entry("u2", "a.zip"));
    list.Add(entry("u3", "other.zip"));
    list.PrefixNames();
    EXPECT_EQ(list[0].FileName, "00000_a.zip");
    EXPECT_EQ(list[1].FileName, "00001_a.zip");
    EXPECT_EQ(list[2].FileName, "00002_other.zip");
    EXPECT_TRUE(list.NamesUnique());

    TDownloadList big;
    for (int i = 0; i <= 100000; ++i)
        big.Add(entry("u", "f"));
    big.PrefixNames();
    EXPECT_EQ(big[99999].FileName, "99999_f");
    EXPECT_EQ(big[100000].FileName, "100000_f");
}

TEST(DownloadList, UnsafeFileNames) {
    for (const std::string& name :
         std::vector<std::string>{"", ".", "..", "a/b", "/etc", std::string("a\0b", 3)})
        EXPECT_FALSE(isSafeFileName(name)) << name;
    for (const std::string& name : std::vector<std::string>{"a.zip", "...", "..a", ".hidden"})
        EXPECT_TRUE(isSafeFileName(name)) << name;
}

} // namespace
} // namespace fetchora
