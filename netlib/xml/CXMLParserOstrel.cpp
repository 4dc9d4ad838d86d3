#include "netlib/xml/CXMLParserOstrel.h"

#include "netlib/xml/XMLText.h"

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kCDataStart = "<![CDATA";
constexpr std::string_view kCDataEnd = "]]>";
constexpr std::string_view kCommentStart = "<!--";
constexpr std::string_view kInstructionStart = "<?";
constexpr std::string_view kEndTagStart = "</";
constexpr size_t kCDataContentOffset = 9;   // after "<![CDATA["
constexpr size_t kCommentContentOffset = 4; // after "<!--"
constexpr size_t kCommentTrailer = 3;       // "-->"

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

enum class TagKind { kCData, kComment, kEndTag, kEmptyElement, kStartTag };

// One tag of the text: [begin, end) including its '<' and its '>' (or "]]>").
struct Tag {
    size_t begin = 0;
    size_t end = 0;
    TagKind kind = TagKind::kStartTag;
};

// Reads the document's working copy. Every search is bounded by the end of
// the range it works on, so no input makes it read outside the text.
class Reader {
public:
    Reader(std::string_view text, CXMLDocument& document) : m_text(text), m_document(document) {}

    // Parses [begin, end) for parent (null at the top level). At the top level
    // the answer is the element that becomes the root; below, every element
    // read is added to the parent and the answer is null.
    std::unique_ptr<CXMLElement> ParseContent(size_t begin, size_t end, CXMLElement* parent, int depth);

private:
    size_t Find(std::string_view what, size_t from, size_t end) const;
    bool StartsWith(size_t at, size_t end, std::string_view what) const;
    bool ReadTag(size_t lt, size_t end, Tag& tag) const;
    bool FindElementEnd(const Tag& start, size_t end, Tag& endTag) const;
    std::unique_ptr<CXMLElement> MakeElement(const Tag& tag, CXMLElement* parent) const;
    void AddText(CXMLElement* parent, size_t begin, size_t end) const;
    std::string Slice(size_t begin, size_t end) const
    {
        return begin < end ? std::string(m_text.substr(begin, end - begin)) : std::string();
    }

    std::string_view m_text;
    CXMLDocument& m_document;
};

size_t Reader::Find(std::string_view what, size_t from, size_t end) const
{
    if (from >= end) return std::string_view::npos;
    const size_t at = m_text.substr(0, end).find(what, from);
    return at;
}

bool Reader::StartsWith(size_t at, size_t end, std::string_view what) const
{
    return at <= end && end - at >= what.size() && m_text.substr(at, what.size()) == what;
}

// The tag that starts at lt: a CDATA section runs to "]]>", any other tag to
// the next '>'. False when that end is not in [lt, end).
bool Reader::ReadTag(size_t lt, size_t end, Tag& tag) const
{
    tag.begin = lt;
    if (StartsWith(lt, end, kCDataStart)) {
        const size_t close = Find(kCDataEnd, lt + kCDataStart.size(), end);
        if (close == std::string_view::npos) return false;
        tag.end = close + kCDataEnd.size();
        tag.kind = TagKind::kCData;
        return true;
    }
    const size_t gt = Find(">", lt + 1, end);
    if (gt == std::string_view::npos) return false;
    tag.end = gt + 1;
    if (StartsWith(lt, end, kCommentStart) || StartsWith(lt, end, kInstructionStart)) {
        tag.kind = TagKind::kComment;
    } else if (StartsWith(lt, end, kEndTagStart)) {
        tag.kind = TagKind::kEndTag;
    } else {
        // Empty-element tag: a '/' right before the '>' that is not inside a
        // double-quoted value.
        size_t quotes = 0;
        for (size_t i = lt; i + 1 < gt; ++i) quotes += m_text[i] == '"';
        const bool slash = gt > lt + 1 && m_text[gt - 1] == '/' && quotes % 2 == 0;
        tag.kind = slash ? TagKind::kEmptyElement : TagKind::kStartTag;
    }
    return true;
}

