#pragma once
// The command line of zdrdl.

#include <string>

// The answer to the engine's question about a partial download.
enum class ResumeChoice {
    kUnset,  // no flag: asked on a terminal, else resumed for every file
    kResume, // --resume
    kAfresh, // --no-resume
};

struct CliOptions {
    std::string fileListUrl; // empty: the default file list
    std::string folder;      // empty: the default download folder
    bool engineConsent = true;
    ResumeChoice resume = ResumeChoice::kUnset;
    bool plain = false; // skip the engine: every file on the built-in plain downloader
    bool help = false;
    bool version = false;
};

// False with a one-line reason in *error for a bad command line.
bool ParseCliOptions(int argc, const char* const* argv, CliOptions* options, std::string* error);
const char* CliUsage();
