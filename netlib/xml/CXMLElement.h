#pragma once
// One element of an XML document: its name (stored escaped), attributes,
// child elements and nodes, all owned; destroying an element frees its
// subtree. Pointers handed out stay valid while the element lives.

#include "netlib/xml/CXMLAttribute.h"
#include "netlib/xml/CXMLNode.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class CXMLElement {
public:
    CXMLElement(CXMLElement* parent, std::string storedName)
        : m_parent(parent), m_name(std::move(storedName))
    {
    }
    CXMLElement(const CXMLElement&) = delete;
    CXMLElement& operator=(const CXMLElement&) = delete;

    CXMLElement* GetParent() const { return m_parent; }
    const std::string& GetStoredName() const { return m_name; }
    // Same rules as CXMLAttribute::GetName.
    int GetName(char* buffer, size_t capacity, bool raw) const;

    const std::vector<std::unique_ptr<CXMLElement>>& GetChildren() const { return m_children; }
    const std::vector<std::unique_ptr<CXMLAttribute>>& GetAttributes() const { return m_attributes; }
    const std::vector<std::unique_ptr<CXMLNode>>& GetTexts() const { return m_texts; }
    const std::vector<std::unique_ptr<CXMLNode>>& GetComments() const { return m_comments; }
    const std::vector<std::unique_ptr<CXMLNode>>& GetCData() const { return m_cdata; }

    void AddChild(std::unique_ptr<CXMLElement> child) { m_children.push_back(std::move(child)); }
    void AddAttribute(std::string name, std::string value);
    void AddText(std::string text);
    void AddComment(std::string text);
    void AddCData(std::string text);

private:
    int Position() const { return static_cast<int>(m_children.size()); }

    CXMLElement* m_parent;
    std::string m_name;
    std::vector<std::unique_ptr<CXMLElement>> m_children;
    std::vector<std::unique_ptr<CXMLAttribute>> m_attributes;
    std::vector<std::unique_ptr<CXMLNode>> m_texts;
    std::vector<std::unique_ptr<CXMLNode>> m_comments;
    std::vector<std::unique_ptr<CXMLNode>> m_cdata;
};
