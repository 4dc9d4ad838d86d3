#pragma once
// What both front ends use the same way: the default file list, the service
// identifier, the default download folder and the saved-folder note that
// other programs read.

#include <string>

// The job's service identifier.
constexpr const char* kDlServiceId = "quillet_stonereach2";
// The product name, used for the single-instance name and captions.
constexpr const char* kDlProductName = "ZDR-Downloader";

// The portal host: ZDR_PORTAL_HOST from the environment (a value may carry
// ":port"), else the build's setting.
std::string PortalHost();
// "http://<portal host>/download/vx2/zdrdownload/filelist.txt".
std::string DefaultFileListUrl();
// The game's name in folder names and messages.
constexpr const char* kDlGameName = "VX2";

// ~/tollan/VX2/ (with the trailing '/').
std::string DefaultDownloadFolder();
// The same under the given home folder (with or without its trailing '/').
std::string DefaultDownloadFolder(const std::string& homeFolder);
// Writes "VX2=<folder>" to $XDG_CONFIG_HOME/Ostrel Inc./DownloadPath, for
// other programs of the maker and as the next run's default. False on failure.
bool SaveDownloadFolder(const std::string& folder);
// The folder saved there, when it is an absolute path; else empty.
std::string SavedDownloadFolder();
// The folder a download goes to when none is given: the saved one, else
// ~/tollan/VX2/.
std::string ChosenDownloadFolder();
