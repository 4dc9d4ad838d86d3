#include "engine/CUpdateDescriptionHandler.h"

#include "engine/ActivityLog.h"
#include "engine/IGetPath.h"
#include "engine/UpdateDescription.h"
#include "netlib/xml/CXMLParserOstrel.h"
#include "platform/FileSystem.h"
#include "platform/VersionNote.h"

std::string CUpdateDescriptionHandler::ReadNewVersion(const CXMLParserOstrel& description)
{
    const std::string engine = m_paths->GetEngineExePath();
    const std::string name = engine.substr(engine.find_last_of('/') + 1);
    const CXMLElement* files = description.FindChild(description.GetRoot(), kUpdateFilesElement);
    return ReadDescriptionAttribute(description, description.FindChild(files, name.c_str()), kUpdateVersionAttribute);
}

std::vector<std::string> CUpdateDescriptionHandler::ChooseFiles(const CXMLParserOstrel&, const std::string& newVersion)
{
    const std::string engine = m_paths->GetEngineExePath();
    const std::string current = ReadVersionNote(engine);
    LogWrite(("[MeshpullLib] Current Version: " + current + " / New Version: " + newVersion).c_str());
    std::vector<std::string> files;
    if (current != newVersion) {
        files = {engine, std::string()};
    } else if (!PathExists(engine)) {
        files = {engine};
    }
    LogPrintf("[MeshpullLib] Update File (Count: %d)", static_cast<int>(files.size()));
    return files;
}
