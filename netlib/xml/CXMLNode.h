#pragma once
// A text, comment (or processing instruction) or CDATA node of an XML
// element: its bytes as written, and how many child elements of its parent
// came before it. Owned by its element (or, outside the root, by the
// document's declaration record).

#include <string>

class CXMLElement;

class CXMLNode {
public:
    CXMLNode(CXMLElement* parent, std::string text, int position)
        : m_parent(parent), m_text(std::move(text)), m_position(position)
    {
    }

    CXMLElement* GetParent() const { return m_parent; }
    const std::string& GetText() const { return m_text; }
    int GetPosition() const { return m_position; }

private:
    CXMLElement* m_parent; // null outside the root
    std::string m_text;
    int m_position;
};
