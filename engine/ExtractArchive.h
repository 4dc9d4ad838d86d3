#pragma once
// Unpacks an archive of a known kind with the matching extraction action
// (IExtractAction.h). Answers 0 when done and kExtractFailed when there is no
// action for the kind or the action failed.

#include <cstdint>

enum ArchiveKind {
    kArchiveNone = 0,
    kArchive7z = 1,
    kArchiveZip = 2,
};

constexpr int kExtractFailed = 5;

int ExtractArchive(int kind, const void* data, uint32_t sizeLow, int32_t sizeHigh, const char* folder);
