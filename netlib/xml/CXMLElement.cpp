#include "netlib/xml/CXMLElement.h"

#include "netlib/xml/XMLText.h"

int CXMLElement::GetName(char* buffer, size_t capacity, bool raw) const
{
    if (!buffer) return static_cast<int>(m_name.size());
    return XmlCopyOut(raw ? m_name : XmlDecode(m_name), m_name.size(), buffer, capacity);
}

void CXMLElement::AddAttribute(std::string name, std::string value)
{
    m_attributes.push_back(std::make_unique<CXMLAttribute>(this, std::move(name), std::move(value)));
}

void CXMLElement::AddText(std::string text)
{
    m_texts.push_back(std::make_unique<CXMLNode>(this, std::move(text), Position()));
}

void CXMLElement::AddComment(std::string text)
{
    m_comments.push_back(std::make_unique<CXMLNode>(this, std::move(text), Position()));
}

void CXMLElement::AddCData(std::string text)
{
    m_cdata.push_back(std::make_unique<CXMLNode>(this, std::move(text), Position()));
}
