#include "netlib/core/vqCString.h"

#include <gtest/gtest.h>

#include <string>

TEST(vqCString, InlineUpToThreeBytesThenOneHeapBuffer)
{
    vqCString text("abc");
    EXPECT_FALSE(text.UsesHeap());
    EXPECT_STREQ(text.GetString(), "abc");
    text.Append("d");
    EXPECT_TRUE(text.UsesHeap());
    EXPECT_STREQ(text.GetString(), "abcd");
    EXPECT_EQ(text.GetLength(), 4u);
    text.Assign("xy");
    EXPECT_FALSE(text.UsesHeap());
    EXPECT_STREQ(text.GetString(), "xy");
}

TEST(vqCString, AssignOfNullOrEmptyTextEmptiesTheString)
{
    vqCString text("a long text");
    text.Assign("\0abc", 4);
    EXPECT_TRUE(text.IsEmpty());
    EXPECT_STREQ(text.GetString(), "");
    text.Assign("another long text");
    text.Assign(nullptr);
    EXPECT_TRUE(text.IsEmpty());
}

TEST(vqCString, AssignAndAppendFromItsOwnBytes)
{
    vqCString text("abcdefgh");
    text.Assign(text.GetString() + 2, 4);
    EXPECT_STREQ(text.GetString(), "cdef");
    text.Append(text.GetString());
    EXPECT_STREQ(text.GetString(), "cdefcdef");
    vqCString small("a");
    small.Append(small.GetString());
    EXPECT_STREQ(small.GetString(), "aa");
}

TEST(vqCString, ManyAppendsKeepEveryByte)
{
    vqCString text;
    std::string expected;
    for (int i = 0; i < 300; ++i) {
        char piece[2] = {static_cast<char>('a' + i % 26), 0};
        text.Append(piece);
        expected += piece;
    }
    EXPECT_EQ(std::string(text.GetString()), expected);
    EXPECT_EQ(text.GetLength(), expected.size());
}

TEST(vqCString, MidBounds)
{
    struct Case {
        uint32_t start, count;
        const char* expected;
    } cases[] = {
        {2, 10, "cdef"}, {7, 1, ""}, {6, 1, ""}, {0, 6, "abcdef"}, {5, 1, "f"}, {0, 0x100001, ""}, {1, 0x100000, "bcdef"},
    };
    vqCString text("abcdef");
    for (const auto& c : cases) EXPECT_STREQ(text.Mid(c.start, c.count).GetString(), c.expected) << c.start << "," << c.count;
}

TEST(vqCString, FindBounds)
{
    vqCString text("abcabc");
    EXPECT_EQ(text.Find("c", 3), 5);
    EXPECT_EQ(text.Find("c", 0), 2);
    EXPECT_EQ(text.Find("c", 7), -1);
    EXPECT_EQ(text.Find("c", 6), -1);
    EXPECT_EQ(text.Find("x", 0), -1);
    EXPECT_EQ(text.Find(nullptr, 0), -1);
    EXPECT_EQ(vqCString().Find("a", 0), -1);
}

TEST(vqCString, MakeLowerOnlyTouchesAsciiCapitals)
{
    vqCString text("AbZ\xC3\x89@[");
    text.MakeLower();
    EXPECT_STREQ(text.GetString(), "abz\xC3\x89@[");
}

TEST(vqCString, ComparisonIsByteWise)
{
    EXPECT_TRUE(vqCString("abc") == "abc");
    EXPECT_TRUE(vqCString("abc") < vqCString("abd"));
    EXPECT_TRUE(vqCString("") == vqCString());
    vqCString copy(vqCString("copied text"));
    EXPECT_TRUE(copy == "copied text");
    EXPECT_STREQ(vqCString('z').GetString(), "z");
}
