#include "service/DlDefaults.h"

#include "platform/FileSystem.h"
#include "platform/UserFolders.h"

#include <cstdlib>
#include <fstream>

#ifndef ZDR_PORTAL_HOST_DEFAULT
#error "ZDR_PORTAL_HOST_DEFAULT comes from the build's ZDR_PORTAL_HOST setting"
#endif

std::string PortalHost()
{
    const char* host = getenv("ZDR_PORTAL_HOST");
    return host && host[0] ? host : ZDR_PORTAL_HOST_DEFAULT;
}

std::string DefaultFileListUrl()
{
    return "http://" + PortalHost() + "/download/vx2/zdrdownload/filelist.txt";
}

std::string DefaultDownloadFolder()
{
    return DefaultDownloadFolder(UserHomeFolder());
}

std::string DefaultDownloadFolder(const std::string& homeFolder)
{
    std::string home = homeFolder;
    while (!home.empty() && home.back() == '/') home.pop_back();
    return home + "/tollan/" + kDlGameName + "/";
}

namespace {

std::string KeyFolder()
{
    const std::string config = UserConfigFolder();
    return config.empty() ? std::string() : config + "Ostrel Inc./";
}

} // namespace

std::string SavedDownloadFolder()
{
    const std::string keyFolder = KeyFolder();
    if (keyFolder.empty()) return std::string();
    std::ifstream key(keyFolder + "DownloadPath", std::ios::binary);
    const std::string prefix = std::string(kDlGameName) + "=";
    for (std::string line; std::getline(key, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind(prefix, 0) != 0) continue;
        const std::string folder = line.substr(prefix.size());
        // A relative folder would depend on where the program was started.
        return !folder.empty() && folder[0] == '/' ? folder : std::string();
    }
    return std::string();
}

std::string ChosenDownloadFolder()
{
    const std::string saved = SavedDownloadFolder();
    return saved.empty() ? DefaultDownloadFolder() : saved;
}

bool SaveDownloadFolder(const std::string& folder)
{
    const std::string keyFolder = KeyFolder();
    // One line per value: a folder with a line break in its name would be
    // read back as another folder.
    if (keyFolder.empty() || folder.find_first_of("\r\n") != std::string::npos) return false;
    if (!CreateDirectoryChain(keyFolder)) return false;
    std::ofstream key(keyFolder + "DownloadPath", std::ios::binary | std::ios::trunc);
    key << "VX2=" << folder << "\n";
    return static_cast<bool>(key);
}