// Counts start tags up and end tags down from the start tag; the element ends
// with the end tag that brings the count back to zero.
bool Reader::FindElementEnd(const Tag& start, size_t end, Tag& endTag) const
{
    int open = 0;
    size_t pos = start.begin;
    while (pos < end) {
        const size_t lt = Find("<", pos, end);
        if (lt == std::string_view::npos) return false;
        Tag tag;
        if (!ReadTag(lt, end, tag)) return false;
        if (tag.kind == TagKind::kStartTag) {
            ++open;
        } else if (tag.kind == TagKind::kEndTag && --open == 0) {
            endTag = tag;
            return true;
        }
        pos = tag.end;
    }
    return false;
}

std::unique_ptr<CXMLElement> Reader::MakeElement(const Tag& tag, CXMLElement* parent) const
{
    const size_t limit = tag.end - 1; // the '>'
    size_t pos = tag.begin + 1;
    while (pos < limit && !strchr(" \t/>\"", m_text[pos])) ++pos;
    auto element = std::make_unique<CXMLElement>(parent, XmlEscapeName(m_text.substr(tag.begin + 1, pos - tag.begin - 1)));
    for (;;) {
        while (pos < limit && (m_text[pos] == ' ' || m_text[pos] == '\t')) ++pos;
        if (pos >= limit || m_text[pos] == '/') break;
        const size_t equals = Find("=", pos, limit);
        if (equals == std::string_view::npos) break;
        size_t valueBegin = equals + 1;
        if (valueBegin < limit && m_text[valueBegin] == '"') ++valueBegin;
        const size_t quote = Find("\"", valueBegin, limit);
        if (quote == std::string_view::npos) break;
        element->AddAttribute(Slice(pos, equals), Slice(valueBegin, quote));
        pos = quote + 1;
    }
    return element;
}

void Reader::AddText(CXMLElement* parent, size_t begin, size_t end) const
{
    if (!parent) return;
    while (begin < end && IsBlank(m_text[begin])) ++begin;
    while (end > begin && IsBlank(m_text[end - 1])) --end;
    if (begin < end) parent->AddText(Slice(begin, end));
}

std::unique_ptr<CXMLElement> Reader::ParseContent(size_t begin, size_t end, CXMLElement* parent, int depth)
{
    // At the top level elements have no parent to own them: the last one with
    // an end tag becomes the root, else the first empty-element one.
    std::unique_ptr<CXMLElement> lastStarted;
    std::unique_ptr<CXMLElement> firstEmpty;
    int topLevelElements = 0;
    size_t pos = begin;
    while (pos < end) {
        const size_t lt = Find("<", pos, end);
        if (lt == std::string_view::npos) {
            AddText(parent, pos, end);
            break;
        }
        AddText(parent, pos, lt);
        Tag tag;
        if (!ReadTag(lt, end, tag)) break;
        pos = tag.end;
        switch (tag.kind) {
        case TagKind::kComment: {
            const size_t textEnd = tag.end >= kCommentTrailer ? tag.end - kCommentTrailer : tag.end;
            std::string text = Slice(tag.begin + kCommentContentOffset, textEnd);
            if (parent) parent->AddComment(std::move(text));
            else m_document.AddDeclarationNode(std::move(text), topLevelElements);
            break;
        }
        case TagKind::kCData:
            if (parent) parent->AddCData(Slice(tag.begin + kCDataContentOffset, tag.end - kCDataEnd.size()));
            break;
        case TagKind::kEndTag:
            // Elements are added to their parent as soon as they are read.
            break;
        case TagKind::kEmptyElement: {
            auto element = MakeElement(tag, parent);
            ++topLevelElements;
            if (parent) parent->AddChild(std::move(element));
            else if (!lastStarted && !firstEmpty) firstEmpty = std::move(element);
            break;
        }
        case TagKind::kStartTag: {
            Tag endTag;
            if (!FindElementEnd(tag, end, endTag)) {
                m_document.SetStatus(CXMLDocument::kStatusUnclosedElement);
                pos = end;
                break;
            }
            auto element = MakeElement(tag, parent);
            ++topLevelElements;
            if (depth < CXMLParserOstrel::kMaxDepth) ParseContent(tag.end, endTag.begin, element.get(), depth + 1);
            else m_document.SetStatus(CXMLDocument::kStatusUnclosedElement);
            if (parent) parent->AddChild(std::move(element));
            else lastStarted = std::move(element);
            // The end tag is read next and passed over.
            pos = endTag.begin;
            break;
        }
        }
    }
    return lastStarted ? std::move(lastStarted) : std::move(firstEmpty);
}

