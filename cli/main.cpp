// zdrdl: downloads the game client from the command line through the
// download service, as the downloader window does.

#include "cli/CDownloadRun.h"
#include "cli/CEventInbox.h"
#include "cli/CliOptions.h"
#include "cli/VersionText.h"
#include "engine/IGetPath.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace {

void OnInterrupt(int signal)
{
    CEventInbox::Interrupt(signal);
}

} // namespace

int main(int argc, char** argv)
{
    CliOptions options;
    std::string error;
    if (!ParseCliOptions(argc, argv, &options, &error)) {
        fprintf(stderr, "zdrdl: %s\nzdrdl: try --help\n", error.c_str());
        return CLI_BAD_COMMAND_LINE;
    }
    if (options.help) {
        fputs(CliUsage(), stdout);
        return CLI_OK;
    }
    if (options.version) {
        fputs(VersionText(GetPathProvider()->GetEngineExePath()).c_str(), stdout);
        return CLI_OK;
    }
    struct sigaction action{};
    action.sa_handler = OnInterrupt;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    ProgressMode progress = isatty(STDERR_FILENO) ? ProgressMode::kBar : ProgressMode::kLine;
    if (options.progress) progress = *options.progress;
    if (options.quiet) progress = ProgressMode::kNone;
    CDownloadRun run(options, stdout, stderr, progress, isatty(STDIN_FILENO) ? STDIN_FILENO : -1);
    return run.Execute();
}
