#include "cli/PartialDownloads.h"

#include "cli/TerminalText.h"
#include "netlib/layers/CControlFile.h"
#include "netlib/layers/nwCDNLocalCodec.h"
#include "service/DlFormat.h"
#include "service/HttpTransferRules.h"

#include <sys/stat.h>

std::vector<PartialDownload> FindPartialDownloads(const std::string& folder, const std::vector<std::string>& entries)
{
    std::vector<PartialDownload> found;
    for (const std::string& entry : entries) {
        const std::string url = JoinAlternatives(SplitAlternatives(entry));
        const size_t slash = url.find_last_of('/');
        if (slash == std::string::npos || slash + 1 == url.size()) continue;
        const std::string name = url.substr(slash + 1);
        CControlFile record;
        struct stat part;
        if (!record.Load(folder + name + kLocalControlSuffix) || stat((folder + name + kLocalPartSuffix).c_str(), &part) != 0)
            continue;
        found.push_back({name, static_cast<long long>(record.DoneBytes()), static_cast<long long>(record.size)});
    }
    return found;
}

std::string DescribePartialDownloads(const std::vector<PartialDownload>& parts)
{
    std::string text;
    for (size_t i = 0; i < parts.size() && i < kNamedParts; ++i) {
        if (i > 0) text += "; ";
        text += TerminalSafe(parts[i].name) + ", " + FormatSize(static_cast<double>(parts[i].present)) + " of " +
                FormatSize(static_cast<double>(parts[i].size));
    }
    if (parts.size() > kNamedParts) text += "; and " + std::to_string(parts.size() - kNamedParts) + " more";
    return text;
}
