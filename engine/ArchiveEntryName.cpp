#include "engine/ArchiveEntryName.h"

namespace {

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

bool Split(const std::string& name, std::vector<std::string>& components)
{
    components.clear();
    if (name.empty() || IsSeparator(name[0])) return false;
    std::string part;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && !IsSeparator(name[i])) {
            part += name[i];
            continue;
        }
        if (part == "..") return false;
        if (!part.empty() && part != ".") components.push_back(part);
        part.clear();
    }
    return !components.empty();
}

} // namespace

bool SplitArchiveEntryName(const std::string& name, std::vector<std::string>& components)
{
    return Split(name, components);
}

bool IsSafeLinkTarget(const std::string& target)
{
    std::vector<std::string> components;
    return Split(target, components);
}
