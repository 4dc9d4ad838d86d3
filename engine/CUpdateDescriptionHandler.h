#pragma once
// The engine update's reading of a description: the new version is the
// "ver" of the engine executable's element under "file"; the installed
// version is the executable's version note. Different texts (compared byte
// for byte, no numeric order) mean the executable's file and one empty name
// (which, for a description of two files, is the whole package); equal texts
// mean nothing, or only the executable when it is missing.
//
// Contract: see IUpdateDescriptionHandler.h. Logs the "Current Version" and
// "Update File" lines. The path provider is not owned and must outlive it.

#include "engine/IUpdateDescriptionHandler.h"

class IGetPath;

class CUpdateDescriptionHandler : public IUpdateDescriptionHandler {
public:
    explicit CUpdateDescriptionHandler(const IGetPath* paths) : m_paths(paths) {}

    std::string ReadNewVersion(const CXMLParserOstrel& description) override;
    std::vector<std::string> ChooseFiles(const CXMLParserOstrel& description, const std::string& newVersion) override;

private:
    const IGetPath* m_paths;
};
