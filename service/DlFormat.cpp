#include "service/DlFormat.h"

#include <cstdio>

namespace {

std::string Printf(const char* format, double value)
{
    char text[64];
    snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

std::string FormatSize(double x)
{
    if (x < 1024) return Printf("%0.f Bytes", x);
    static const char* const units[] = {"%.2f KB", "%.2f MB", "%.2f GB", "%.2f TB"};
    for (const char* unit : units) {
        x /= 1024;
        if (x < 1024) return Printf(unit, x);
    }
    return "";
}

std::string FormatSpeed(double x)
{
    if (x <= 0) return "0.0 Bytes";
    if (x < 1024) return Printf("%0.f Bytes", x);
    static const char* const units[] = {"%0.2f KB/Sec", "%0.2f MB/Sec", "%0.2f GB/Sec", "%0.2f TB/Sec"};
    for (const char* unit : units) {
        x /= 1024;
        if (x < 1024) return Printf(unit, x);
    }
    return "0.0 Bytes";
}

std::string FormatDuration(long long seconds)
{
    if (seconds < 0) seconds = 0;
    char text[32];
    snprintf(text, sizeof text, "%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
    return text;
}
