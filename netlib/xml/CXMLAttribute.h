#pragma once
// One attribute of an XML element: name and value as written in the document
// (entities not yet decoded). Owned by its element.

#include <cstddef>
#include <string>

class CXMLElement;

class CXMLAttribute {
public:
    CXMLAttribute(CXMLElement* owner, std::string name, std::string value)
        : m_owner(owner), m_name(std::move(name)), m_value(std::move(value))
    {
    }

    CXMLElement* GetOwner() const { return m_owner; }
    const std::string& GetStoredName() const { return m_name; }
    const std::string& GetStoredValue() const { return m_value; }

    // With raw false the decoded text, with raw true the stored one, NUL-
    // terminated. A null buffer receives nothing and the answer is the stored
    // length (which bounds the decoded length); a buffer too small for the
    // text and its NUL receives nothing and the answer is 0.
    int GetName(char* buffer, size_t capacity, bool raw) const;
    int GetValue(char* buffer, size_t capacity, bool raw) const;

private:
    CXMLElement* m_owner;
    std::string m_name;
    std::string m_value;
};
