#include "cli/ProgressLine.h"

#include "cli/TerminalText.h"
#include "service/DlFormat.h"

#include <cstring>

namespace {
constexpr int kBarWidth = 24;
}

std::string FormatProgressLine(const DlProgress& p, bool withBar, int path)
{
    int percent = p.percent < 0 ? 0 : (p.percent > 100 ? 100 : p.percent);
    std::string line;
    if (withBar) {
        int filled = percent * kBarWidth / 100;
        line = "[" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(kBarWidth - filled), '.') +
               "] ";
    }
    char head[16];
    snprintf(head, sizeof head, "%3d%%  ", percent);
    line += head;
    line += FormatSize(static_cast<double>(p.bytesPresent)) + " / " + FormatSize(static_cast<double>(p.totalBytes));
    line += "  " + FormatSpeed(static_cast<double>(p.speed));
    line += "  elapsed " + FormatDuration(p.elapsedSeconds);
    line += "  left " + FormatDuration(p.remainingSeconds);
    char files[48];
    snprintf(files, sizeof files, "  files %d/%d", p.filesDone, p.fileCount);
    line += files;
    if (path == DL_PATH_ENGINE) line += "  via engine";
    if (path == DL_PATH_PLAIN) line += "  via plain";
    const size_t nameLength = strnlen(p.fileName, sizeof p.fileName);
    if (nameLength > 0) line += "  " + TerminalSafe(std::string(p.fileName, nameLength));
    return line;
}

std::string FormatEngineUpdateLine(const DlEngineUpdate& update)
{
    std::string line = "updating engine: " + TerminalSafe(std::string(update.fileName, strnlen(update.fileName, sizeof update.fileName)));
    line += " " + FormatSize(static_cast<double>(update.fileBytes)) + " of " + FormatSize(static_cast<double>(update.fileSize));
    if (update.fileCount > 1)
        line += " (file " + std::to_string(update.fileNumber) + " of " + std::to_string(update.fileCount) + ")";
    return line;
}
