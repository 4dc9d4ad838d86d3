// The XML reader: its defined quirks as one table, the update description's
// shape, the mends (bounded buffers and names, numeric references, a bare
// '&'), and inputs cut at every length, which must never be read past their
// end (the sanitizer build checks that).

#include "netlib/xml/CXMLParserOstrel.h"
#include "netlib/xml/XMLText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>

namespace {

constexpr const char* kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

std::string Attribute(const CXMLParserOstrel& parser, const CXMLElement* element, const char* name)
{
    char buffer[256];
    const int length = parser.GetAttribute(element, name, buffer, sizeof buffer);
    return length ? std::string(buffer, length) : std::string();
}

std::string Name(const CXMLElement* element)
{
    char buffer[256];
    const int length = element->GetName(buffer, sizeof buffer, false);
    return std::string(buffer, length);
}

struct EdgeCase {
    const char* label;
    std::string text;
    int status;
    const char* rootName; // null: no root
    std::function<void(const CXMLParserOstrel&)> check;
};

} // namespace

TEST(CXMLParserOstrel, EdgeCases)
{
    const std::string bom = CXMLParserOstrel::kByteOrderMark;
    const EdgeCase cases[] = {
        {"empty text", "", 0, "root",
         [](const CXMLParserOstrel& p) {
             EXPECT_EQ(p.GetDocument()->GetDeclaration(), CXMLParserOstrel::kDefaultDeclaration);
             EXPECT_EQ(strlen(CXMLParserOstrel::kDefaultDeclaration), 56u);
             EXPECT_EQ(p.GetChildCount(p.GetRoot()), 0);
         }},
        {"no declaration", "<list><item/></list>", 1, "list",
         [bom](const CXMLParserOstrel& p) {
             EXPECT_EQ(p.GetDocument()->GetDeclaration(), bom + CXMLParserOstrel::kDefaultDeclaration);
             EXPECT_NE(p.FindChild(p.GetRoot(), "item"), nullptr);
         }},
        {"nested all/all", std::string(kDeclaration) + "<list><all><all url=\"a&amp;b\" hash=\"c\"/></all></list>", 0, "list",
         [](const CXMLParserOstrel& p) {
             const CXMLElement* outer = p.FindChild(p.GetRoot(), "ALL");
             ASSERT_NE(outer, nullptr);
             const CXMLElement* inner = p.FindChild(outer, "all");
             ASSERT_NE(inner, nullptr);
             EXPECT_NE(inner, outer);
             char buffer[16];
             EXPECT_EQ(p.GetAttribute(inner, "url", buffer, sizeof buffer), 3);
             EXPECT_STREQ(buffer, "a&b");
             EXPECT_EQ(p.GetAttribute(inner, "size", buffer, sizeof buffer), 0);
             EXPECT_EQ(Attribute(p, inner, "hash"), "c");
         }},
        {"unclosed child", std::string(kDeclaration) + "<a><b></a>", 2, nullptr, nullptr},
        {"text trimmed", std::string(kDeclaration) + "<a> \r\n\t<b/>\n  x y \t<c/>\r\n  \n</a>", 0, "a",
         [](const CXMLParserOstrel& p) {
             const auto& texts = p.GetRoot()->GetTexts();
             ASSERT_EQ(texts.size(), 1u);
             EXPECT_EQ(texts[0]->GetText(), "x y");
             EXPECT_EQ(texts[0]->GetPosition(), 1);
             EXPECT_EQ(p.GetChildCount(p.GetRoot()), 2);
         }},
        {"CDATA holds a tag", std::string(kDeclaration) + "<a><![CDATA[<x>]]></a>", 0, "a",
         [](const CXMLParserOstrel& p) {
             const auto& cdata = p.GetRoot()->GetCData();
             ASSERT_EQ(cdata.size(), 1u);
             EXPECT_EQ(cdata[0]->GetText(), "<x>");
             EXPECT_EQ(p.GetChildCount(p.GetRoot()), 0);
         }},
        {"single quotes", std::string(kDeclaration) + "<a><e k='v' m=\"w\"/></a>", 0, "a",
         [](const CXMLParserOstrel& p) {
             const CXMLElement* e = p.FindChild(p.GetRoot(), "e");
             ASSERT_NE(e, nullptr);
             ASSERT_EQ(e->GetAttributes().size(), 1u);
             EXPECT_EQ(e->GetAttributes()[0]->GetStoredName(), "k");
             // From the first single quote up to the '=' of m.
             EXPECT_EQ(Attribute(p, e, "k"), "'v' m=");
             EXPECT_EQ(p.FindAttribute(e, "m"), nullptr);
         }},
    };
    for (const EdgeCase& c : cases) {
        SCOPED_TRACE(c.label);
        CXMLParserOstrel parser;
        const CXMLDocument* document = parser.Load(c.text.c_str());
        ASSERT_NE(document, nullptr);
        EXPECT_EQ(document->GetStatus(), c.status);
        if (!c.rootName) {
            EXPECT_EQ(parser.GetRoot(), nullptr);
            continue;
        }
        ASSERT_NE(parser.GetRoot(), nullptr);
        EXPECT_EQ(Name(parser.GetRoot()), c.rootName);
        if (c.check) c.check(parser);
    }
}

