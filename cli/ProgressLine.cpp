#include "cli/ProgressLine.h"

#include "cli/TerminalText.h"
#include "service/DlFormat.h"

#include <cstring>

namespace {
constexpr int kBarWidth = 24;
}

std::string FormatProgressLine(const DlProgress& p, bool withBar)
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
    const size_t nameLength = strnlen(p.fileName, sizeof p.fileName);
    if (nameLength > 0) line += "  " + TerminalSafe(std::string(p.fileName, nameLength));
    return line;
}
