#pragma once
// What zdrdl --version says: its own version, the download service's (built
// into it) and the engine's as installed at enginePath (read from the file,
// not by running it), or that none is installed yet.

#include <string>

std::string VersionText(const std::string& enginePath);