TEST(CXMLParserOstrel, NullTextAndReload)
{
    CXMLParserOstrel parser;
    EXPECT_EQ(parser.GetRoot(), nullptr);
    EXPECT_EQ(parser.Load(nullptr)->GetStatus(), 0);
    EXPECT_EQ(Name(parser.GetRoot()), "root");
    parser.Load("<?xml?><a><b/></a>");
    EXPECT_EQ(Name(parser.GetRoot()), "a");
    EXPECT_EQ(parser.GetChildCount(parser.GetRoot()), 1);
    // A declaration and nothing else: no element.
    EXPECT_EQ(parser.Load("<?xml?>  ")->GetStatus(), 1);
    EXPECT_EQ(Name(parser.GetRoot()), "root");
    // Comments only: still no element; the comment belongs to the declaration.
    EXPECT_EQ(parser.Load("<?xml?><!--note-->")->GetStatus(), 1);
    ASSERT_EQ(parser.GetDocument()->GetDeclarationNodes().size(), 1u);
    EXPECT_EQ(parser.GetDocument()->GetDeclarationNodes()[0]->GetText(), "note");
    EXPECT_EQ(parser.GetChildCount(nullptr), 0);
    EXPECT_EQ(parser.FindChild(nullptr, "a"), nullptr);
    EXPECT_EQ(parser.FindChild(parser.GetRoot(), nullptr), nullptr);
}

