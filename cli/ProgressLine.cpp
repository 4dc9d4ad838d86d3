#include "cli/ProgressLine.h"

#include "cli/TerminalText.h"
#include "service/DlFormat.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr int kBarWidth = 24;
// A bar narrower than this shows nothing worth its room.
constexpr int kMinBarWidth = 10;
// "[", "] " around the bar.
constexpr int kBarFrame = 3;

// The fields in the order they are shown.
enum Field { kPercent, kBytes, kSpeed, kElapsed, kLeft, kFiles, kPath, kName, kFieldCount };

// What goes first when the line is too wide (kFieldCount stands for the
// bar); the percentage never goes.
constexpr int kDropOrder[] = {kElapsed, kPath, kName, kFiles, kLeft, kFieldCount, kSpeed, kBytes};

std::string Joined(const std::vector<std::string>& fields)
{
    std::string line;
    for (const std::string& field : fields) {
        if (field.empty()) continue;
        if (!line.empty()) line += "  ";
        line += field;
    }
    return line;
}

std::string Bar(int percent, int width)
{
    const int filled = percent * width / 100;
    return "[" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(width - filled), '.') + "] ";
}

} // namespace

std::string FormatRate(double bytesPerSecond)
{
    const std::string size = FormatSize(bytesPerSecond > 0 ? bytesPerSecond : 0);
    return (size.empty() ? std::string("0 Bytes") : size) + "/s";
}

std::string FormatProgressLine(const DlProgress& p, int path, int columns)
{
    const int percent = p.percent < 0 ? 0 : (p.percent > 100 ? 100 : p.percent);
    std::vector<std::string> fields(kFieldCount);
    char head[8];
    snprintf(head, sizeof head, "%3d%%", percent);
    fields[kPercent] = head;
    fields[kBytes] = FormatSize(static_cast<double>(p.bytesPresent)) + " / " + FormatSize(static_cast<double>(p.totalBytes));
    fields[kSpeed] = FormatRate(static_cast<double>(p.speed));
    fields[kElapsed] = "elapsed " + FormatDuration(p.elapsedSeconds);
    // Without a speed the remaining time is a guess of nothing.
    if (p.speed > 0 && p.remainingSeconds >= 0) fields[kLeft] = "left " + FormatDuration(p.remainingSeconds);
    fields[kFiles] = "files " + std::to_string(p.filesDone) + "/" + std::to_string(p.fileCount);
    if (path == DL_PATH_ENGINE) fields[kPath] = "via engine";
    if (path == DL_PATH_PLAIN) fields[kPath] = "via plain";
    const size_t nameLength = strnlen(p.fileName, sizeof p.fileName);
    if (nameLength > 0) fields[kName] = TerminalSafe(std::string(p.fileName, nameLength));
    if (columns <= 0) return Joined(fields);

    const int room = columns - 1;
    bool withBar = true;
    for (int drop : kDropOrder) {
        const std::string text = Joined(fields);
        const int width = ColumnsOf(text);
        if (withBar && room - width - kBarFrame >= kMinBarWidth)
            return Bar(percent, std::min(kBarWidth, room - width - kBarFrame)) + text;
        if (!withBar && width <= room) return text;
        if (drop == kFieldCount) withBar = false;
        else fields[static_cast<size_t>(drop)].clear();
    }
    return CutToColumns(Joined(fields), room);
}

std::string FormatEngineUpdateLine(const DlEngineUpdate& update, int columns)
{
    std::string line = "updating engine: " + TerminalSafe(std::string(update.fileName, strnlen(update.fileName, sizeof update.fileName)));
    line += " " + FormatSize(static_cast<double>(update.fileBytes)) + " of " + FormatSize(static_cast<double>(update.fileSize));
    if (update.fileCount > 1)
        line += " (file " + std::to_string(update.fileNumber) + " of " + std::to_string(update.fileCount) + ")";
    return columns > 0 ? CutToColumns(line, columns - 1) : line;
}
