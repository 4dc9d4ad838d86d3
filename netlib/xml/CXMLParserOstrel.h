#pragma once
// A forgiving single-pass reader of small XML documents (the update
// description): start, end and empty-element tags, double-quoted attributes,
// comments, processing instructions, CDATA sections and the five predefined
// entities. Not a validating parser. Its rules, kept on purpose because
// the documents it serves are written for them:
// - End tags are matched to start tags by nesting depth alone; names are not
//   compared. An element whose end is never found sets status 2, and neither
//   it nor anything after it is read (as the first element: no root).
// - Attributes: after the name, skip spaces and tabs; the attribute name runs
//   to the next '=' (not trimmed); the value starts after the '=' (one '"'
//   skipped) and ends before the next '"'. Single quotes are not recognised.
// - A '>' always ends a tag, also inside a comment or a quoted value; a CDATA
//   section ends only at "]]>".
// - Text around elements is trimmed of spaces, tabs, CR and LF.
// - Element names are stored escaped (XmlEscapeName); names and values are
//   decoded (XmlDecode) whenever they are read out.
// - No "?>" in the text: status 1 and the declaration record receives the
//   UTF-8 byte-order mark and kDefaultDeclaration. No element: status 1 and
//   an empty root element named "root".
// The reader never reads outside the text it was given, whatever the input;
// elements nested deeper than kMaxDepth are kept without their content and
// set status 2.
//
// Contract: Load replaces the document; pointers handed out stay valid until
// the next Load or the parser's destruction. Not thread-safe.

#include "netlib/xml/CXMLDocument.h"

#include <cstddef>
#include <memory>

class CXMLParserOstrel {
public:
    static constexpr const char* kDefaultDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>";
    static constexpr const char* kByteOrderMark = "\xEF\xBB\xBF";
    static constexpr size_t kMaxElementNameLength = 127;
    static constexpr size_t kMaxAttributeNameLength = 255;
    static constexpr int kMaxDepth = 256;

    CXMLParserOstrel() = default;
    virtual ~CXMLParserOstrel();
    CXMLParserOstrel(const CXMLParserOstrel&) = delete;
    CXMLParserOstrel& operator=(const CXMLParserOstrel&) = delete;

    // Parses a NUL-terminated text (null or empty: the default declaration,
    // status 0 and an empty root named "root"). Never fails: the document
    // holds what could be read and its status says what was wrong.
    CXMLDocument* Load(const char* text);
    CXMLDocument* GetDocument() const { return m_document.get(); }
    // Null without a document or when the document has no root.
    CXMLElement* GetRoot() const;
    int GetChildCount(const CXMLElement* element) const;
    // The first child whose decoded name equals name ignoring ASCII letter
    // case. Names longer than kMaxElementNameLength never match.
    CXMLElement* FindChild(const CXMLElement* element, const char* name) const;
    // The first attribute whose decoded name equals name exactly. Names
    // longer than kMaxAttributeNameLength never match.
    CXMLAttribute* FindAttribute(const CXMLElement* element, const char* name) const;
    // Writes the decoded value and a NUL into buffer and answers its length.
    // 0, with nothing written, when the attribute does not exist or the value
    // and its NUL do not fit in capacity bytes.
    int GetAttribute(const CXMLElement* element, const char* name, char* buffer, size_t capacity) const;

private:
    std::unique_ptr<CXMLDocument> m_document;
};