TEST(CXMLParserOstrel, UpdateDescriptionShape)
{
    const std::string text = std::string(kDeclaration) +
        "\r\n<!-- engine update -->\r\n"
        "<ZDRDownload>\r\n"
        "  <file>\r\n"
        "    <ZDRDownloadV32.exe ver=\"1.0.0.10\" url=\"http://u.test/v3/ZDRDownloadV32.exe.zip\" hash=\"http://u.test/v3/ZDRDownloadV32.exe.md4\"/>\r\n"
        "    <engine.dll url=\"http://u.test/v3/engine.dll.7z\" hash=\"http://u.test/v3/engine.dll.md4\"/>\r\n"
        "  </file>\r\n"
        "  <all>\r\n"
        "    <all url=\"http://u.test/v3/all.7z?a=1&amp;b=2\" hash=\"http://u.test/v3/all.md4\"/>\r\n"
        "  </all>\r\n"
        "</ZDRDownload>\r\n";
    CXMLParserOstrel parser;
    ASSERT_EQ(parser.Load(text.c_str())->GetStatus(), 0);
    const CXMLElement* root = parser.GetRoot();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(Name(root), "ZDRDownload");
    ASSERT_EQ(parser.GetDocument()->GetDeclarationNodes().size(), 1u);
    EXPECT_EQ(parser.GetDocument()->GetDeclarationNodes()[0]->GetText(), " engine update ");

    const CXMLElement* files = parser.FindChild(root, "FILE");
    ASSERT_NE(files, nullptr);
    EXPECT_EQ(parser.GetChildCount(files), 2);
    const CXMLElement* exe = parser.FindChild(files, "zdrdownloadv32.EXE");
    ASSERT_NE(exe, nullptr);
    EXPECT_EQ(Attribute(parser, exe, "ver"), "1.0.0.10");
    EXPECT_EQ(Attribute(parser, exe, "url"), "http://u.test/v3/ZDRDownloadV32.exe.zip");
    EXPECT_EQ(Attribute(parser, exe, "hash"), "http://u.test/v3/ZDRDownloadV32.exe.md4");
    EXPECT_EQ(parser.FindAttribute(exe, "VER"), nullptr); // attribute names keep their case
    const CXMLElement* dll = parser.FindChild(files, "engine.dll");
    ASSERT_NE(dll, nullptr);
    EXPECT_EQ(Attribute(parser, dll, "ver"), "");
    EXPECT_EQ(Attribute(parser, dll, "url"), "http://u.test/v3/engine.dll.7z");

    const CXMLElement* package = parser.FindChild(parser.FindChild(root, "all"), "all");
    ASSERT_NE(package, nullptr);
    EXPECT_EQ(Attribute(parser, package, "url"), "http://u.test/v3/all.7z?a=1&b=2");
    EXPECT_EQ(Attribute(parser, package, "hash"), "http://u.test/v3/all.md4");
}

TEST(CXMLParserOstrel, ReaderRules)
{
    CXMLParserOstrel parser;
    // End tags are not compared with start tags.
    parser.Load("<?xml?><a><b>t</c><d/></a>");
    ASSERT_NE(parser.GetRoot(), nullptr);
    ASSERT_NE(parser.FindChild(parser.GetRoot(), "b"), nullptr);
    EXPECT_EQ(parser.FindChild(parser.GetRoot(), "b")->GetTexts()[0]->GetText(), "t");
    EXPECT_NE(parser.FindChild(parser.GetRoot(), "d"), nullptr);

    // A '/' inside a quoted value does not make an empty-element tag; a '>'
    // inside one ends the tag.
    parser.Load("<?xml?><a><b u=\"x/\"><c/></b></a>");
    const CXMLElement* b = parser.FindChild(parser.GetRoot(), "b");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(parser.GetChildCount(b), 1);
    EXPECT_EQ(Attribute(parser, b, "u"), "x/");

    // Attribute names are not trimmed; a missing quote ends the list.
    parser.Load("<?xml?><a x =\"1\" y=\"2\" z=3/>");
    const CXMLElement* a = parser.GetRoot();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(Attribute(parser, a, "x "), "1");
    EXPECT_EQ(Attribute(parser, a, "y"), "2");
    EXPECT_EQ(parser.FindAttribute(a, "z"), nullptr);

    // Names are stored escaped and read decoded; comments end at their first '>'.
    parser.Load("<?xml?><r><a'b/><!-- x > y --><?pi data?></r>");
    const CXMLElement* r = parser.GetRoot();
    ASSERT_EQ(parser.GetChildCount(r), 1);
    const CXMLElement* ab = r->GetChildren()[0].get();
    EXPECT_EQ(ab->GetStoredName(), "a&apos;b");
    EXPECT_EQ(Name(ab), "a'b");
    EXPECT_EQ(parser.FindChild(r, "A'B"), ab);
    ASSERT_EQ(r->GetComments().size(), 2u);
    EXPECT_EQ(r->GetComments()[0]->GetText(), " ");
    EXPECT_EQ(r->GetComments()[1]->GetText(), " dat"); // first four and last three bytes dropped
    ASSERT_EQ(r->GetTexts().size(), 1u);
    EXPECT_EQ(r->GetTexts()[0]->GetText(), "y -->");

    // At the top level the last element with an end tag becomes the root.
    parser.Load("<?xml?><e/><a></a><b></b>");
    EXPECT_EQ(Name(parser.GetRoot()), "b");
    parser.Load("<?xml?><e/><f/>");
    EXPECT_EQ(Name(parser.GetRoot()), "e");
    // An unclosed element after the root: status 2, the root stays.
    parser.Load("<?xml?><a></a><b>");
    EXPECT_EQ(parser.GetDocument()->GetStatus(), 2);
    EXPECT_EQ(Name(parser.GetRoot()), "a");
}

