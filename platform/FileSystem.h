#pragma once
// Files and folders. Paths are narrow strings in the locale's encoding and use
// '/'; a folder path ends in '/'.

#include <cstdint>
#include <string>

bool PathExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// Creates one directory; true also when it already exists as a directory.
bool CreateOneDirectory(const std::string& path);
// Creates every missing directory named by a prefix of folder that ends in
// '/', in turn from the second character; false at the first failure.
bool CreateDirectoryChain(const std::string& folder);
bool DeleteOneFile(const std::string& path);
// Free bytes of the volume that holds folder (or its nearest existing
// ancestor); -1 when nothing along the path can be queried.
int64_t FreeDiskSpace(const std::string& folder);
// The size of a regular file (links followed); -1 for anything else.
int64_t RegularFileSize(const std::string& path);
// A regular file with an execute bit for its owner.
bool IsExecutableFile(const std::string& path);
// Adds the execute bits wherever the file has read bits (as chmod +x would
// for a downloaded program); true when the file is executable afterwards.
bool MakeExecutable(const std::string& path);
// A small file of our own (a record kept beside a download), read or
// replaced whole. A symbolic link at its name is not followed: in a folder
// others can write, it could lead our writes to any file of ours.
bool ReadOwnFile(const std::string& path, std::string* bytes);
bool WriteOwnFile(const std::string& path, const std::string& bytes);
