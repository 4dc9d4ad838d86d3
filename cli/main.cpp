// zdrdl: downloads the game client from the command line through the
// download service, as the downloader window does.

#include "cli/CDownloadRun.h"
#include "cli/CEventInbox.h"
#include "cli/CliOptions.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace {

void OnInterrupt(int)
{
    CEventInbox::Interrupt();
}

} // namespace

int main(int argc, char** argv)
{
    CliOptions options;
    std::string error;
    if (!ParseCliOptions(argc, argv, &options, &error)) {
        fprintf(stderr, "zdrdl: %s\n%s", error.c_str(), CliUsage());
        return CLI_BAD_COMMAND_LINE;
    }
    if (options.version) {
        puts("zdrdl " ZDR_VERSION);
        return CLI_OK;
    }
    if (options.help) {
        fputs(CliUsage(), stdout);
        return CLI_OK;
    }
    struct sigaction action{};
    action.sa_handler = OnInterrupt;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    CDownloadRun run(options, stdout, isatty(STDOUT_FILENO) != 0, isatty(STDIN_FILENO) ? STDIN_FILENO : -1);
    return run.Execute();
}
