#include "netlib/core/vqCPtrList.h"
#include "netlib/core/vqCStringTokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(vqCPtrList, IndexedAccessAndRemoval)
{
    int a = 1, b = 2, c = 3;
    vqCPtrList list;
    EXPECT_EQ(list.GetHead(), nullptr);
    list.AddTail(&a);
    list.AddTail(&b);
    list.AddTail(&c);
    EXPECT_EQ(list.GetCount(), 3);
    EXPECT_EQ(list.GetAt(-1), nullptr);
    EXPECT_EQ(list.GetAt(3), nullptr);
    EXPECT_EQ(list.GetAt(2), &c);
    EXPECT_EQ(list.RemoveAt(1), &b);
    EXPECT_EQ(list.GetAt(1), &c);
    EXPECT_EQ(list.Remove(&b), nullptr);
    EXPECT_EQ(list.Remove(&a), &a);
    EXPECT_EQ(list.GetHead(), &c);
    EXPECT_EQ(list.GetCount(), 1);
    EXPECT_EQ(list.RemoveAt(0), &c);
    EXPECT_EQ(list.GetHead(), nullptr);
    list.AddTail(&a); // usable again after emptying
    EXPECT_EQ(list.GetAt(0), &a);
}

TEST(vqCPtrList, RemoveAllFreesNodesButNotValues)
{
    std::vector<std::string*> values = {new std::string("x"), new std::string("y"), new std::string("z")};
    vqCPtrList list;
    for (auto* value : values) list.AddTail(value);
    list.RemoveAll();
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetHead(), nullptr);
    EXPECT_EQ(list.GetAt(0), nullptr);
    for (auto* value : values) {
        EXPECT_EQ(value->size(), 1u); // still alive
        delete value;
    }
}

TEST(vqCStringTokenizer, DropsEmptyTokens)
{
    struct Case {
        const char* text;
        std::vector<std::string> tokens;
    } cases[] = {
        {"|a||bc|", {"a", "bc"}},
        {"a", {"a"}},
        {"", {}},
        {"|||", {}},
        {"http://a/x|http://b/x", {"http://a/x", "http://b/x"}},
    };
    vqCStringTokenizer tokenizer;
    for (const auto& c : cases) {
        tokenizer.Split(c.text, '|');
        std::vector<std::string> got;
        while (tokenizer.HasMoreTokens()) got.emplace_back(tokenizer.NextToken());
        EXPECT_EQ(got, c.tokens) << c.text;
        EXPECT_EQ(tokenizer.NextToken(), nullptr);
    }
}