TEST(CXMLParserOstrel, Decoding)
{
    struct Case {
        const char* stored;
        const char* decoded;
    } cases[] = {
        {"a&amp;b&quot;&apos;&lt;&gt;", "a&b\"'<>"},
        {"&amp;amp;", "&amp;"},
        {"&#65;&#x42;&#X43;", "ABC"},
        {"&#x4E2D;", "\xE4\xB8\xAD"},
        {"&#128512;", "\xF0\x9F\x98\x80"},
        {"&#233;x", "\xC3\xA9x"},
        {"&#65x", "A"},                  // the byte after the digits is consumed, whatever it is
        {"&#65", "A"},                   // digits up to the end
        {"&#0;", "\xEF\xBF\xBD"},        // not a character
        {"&#xD800;", "\xEF\xBF\xBD"},    // a surrogate
        {"&#99999999999999;", "\xEF\xBF\xBD"},
        {"a & b", "a & b"},              // a bare '&' is copied
        {"&", "&"},
        {"&#;", "&#;"},
        {"&#x;", "&#x;"},
        {"&unknown;", "&unknown;"},
        {"&am", "&am"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(XmlDecode(c.stored), c.decoded) << c.stored;
        EXPECT_LE(XmlDecode(c.stored).size(), strlen(c.stored)) << c.stored;
    }
    EXPECT_EQ(XmlEscapeName("a&b&#1<>\"'"), "a&amp;b&#1&lt;&gt;&quot;&apos;");
}

TEST(CXMLParserOstrel, BuffersAndNamesAreBounded)
{
    const std::string longName(128, 'n');
    const std::string longAttribute(256, 'k');
    const std::string text = std::string(kDeclaration) + "<r><" + longName + "/><" + std::string(127, 'm') +
        "/><e v=\"12345\" " + longAttribute + "=\"x\" " + std::string(255, 'k') + "=\"y\" w=\"&amp;&#x4E2D;\"/></r>";
    CXMLParserOstrel parser;
    parser.Load(text.c_str());
    const CXMLElement* root = parser.GetRoot();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(parser.FindChild(root, longName.c_str()), nullptr);
    EXPECT_NE(parser.FindChild(root, std::string(127, 'M').c_str()), nullptr);
    const CXMLElement* e = parser.FindChild(root, "e");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(parser.FindAttribute(e, longAttribute.c_str()), nullptr);
    EXPECT_EQ(Attribute(parser, e, std::string(255, 'k').c_str()), "y");

    // The caller's buffer size bounds every write: too small gives 0 and
    // leaves the buffer untouched.
    char buffer[8];
    for (size_t capacity = 0; capacity <= sizeof buffer; ++capacity) {
        memset(buffer, '#', sizeof buffer);
        const int length = parser.GetAttribute(e, "v", buffer, capacity);
        if (capacity >= 6) {
            EXPECT_EQ(length, 5);
            EXPECT_STREQ(buffer, "12345");
        } else {
            EXPECT_EQ(length, 0) << capacity;
            EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '#')) << capacity;
        }
    }
    // Decoded values may be shorter than stored ones: the decoded length counts.
    EXPECT_EQ(parser.GetAttribute(e, "w", buffer, 5), 4);
    EXPECT_STREQ(buffer, "&\xE4\xB8\xAD");
    const CXMLAttribute* w = parser.FindAttribute(e, "w");
    EXPECT_EQ(w->GetValue(nullptr, 0, false), 13);
    EXPECT_EQ(w->GetValue(buffer, sizeof buffer, true), 0);
    EXPECT_EQ(parser.GetAttribute(e, "v", nullptr, 100), 0);
}

