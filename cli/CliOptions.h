#pragma once
// The command line of zdrdl.

#include <string>

struct CliOptions {
    std::string fileListUrl; // empty: the default file list
    std::string folder;      // empty: the default download folder
    bool engineConsent = true;
    bool resume = true; // the answer when the engine asks about a partial download
    bool plain = false; // skip the engine: every file on the built-in plain downloader
    bool help = false;
};

// False with a one-line reason in *error for a bad command line.
bool ParseCliOptions(int argc, const char* const* argv, CliOptions* options, std::string* error);
const char* CliUsage();
