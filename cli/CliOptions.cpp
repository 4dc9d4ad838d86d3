#include "cli/CliOptions.h"

#include <cstring>

bool ParseCliOptions(int argc, const char* const* argv, CliOptions* options, std::string* error)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options->help = true;
        } else if (arg == "--version") {
            options->version = true;
        } else if (arg == "--folder") {
            if (i + 1 >= argc || !argv[i + 1][0]) {
                *error = "--folder needs a folder";
                return false;
            }
            options->folder = argv[++i];
        } else if (arg.rfind("--folder=", 0) == 0 && arg.size() > strlen("--folder=")) {
            options->folder = arg.substr(strlen("--folder="));
        } else if (arg == "--no-engine-consent") {
            options->engineConsent = false;
        } else if (arg == "--no-resume") {
            options->resume = ResumeChoice::kAfresh;
        } else if (arg == "--resume") {
            options->resume = ResumeChoice::kResume;
        } else if (arg == "--plain") {
            options->plain = true;
        } else if (!arg.empty() && arg[0] == '-') {
            *error = "unknown option " + arg;
            return false;
        } else if (options->fileListUrl.empty()) {
            options->fileListUrl = arg;
        } else {
            *error = "only one file list URL may be given";
            return false;
        }
    }
    return true;
}

const char* CliUsage()
{
    return "usage: zdrdl [--folder DIR] [--plain] [--no-engine-consent] [--resume | --no-resume]\n"
           "             [FILE_LIST_URL]\n"
           "\n"
           "Downloads the game client named by the portal's file list, as the downloader\n"
           "window does: fetches the list (default: http://<portal>/download/vx2/zdrdownload/\n"
           "filelist.txt, the portal host taken from ZDR_PORTAL_HOST or the build), checks\n"
           "the size of every file, checks the folder's free space, then downloads every file\n"
           "with live progress.\n"
           "\n"
           "Files go through our download engine, which the service installs or updates\n"
           "from the update site first (ZDR_UPDATE_HOST); when the engine cannot be used\n"
           "the download goes on with the built-in plain downloader.\n"
           "\n"
           "  --folder DIR          where the files go (default ~/tollan/VX2/)\n"
           "  --plain               skip the engine: every file on the plain downloader, for\n"
           "                        comparison (the same as ZDR_NO_ENGINE=1)\n"
           "  --no-engine-consent   no high-speed download: the engine fetches one\n"
           "                        connection per file, one file after another (mode 0)\n"
           "  --resume              continue partial downloads: the engine's question\n"
           "                        about a partial download is answered yes, for every\n"
           "                        file\n"
           "  --no-resume           start partial downloads afresh: parts an earlier run\n"
           "                        left in the folder are deleted, and the engine's\n"
           "                        question about a partial download is answered no\n"
           "  --version             the program's version\n"
           "  -h, --help            this text\n"
           "\n"
           "The engine asks before it continues a partial download of an earlier run.\n"
           "With neither --resume nor --no-resume the question is asked here when standard\n"
           "input is a terminal (resume it? [y/n], then: for every file? [y/n]); otherwise\n"
           "it is answered as with --resume.\n"
           "\n"
           "On a terminal one status line is redrawn every second (bar, percent, bytes,\n"
           "speed, elapsed and remaining time, the path: via engine or via plain);\n"
           "otherwise one plain line per second. While the engine is updated the line\n"
           "shows the update: \"updating engine: NAME x of y\".\n"
           "Ctrl-C stops and removes the download and shuts the service down.\n"
           "\n"
           "Exit status: 0 all files downloaded; 1 bad command line; 2 the service did not\n"
           "start; 3 the file list could not be fetched or read; 4 the size check failed;\n"
           "5 not enough free space; 6 the download failed; 130 interrupted.\n";
}
