#pragma once
// What the engine found of an earlier run when it asks whether to resume:
// each file of the job with a part and its record in the folder, and how
// much of it is there.

#include <string>
#include <vector>

struct PartialDownload {
    std::string name;
    long long present = 0; // bytes the record says are written
    long long size = 0;
};

// entries: the file list's entries (alternatives allowed); folder ends in '/'.
std::vector<PartialDownload> FindPartialDownloads(const std::string& folder, const std::vector<std::string>& entries);
// "NAME, x of y" for each (terminal-safe), at most kNamedParts of them and
// then "and n more"; empty for none.
std::string DescribePartialDownloads(const std::vector<PartialDownload>& parts);
constexpr size_t kNamedParts = 3;
