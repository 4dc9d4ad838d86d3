#pragma once
// Helpers for the archive tests: a private scratch folder, trees of files
// written and read back, and the real archivers (zip, 7z, Python's zipfile)
// run at test time.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace archive_tools {

class ScratchFolder {
public:
    ScratchFolder()
    {
        char pattern[] = "/tmp/zdr-archive-XXXXXX";
        if (mkdtemp(pattern)) m_path = std::string(pattern) + "/";
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // Ends in '/'; empty when the folder could not be made.
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

inline void WriteFile(const std::string& path, const std::string& bytes)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<unsigned char> ReadBytes(const std::string& path)
{
    const std::string bytes = ReadFile(path);
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

inline std::string RandomText(size_t length, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(length, '\0');
    for (char& b : bytes) b = static_cast<char>(random());
    return bytes;
}

// Every entry below root: relative path -> "dir", "link:<target>" or the
// file's bytes. Links are not followed.
inline std::map<std::string, std::string> Tree(const std::string& root)
{
    std::map<std::string, std::string> tree;
    std::error_code error;
    if (!std::filesystem::exists(root, error)) return tree;
    for (auto it = std::filesystem::recursive_directory_iterator(root); it != std::filesystem::recursive_directory_iterator(); ++it) {
        const std::string relative = it->path().lexically_relative(root).string();
        if (it->is_symlink()) tree[relative] = "link:" + std::filesystem::read_symlink(it->path()).string();
        else if (it->is_directory()) tree[relative] = "dir";
        else tree[relative] = ReadFile(it->path().string());
    }
    return tree;
}

// Runs a shell command; true when it exited with 0.
inline bool RunShell(const std::string& command)
{
    return system(command.c_str()) == 0;
}

inline std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

inline bool HaveTool(const char* name)
{
    return RunShell(std::string("command -v ") + name + " >/dev/null 2>&1");
}

// zip -r of everything in folder (symbolic links stored as links).
inline bool MakeZip(const std::string& folder, const std::string& archive)
{
    return RunShell("cd " + Quote(folder) + " && LC_ALL=C.UTF-8 zip -q -r -y " + Quote(archive) + " .");
}

// 7z a of everything in folder (symbolic links stored as links); extra
// options for the coder.
inline bool Make7z(const std::string& folder, const std::string& archive, const std::string& options = "")
{
    return RunShell("cd " + Quote(folder) + " && LC_ALL=C.UTF-8 7z a -bd -snl " + options + " " + Quote(archive) +
               " . >/dev/null");
}

inline mode_t Mode(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

} // namespace archive_tools
