#include "netlib/xml/CXMLAttribute.h"

#include "netlib/xml/XMLText.h"

int CXMLAttribute::GetName(char* buffer, size_t capacity, bool raw) const
{
    if (!buffer) return static_cast<int>(m_name.size());
    return XmlCopyOut(raw ? m_name : XmlDecode(m_name), m_name.size(), buffer, capacity);
}

int CXMLAttribute::GetValue(char* buffer, size_t capacity, bool raw) const
{
    if (!buffer) return static_cast<int>(m_value.size());
    return XmlCopyOut(raw ? m_value : XmlDecode(m_value), m_value.size(), buffer, capacity);
}
