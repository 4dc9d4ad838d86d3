#include "platform/UserFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace {

std::string WithSlash(std::string folder)
{
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

std::string FromEnvironment(const char* name, const char* homeRelative)
{
    const char* value = getenv(name);
    // Relative values are invalid by the XDG rules and are ignored.
    if (value && value[0] == '/') return WithSlash(value);
    std::string home = UserHomeFolder();
    return home.empty() ? std::string() : home + homeRelative;
}

} // namespace

std::string UserHomeFolder()
{
    const char* home = getenv("HOME");
    if (home && home[0]) return WithSlash(home);
    struct passwd* entry = getpwuid(getuid());
    return entry && entry->pw_dir ? WithSlash(entry->pw_dir) : std::string();
}

std::string UserDataFolder()
{
    return FromEnvironment("XDG_DATA_HOME", ".local/share/");
}

std::string UserConfigFolder()
{
    return FromEnvironment("XDG_CONFIG_HOME", ".config/");
}

std::string UserRuntimeFolder()
{
    const char* value = getenv("XDG_RUNTIME_DIR");
    return value && value[0] == '/' ? WithSlash(value) : std::string("/tmp/");
}
