// TStringStream: writing, reading, seeking and sizing, and writing in place through
// WriteRoom and CommitWrite, alone and mixed with Write, while the block grows, and the
// hand-over of the bytes, small and large.
#include "http/stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

namespace fetchora {
namespace {

TEST(StringStream, WritesOverwriteAtThePositionAndExtendAtTheEnd) {
    TStringStream stream("hello world");
    EXPECT_EQ(stream.Position(), 0);
    EXPECT_EQ(stream.Seek(6, TSeekOrigin::soBeginning), 6);
    EXPECT_EQ(stream.Write("there!", 6), 6);
    EXPECT_EQ(stream.DataString(), "hello there!");
    EXPECT_EQ(stream.Seek(-3, TSeekOrigin::soEnd), 9);
    char out[8] = {};
    EXPECT_EQ(stream.Read(out, sizeof out), 3);
    EXPECT_STREQ(out, "re!");
    EXPECT_EQ(stream.Seek(100, TSeekOrigin::soCurrent), 12) << "kept within the size";
    EXPECT_EQ(stream.Seek(-100, TSeekOrigin::soCurrent), 0);

    stream.Seek(0, TSeekOrigin::soEnd);
    stream.SetSize(5);
    EXPECT_EQ(stream.Position(), 5) << "the position follows a cut";
    stream.SetSize(8);
    EXPECT_EQ(stream.DataString(), std::string("hello\0\0\0", 8));
    EXPECT_EQ(stream.TakeDataString(), std::string("hello\0\0\0", 8));
    EXPECT_EQ(stream.Size(), 0);
    EXPECT_EQ(stream.Position(), 0);
    EXPECT_EQ(stream.Write("x", 1), 1);
    EXPECT_EQ(stream.DataString(), "x");
}

TEST(StringStream, InPlaceWritesCountOnlyWhenCommitted) {
    TStringStream stream;
    int64_t room = 0;
    EXPECT_EQ(stream.WriteRoom(0, room), nullptr);
    EXPECT_EQ(room, 0);
    char* at = stream.WriteRoom(5, room);
    ASSERT_NE(at, nullptr);
    EXPECT_EQ(room, 5) << "no more than asked for";
    std::string_view("abcde").copy(at, 5);
    EXPECT_EQ(stream.Size(), 0) << "nothing counts before the commit";
    stream.CommitWrite(3);
    EXPECT_EQ(stream.DataString(), "abc");
    EXPECT_EQ(stream.Position(), 3);
    stream.Write("XY", 2);
    EXPECT_EQ(stream.DataString(), "abcXY");

    // A commit after another call, or beyond the room offered, takes nothing more.
    stream.WriteRoom(4, room);
    stream.Write("Z", 1);
    stream.CommitWrite(4);
    EXPECT_EQ(stream.DataString(), "abcXYZ");

    // Inside the stream there is no room: such writes overwrite through Write.
    stream.Seek(1, TSeekOrigin::soBeginning);
    EXPECT_EQ(stream.WriteRoom(4, room), nullptr);
    EXPECT_EQ(room, 0);
    stream.CommitWrite(2);
    EXPECT_EQ(stream.DataString(), "abcXYZ");
    EXPECT_EQ(stream.Position(), 1);
}

TEST(StringStream, ExpectedBytesFitTheReservedRoomExactly) {
    TStringStream stream("head:");
    stream.Seek(0, TSeekOrigin::soEnd);
    stream.Expect(1000);
    std::string expected = "head:";
    int64_t total = 0;
    while (total < 1000) {
        int64_t room = 0;
        char* at = stream.WriteRoom(300, room);
        ASSERT_NE(at, nullptr);
        ASSERT_EQ(room, std::min<int64_t>(300, 1000 - total)) << "the room ends where expected";
        std::memset(at, 'a' + static_cast<int>(total / 300), static_cast<size_t>(room));
        expected.append(static_cast<size_t>(room), static_cast<char>('a' + total / 300));
        stream.CommitWrite(room + 50); // more than the room is cut to it
        total += room;
    }
    EXPECT_EQ(stream.DataString(), expected);
    stream.Expect(-5);
    EXPECT_EQ(stream.DataString(), expected);
}

TEST(StringStream, GrowingByInPlaceWritesKeepsEveryByte) {
    // A large body of unknown length, written in place and through Write by turns, so
    // that the block grows (and moves) many times, past the size that asks for large
    // pages.
    TStringStream stream;
    std::string expected;
    expected.reserve(9u << 20);
    unsigned seed = 1;
    while (expected.size() < (9u << 20)) {
        seed = seed * 1103515245u + 12345u;
        const auto piece = static_cast<int64_t>(1 + (seed >> 8) % 70000);
        const char fill = static_cast<char>('A' + (seed >> 4) % 26);
        if ((seed & 0x100) != 0) {
            int64_t room = 0;
            char* at = stream.WriteRoom(piece, room);
            ASSERT_NE(at, nullptr);
            ASSERT_GT(room, 0);
            std::memset(at, fill, static_cast<size_t>(room));
            stream.CommitWrite(room);
            expected.append(static_cast<size_t>(room), fill);
        } else {
            const std::string bytes(static_cast<size_t>(piece), fill);
            stream.Write(bytes.data(), piece);
            expected += bytes;
        }
    }
    ASSERT_EQ(stream.Size(), static_cast<int64_t>(expected.size()));
    EXPECT_TRUE(stream.View() == expected);
    EXPECT_TRUE(stream.TakeDataString() == expected);
}

TEST(StringStream, TakeDataStringHandsTheBlockOverWithoutACopy) {
    TStringStream stream;
    const std::string page(100000, 'p');
    stream.Write(page.data(), static_cast<int64_t>(page.size()));
    const char* const bytes = stream.View().data();
    const std::string taken = stream.TakeDataString();
    EXPECT_EQ(taken.data(), bytes);
    EXPECT_EQ(taken, page);
    EXPECT_EQ(stream.Size(), 0);

    // A body past the largest string block moves to a block of its own on the way and
    // keeps every byte, written and read in place alike.
    std::string large;
    for (int i = 0; large.size() < (size_t{20} << 20); ++i)
        large += std::to_string(i) + ",";
    for (size_t at = 0; at < large.size();) {
        int64_t room = 0;
        char* into = stream.WriteRoom(1 << 20, room);
        ASSERT_NE(into, nullptr);
        const size_t n = std::min(static_cast<size_t>(room), large.size() - at);
        large.copy(into, n, at);
        stream.CommitWrite(static_cast<int64_t>(n));
        at += n;
    }
    EXPECT_TRUE(stream.View() == large);
    EXPECT_TRUE(stream.TakeDataString() == large);
}

TEST(StringStream, ALargeBodyGrownAsAnnouncedKeepsEveryByteThroughTheHandOver) {
    // As the client grows a counted body: room announced ahead by what has arrived, the
    // block remapped past the string limit, and once the rest is announced, the move
    // into the string that is then handed over as it is.
    TStringStream stream;
    std::string expected;
    const size_t total = (size_t{40} << 20) + 12345;
    while (expected.size() < total) {
        const size_t rest = total - expected.size();
        const size_t ahead = std::min(rest, std::max<size_t>(64 << 10, expected.size()));
        if (ahead == rest)
            stream.ExpectEnd(static_cast<int64_t>(ahead));
        else
            stream.Expect(static_cast<int64_t>(ahead));
        int64_t room = 0;
        char* at = stream.WriteRoom(1 << 20, room);
        ASSERT_NE(at, nullptr);
        ASSERT_LE(static_cast<size_t>(room), rest) << "no room past the announced end";
        for (int64_t i = 0; i < room; ++i)
            at[i] = static_cast<char>((expected.size() + static_cast<size_t>(i)) * 7 / 3);
        expected.append(at, static_cast<size_t>(room));
        stream.CommitWrite(room);
    }
    ASSERT_TRUE(stream.View() == expected);
    const char* const bytes = stream.View().data();
    const std::string taken = stream.TakeDataString();
    EXPECT_EQ(taken.data(), bytes);
    EXPECT_TRUE(taken == expected);

    // A body whose end is announced while it is still in the string stays there.
    stream.Write(expected.data(), 12 << 20);
    stream.ExpectEnd(12 << 20);
    stream.Write(expected.data() + (12 << 20), 12 << 20);
    const char* const inString = stream.View().data();
    const std::string second = stream.TakeDataString();
    EXPECT_EQ(second.data(), inString);
    EXPECT_TRUE(second == expected.substr(0, 24 << 20));

    // A large block cut and extended reads as zeros where bytes were before, and its
    // hand-over copies them all.
    expected.resize(size_t{20} << 20);
    stream.Write(expected.data(), static_cast<int64_t>(expected.size()));
    stream.SetSize(static_cast<int64_t>(expected.size() - 5000));
    stream.SetSize(static_cast<int64_t>(expected.size() + 3000));
    expected.replace(expected.size() - 5000, 5000, 8000, '\0');
    EXPECT_TRUE(stream.View() == expected);
    EXPECT_TRUE(stream.TakeDataString() == expected);
    EXPECT_EQ(stream.Size(), 0);
}

} // namespace
} // namespace fetchora
