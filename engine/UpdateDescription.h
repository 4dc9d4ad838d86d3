#pragma once
// Names and addresses of the engine update's description, shared by the
// update file list, the description handling and the update-site builder.
//
// The description: a document element (any name) with a child "file" that
// has one child per engine file, named after the file ("ver" on the engine
// executable's element; "url", "hash" and "sha256" on each), and a child
// "all" whose child "all" describes the package of all files ("url", "hash",
// "sha256"). Element names match without letter case.

#include <string>

class CXMLElement;
class CXMLParserOstrel;

constexpr const char* kUpdateFilesElement = "file";
constexpr const char* kUpdatePackageElement = "all";
constexpr const char* kUpdateVersionAttribute = "ver";
constexpr const char* kUpdateUrlAttribute = "url";
constexpr const char* kUpdateHashAttribute = "hash";
constexpr const char* kUpdateSha256Attribute = "sha256";
// Where the description lives on the update server.
constexpr const char* kUpdateDescriptionPath = "/ostrel/zdrdownload/update/v3_32/zdrdownload_updater.xml";

// The decoded value of an attribute; empty when the element or attribute is
// missing.
std::string ReadDescriptionAttribute(const CXMLParserOstrel& parser, const CXMLElement* element, const char* name);

// The update server: the environment's ZDR_UPDATE_HOST when set and not
// empty (it may carry ":port"), else the build's ZDR_UPDATE_HOST setting.
std::string UpdateHost();
// "http://" + UpdateHost() + kUpdateDescriptionPath.
std::string UpdateDescriptionUrl();
