// The XML reader on any text (the update description arrives from a server):
// the whole tree is walked and every name and value read out the way callers
// do, sizing their buffers from the answer for a null buffer; the reader's
// documented promises are checked on the way.
//
// Input: the text (cut at its first NUL, as Load reads it).

#include "FuzzCheck.h"
#include "engine/UpdateDescription.h"
#include "netlib/xml/CXMLParserOstrel.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

// get(buffer, capacity, raw) reads one name or value out.
template <typename Getter>
void ReadOut(Getter get)
{
    for (bool raw : {false, true}) {
        const int bound = get(nullptr, 0, raw);
        FUZZ_CHECK(bound >= 0);
        std::vector<char> buffer(static_cast<size_t>(bound) + 1, 'x');
        // The stored length bounds the decoded one: a buffer of that size and
        // a NUL always takes the text.
        const int length = get(buffer.data(), buffer.size(), raw);
        FUZZ_CHECK(length >= 0 && length <= bound);
        FUZZ_CHECK(buffer[static_cast<size_t>(length)] == '\0');
        // Too small by one byte for a non-empty text: nothing, answer 0.
        if (length > 0) {
            std::vector<char> small(static_cast<size_t>(length), 'y');
            FUZZ_CHECK(get(small.data(), small.size(), raw) == 0);
        }
    }
}

void Walk(const CXMLParserOstrel& parser, const CXMLElement* element, int depth)
{
    FUZZ_CHECK(depth <= CXMLParserOstrel::kMaxDepth + 1);
    ReadOut([&](char* b, size_t c, bool raw) { return element->GetName(b, c, raw); });
    for (const auto& attribute : element->GetAttributes()) {
        FUZZ_CHECK(attribute->GetOwner() == element);
        ReadOut([&](char* b, size_t c, bool raw) { return attribute->GetName(b, c, raw); });
        ReadOut([&](char* b, size_t c, bool raw) { return attribute->GetValue(b, c, raw); });
        char name[CXMLParserOstrel::kMaxAttributeNameLength + 1];
        if (attribute->GetName(name, sizeof name, false) > 0) {
            FUZZ_CHECK(parser.FindAttribute(element, name) != nullptr);
            char value[64];
            const int length = parser.GetAttribute(element, name, value, sizeof value);
            FUZZ_CHECK(length >= 0 && static_cast<size_t>(length) < sizeof value);
            if (length > 0) FUZZ_CHECK(value[length] == '\0');
        }
    }
    FUZZ_CHECK(parser.GetChildCount(element) == static_cast<int>(element->GetChildren().size()));
    for (const auto& child : element->GetChildren()) {
        FUZZ_CHECK(child->GetParent() == element);
        char name[CXMLParserOstrel::kMaxElementNameLength + 1];
        if (child->GetName(name, sizeof name, false) > 0 && strlen(name) > 0)
            FUZZ_CHECK(parser.FindChild(element, name) != nullptr);
        Walk(parser, child.get(), depth + 1);
    }
    (void)ReadDescriptionAttribute(parser, element, kUpdateVersionAttribute);
    (void)ReadDescriptionAttribute(parser, parser.FindChild(element, kUpdateFilesElement), kUpdateUrlAttribute);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    CXMLParserOstrel parser;
    CXMLDocument* document = parser.Load(text.c_str());
    FUZZ_CHECK(document != nullptr && document == parser.GetDocument());
    const int status = document->GetStatus();
    FUZZ_CHECK(status == CXMLDocument::kStatusOk || status == CXMLDocument::kStatusNoDeclarationOrElement ||
               status == CXMLDocument::kStatusUnclosedElement);
    if (const CXMLElement* root = parser.GetRoot()) Walk(parser, root, 0);
    // A second load replaces everything.
    parser.Load("<?xml version=\"1.0\"?><a/>");
    FUZZ_CHECK(parser.GetRoot() != nullptr);
    return 0;
}
