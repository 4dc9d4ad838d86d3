#include "engine/UpdateDescription.h"

#include "netlib/xml/CXMLParserOstrel.h"

#include <cstdlib>
#include <vector>

#ifndef ZDR_UPDATE_HOST_DEFAULT
#error "ZDR_UPDATE_HOST_DEFAULT comes from the build's ZDR_UPDATE_HOST setting"
#endif

std::string ReadDescriptionAttribute(const CXMLParserOstrel& parser, const CXMLElement* element, const char* name)
{
    const CXMLAttribute* attribute = parser.FindAttribute(element, name);
    if (!attribute) return std::string();
    // The stored length bounds the decoded one.
    std::vector<char> buffer(static_cast<size_t>(attribute->GetValue(nullptr, 0, false)) + 1);
    const int length = attribute->GetValue(buffer.data(), buffer.size(), false);
    return std::string(buffer.data(), static_cast<size_t>(length));
}

std::string UpdateHost()
{
    const char* host = getenv("ZDR_UPDATE_HOST");
    return host && host[0] ? host : ZDR_UPDATE_HOST_DEFAULT;
}

std::string UpdateDescriptionUrl()
{
    return "http://" + UpdateHost() + kUpdateDescriptionPath;
}
