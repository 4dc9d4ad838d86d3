#pragma once
// What the main dialog needs of the desktop besides the download service:
// folders, free space, the saved-folder note and the installer's start.
//
// Contract:
// - Paths are UTF-8 and use '/'; a folder ends in '/'.
// - Failures are results: false, or 0 free bytes when the space cannot be
//   learnt. Nothing here shows anything.
// - RunInstaller starts the file as the desktop's shell would (the
//   elevated verb first, then the plain one), returning once the program has
//   started or the bounded wait is over; false when it could not be started.

#include <string>

class IDesktopShell {
public:
    virtual ~IDesktopShell() = default;
    virtual bool DirectoryExists(const std::string& folder) = 0;
    virtual bool CreateOneDirectory(const std::string& folder) = 0;
    virtual bool FileExists(const std::string& path) = 0;
    virtual long long FreeBytes(const std::string& folder) = 0;
    virtual bool SaveDownloadFolder(const std::string& folder) = 0;
    virtual bool RunInstaller(const std::string& path) = 0;
};