std::unique_ptr<CXMLElement> EmptyRoot()
{
    return std::make_unique<CXMLElement>(nullptr, "root");
}

} // namespace

CXMLParserOstrel::~CXMLParserOstrel() = default;

CXMLDocument* CXMLParserOstrel::Load(const char* text)
{
    m_document = std::make_unique<CXMLDocument>();
    CXMLDocument& document = *m_document;
    if (!text || !*text) {
        document.SetDeclaration(kDefaultDeclaration);
        document.SetRoot(EmptyRoot());
        return &document;
    }
    const std::string working(text);
    const std::string_view view(working);
    size_t start = 0;
    const size_t declarationEnd = view.find("?>");
    if (declarationEnd != std::string_view::npos) {
        start = declarationEnd + 2;
        document.SetDeclaration(working.substr(0, start));
    } else {
        document.SetStatus(CXMLDocument::kStatusNoDeclarationOrElement);
        document.SetDeclaration(std::string(kByteOrderMark) + kDefaultDeclaration);
    }
    const size_t firstTag = view.find('<', start);
    if (firstTag == std::string_view::npos) {
        document.SetStatus(CXMLDocument::kStatusNoDeclarationOrElement);
        document.SetRoot(EmptyRoot());
        return &document;
    }
    Reader reader(view, document);
    std::unique_ptr<CXMLElement> root = reader.ParseContent(firstTag, view.size(), nullptr, 0);
    if (!root && document.GetStatus() != CXMLDocument::kStatusUnclosedElement) {
        document.SetStatus(CXMLDocument::kStatusNoDeclarationOrElement);
        root = EmptyRoot();
    }
    document.SetRoot(std::move(root));
    return &document;
}

CXMLElement* CXMLParserOstrel::GetRoot() const
{
    return m_document ? m_document->GetRoot() : nullptr;
}

int CXMLParserOstrel::GetChildCount(const CXMLElement* element) const
{
    return element ? static_cast<int>(element->GetChildren().size()) : 0;
}

namespace {

std::string LowerAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

} // namespace

CXMLElement* CXMLParserOstrel::FindChild(const CXMLElement* element, const char* name) const
{
    if (!element || !name || strlen(name) > kMaxElementNameLength) return nullptr;
    const std::string wanted = LowerAscii(name);
    for (const auto& child : element->GetChildren()) {
        const std::string decoded = XmlDecode(child->GetStoredName());
        if (decoded.size() <= kMaxElementNameLength && LowerAscii(decoded) == wanted) return child.get();
    }
    return nullptr;
}

CXMLAttribute* CXMLParserOstrel::FindAttribute(const CXMLElement* element, const char* name) const
{
    if (!element || !name || strlen(name) > kMaxAttributeNameLength) return nullptr;
    for (const auto& attribute : element->GetAttributes()) {
        const std::string decoded = XmlDecode(attribute->GetStoredName());
        if (decoded.size() <= kMaxAttributeNameLength && decoded == name) return attribute.get();
    }
    return nullptr;
}

int CXMLParserOstrel::GetAttribute(const CXMLElement* element, const char* name, char* buffer, size_t capacity) const
{
    const CXMLAttribute* attribute = FindAttribute(element, name);
    if (!attribute || !buffer) return 0;
    return attribute->GetValue(buffer, capacity, false);
}
