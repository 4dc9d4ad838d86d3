#pragma once
// IDesktopShell over the platform layer: folders and free space
// (platform/FileSystem.h), the saved-folder note (service/DlDefaults.h) and
// the installer's start (platform/ShellExecute.h).

#include "app/IDesktopShell.h"

class CDesktopShell : public IDesktopShell {
public:
    // How long RunInstaller waits for the installer to get going.
    static constexpr int kInstallerWaitMs = 10000;

    bool DirectoryExists(const std::string& folder) override;
    bool CreateOneDirectory(const std::string& folder) override;
    bool FileExists(const std::string& path) override;
    long long FreeBytes(const std::string& folder) override;
    bool SaveDownloadFolder(const std::string& folder) override;
    bool RunInstaller(const std::string& path) override;
};
