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

bool SaveDownloadFolder(const std::string& folder)
{
    const std::string config = UserConfigFolder();
    if (config.empty()) return false;
    const std::string keyFolder = config + "Ostrel Inc./";
    if (!CreateDirectoryChain(keyFolder)) return false;
    std::ofstream key(keyFolder + "DownloadPath", std::ios::binary | std::ios::trunc);
    key << "VX2=" << folder << "\n";
    return static_cast<bool>(key);
}
