#include "engine/CGetPath_V32.h"

#include "platform/UserFolders.h"

std::string CGetPath_V32::GetBaseFolder() const
{
    return UserDataFolder() + kMakerFolder;
}

std::string CGetPath_V32::GetEngineFolder() const
{
    return GetBaseFolder() + kEngineFolder;
}

std::string CGetPath_V32::GetEngineExePath() const
{
    return GetEngineFolder() + kEngineExecutable;
}

IGetPath* GetPathProvider()
{
    static CGetPath_V32 provider;
    return &provider;
}
