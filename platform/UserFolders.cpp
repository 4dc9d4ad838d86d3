#include "platform/UserFolders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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

// Whether the folder (not a link to one) is ours and closed to others;
// else why not.
bool IsPrivateFolder(const std::string& folder, std::string* why)
{
    struct stat info;
    if (lstat(folder.c_str(), &info) != 0) {
        *why = strerror(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) *why = "not a folder";
    else if (info.st_uid != geteuid()) *why = "another user's";
    else if ((info.st_mode & 077) != 0) *why = "open to other users";
    else return true;
    return false;
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

std::string UserStateFolder()
{
    return FromEnvironment("XDG_STATE_HOME", ".local/state/");
}

std::string UserRuntimeFolder()
{
    const char* value = getenv("XDG_RUNTIME_DIR");
    return value && value[0] == '/' ? WithSlash(value) : std::string("/tmp/");
}

std::string PrivateRuntimeFolder(std::string* error)
{
    std::string why;
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && IsPrivateFolder(runtime, &why)) return WithSlash(runtime);
    const char* temporary = getenv("TMPDIR");
    const std::string folder = WithSlash(temporary && temporary[0] == '/' ? temporary : "/tmp") + "zdr-" +
                               std::to_string(geteuid());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = folder + ": " + strerror(errno);
        return std::string();
    }
    if (!IsPrivateFolder(folder, &why)) {
        *error = folder + ": " + why;
        return std::string();
    }
    return folder + "/";
}
