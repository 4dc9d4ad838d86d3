#include "netlib/xml/CXMLDocument.h"

void CXMLDocument::AddDeclarationNode(std::string text, int position)
{
    m_declarationNodes.push_back(std::make_unique<CXMLNode>(nullptr, std::move(text), position));
}
