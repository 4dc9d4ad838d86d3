#pragma once
// What CXMLParserOstrel read from one text: a status, the declaration record
// (the XML declaration and the comments and processing instructions outside
// the root element) and the root element, all owned.

#include "netlib/xml/CXMLElement.h"
#include "netlib/xml/CXMLNode.h"

#include <memory>
#include <string>
#include <vector>

class CXMLDocument {
public:
    enum Status {
        kStatusOk = 0,
        // The text had no XML declaration, or held no element.
        kStatusNoDeclarationOrElement = 1,
        // An element had no end tag (or nested too deep to be read).
        kStatusUnclosedElement = 2,
    };

    int GetStatus() const { return m_status; }
    const std::string& GetDeclaration() const { return m_declaration; }
    const std::vector<std::unique_ptr<CXMLNode>>& GetDeclarationNodes() const { return m_declarationNodes; }
    CXMLElement* GetRoot() const { return m_root.get(); }

    void SetStatus(int status) { m_status = status; }
    void SetDeclaration(std::string text) { m_declaration = std::move(text); }
    // position: how many top-level elements came before the node.
    void AddDeclarationNode(std::string text, int position);
    void SetRoot(std::unique_ptr<CXMLElement> root) { m_root = std::move(root); }

private:
    int m_status = kStatusOk;
    std::string m_declaration;
    std::vector<std::unique_ptr<CXMLNode>> m_declarationNodes;
    std::unique_ptr<CXMLElement> m_root;
};
