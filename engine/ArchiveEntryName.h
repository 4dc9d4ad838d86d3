#pragma once
// Archive entry names are untrusted input: these rules decide where an entry
// may land inside the destination folder.

#include <string>
#include <vector>

// Splits an entry name into path components; '/' and '\' both separate, and
// empty and "." components are dropped. False for a name that is absolute
// (starts with a separator), holds a ".." component, or names nothing.
bool SplitArchiveEntryName(const std::string& name, std::vector<std::string>& components);

// Whether a symbolic link may be unpacked: its target must be relative and
// hold no ".." component. Such a link can only point at or below its own
// folder, however links inside the folder are chained, so it never leads
// outside the destination.
bool IsSafeLinkTarget(const std::string& target);
