#include "app/CDesktopShell.h"

#include "app/SystemText.h"
#include "platform/FileSystem.h"
#include "platform/ShellExecute.h"
#include "service/DlDefaults.h"

bool CDesktopShell::DirectoryExists(const std::string& folder)
{
    return ::DirectoryExists(ToSystemText(folder));
}

bool CDesktopShell::CreateOneDirectory(const std::string& folder)
{
    return ::CreateOneDirectory(ToSystemText(folder));
}

bool CDesktopShell::FileExists(const std::string& path)
{
    return PathExists(ToSystemText(path));
}

long long CDesktopShell::FreeBytes(const std::string& folder)
{
    const int64_t bytes = FreeDiskSpace(ToSystemText(folder));
    return bytes < 0 ? 0 : bytes;
}

bool CDesktopShell::SaveDownloadFolder(const std::string& folder)
{
    return ::SaveDownloadFolder(ToSystemText(folder));
}

bool CDesktopShell::RunInstaller(const std::string& path)
{
    const std::string file = ToSystemText(path);
    // A downloaded file arrives without the execute bit.
    MakeExecutable(file);
    // No elevation here: "runas" is a start of its own, "open" the fall-back.
    return ShellExecuteFile(file, "runas", kInstallerWaitMs) || ShellExecuteFile(file, "open", kInstallerWaitMs);
}
