#pragma once
// The engine update's reading of an update description: which version it
// names and which of the engine's files need replacing. CDownloadFileList
// builds its records from these answers.
//
// Contract: called on the service thread from inside
// CDownloadFileList::OnDescription, after the description was parsed and the
// engine folder was made sure of, first ReadNewVersion and then (only for a
// non-empty version) ChooseFiles. The parser and its tree belong to the
// caller and live only during the call. The handler is not owned by the list
// and must outlive it. Neither call may touch the list.

#include <string>
#include <vector>

class CXMLParserOstrel;

class IUpdateDescriptionHandler {
public:
    // The version the description names; empty rejects the description.
    virtual std::string ReadNewVersion(const CXMLParserOstrel& description) = 0;
    // Full paths of the files to fetch (empty entries are skipped). When
    // there are as many as the description lists files, the whole package is
    // fetched instead.
    virtual std::vector<std::string> ChooseFiles(const CXMLParserOstrel& description, const std::string& newVersion) = 0;

protected:
    ~IUpdateDescriptionHandler() = default;
};
