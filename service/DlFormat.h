#pragma once
// The texts front ends show for sizes, rates and durations, shared by the GUI
// and the command-line program so that both read the same.

#include <string>

// "0 Bytes", "1.50 KB", "3.00 MB", ... "TB"; 1024 TB and more: "".
std::string FormatSize(double bytes);
// "0.0 Bytes" for nothing (or 1024 TB/s and more), "512 Bytes", "2.00 KB/Sec", ...
std::string FormatSpeed(double bytesPerSecond);
// "hh:mm:ss" with the total hours, so 25 hours read 25:00:00.
std::string FormatDuration(long long seconds);