namespace {

// Loads an exact heap copy of the text, so any read past its NUL is caught by
// the sanitizer, and reads every name and value of the tree.
void LoadExactCopy(const std::string& text)
{
    auto copy = std::make_unique<char[]>(text.size() + 1);
    memcpy(copy.get(), text.data(), text.size());
    copy[text.size()] = '\0';
    CXMLParserOstrel parser;
    const CXMLDocument* document = parser.Load(copy.get());
    ASSERT_NE(document, nullptr);
    const int status = document->GetStatus();
    EXPECT_TRUE(status >= 0 && status <= 2);
    std::function<void(const CXMLElement*)> walk = [&](const CXMLElement* element) {
        char buffer[512];
        EXPECT_GE(element->GetName(buffer, sizeof buffer, false), 0);
        for (const auto& attribute : element->GetAttributes()) {
            attribute->GetName(buffer, sizeof buffer, false);
            attribute->GetValue(buffer, sizeof buffer, false);
        }
        for (const auto& child : element->GetChildren()) {
            EXPECT_EQ(child->GetParent(), element);
            walk(child.get());
        }
    };
    if (parser.GetRoot()) walk(parser.GetRoot());
}

} // namespace

TEST(CXMLParserOstrel, EveryPrefixOfADocument)
{
    const std::string text = std::string(kDeclaration) +
        "<!-- c --><?pi x?><root a=\"1\" b=\"&amp;&#x41;&#66;\">\n"
        "  <file><ZDRDownloadV32.exe ver=\"1.0\" url=\"u&quot;\" hash=\"h\"/></file>\n"
        "  <x k='v' m=\"w\">text &lt; more<![CDATA[<y>]]></x>\n"
        "  <all><all url=\"p\" hash=\"q\"/></all><z a=\"/>\"/></root>";
    for (size_t length = 0; length <= text.size(); ++length) {
        SCOPED_TRACE(length);
        LoadExactCopy(text.substr(0, length));
    }
}

TEST(CXMLParserOstrel, HostileInputs)
{
    // Deep nesting is bounded: no stack exhaustion, status 2.
    std::string deep = "<?xml?>";
    for (int i = 0; i < 20000; ++i) deep += "<a>";
    for (int i = 0; i < 20000; ++i) deep += "</a>";
    CXMLParserOstrel parser;
    EXPECT_EQ(parser.Load(deep.c_str())->GetStatus(), 2);
    ASSERT_NE(parser.GetRoot(), nullptr);
    int depth = 0;
    for (const CXMLElement* e = parser.GetRoot(); e->GetChildren().size() == 1; e = e->GetChildren()[0].get()) ++depth;
    EXPECT_EQ(depth, CXMLParserOstrel::kMaxDepth);

    // Random texts from the bytes the reader reacts to.
    const std::string alphabet = "<>/\"'=!-[]?&#x;aC D\tA\r\n";
    std::mt19937 random(1320);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const size_t length = random() % 80;
        for (size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
        SCOPED_TRACE(text);
        LoadExactCopy(text);
    }
    for (const char* text : {"<", "<!", "<![CDATA", "<![CDATA[", "<![CDATA]]>", "<!-->", "<?>", "<a", "<a b=\"",
                             "<a b=\"c", "</", "<a/", "?>", "?><", "&#", "<a>&#x", "<?xml?><a x=&#1"}) {
        SCOPED_TRACE(text);
        LoadExactCopy(text);
    }
}
