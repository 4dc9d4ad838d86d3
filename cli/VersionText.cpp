#include "cli/VersionText.h"

#include "platform/VersionNote.h"

std::string VersionText(const std::string& enginePath)
{
    std::string text = std::string("zdrdl ") + ZDR_VERSION + "\ndownload service " + ZDR_VERSION + " (built in)\n";
    const std::string engine = ReadVersionNote(enginePath);
    if (engine.empty())
        return text + "download engine: not installed (" + enginePath +
               "; it is installed from the update site by the first download)\n";
    return text + "download engine " + engine + " (" + enginePath + ")\n";
}
