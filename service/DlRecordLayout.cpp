// The payload records keep the natural x86-64 layout that front ends compile
// against; a change of field order or width breaks them silently.

#include "service/DlApi.h"

#include <cstddef>

static_assert(offsetof(DlDataBuffer, data) == 0 && offsetof(DlDataBuffer, size) == 8 && sizeof(DlDataBuffer) == 16);
static_assert(offsetof(DlNotice, code) == 0 && offsetof(DlNotice, text) == 8 && sizeof(DlNotice) == 16);
static_assert(offsetof(DlFileDone, fileCount) == 0 && offsetof(DlFileDone, sequence) == 4 &&
              offsetof(DlFileDone, text) == 8 && sizeof(DlFileDone) == 1032);
static_assert(offsetof(DlSizeInfo, fileCount) == 0 && offsetof(DlSizeInfo, totalBytes) == 8 && sizeof(DlSizeInfo) == 16);
static_assert(offsetof(DlJobResult, valueA) == 4 && offsetof(DlJobResult, valueB) == 8 && sizeof(DlJobResult) == 12);
static_assert(offsetof(DlProgress, totalBytes) == 0 && offsetof(DlProgress, bytesPresent) == 8 &&
              offsetof(DlProgress, fileCount) == 16 && offsetof(DlProgress, filesDone) == 20 &&
              offsetof(DlProgress, speed) == 24 && offsetof(DlProgress, elapsedSeconds) == 32 &&
              offsetof(DlProgress, remainingSeconds) == 40 && offsetof(DlProgress, percent) == 48 &&
              offsetof(DlProgress, fileIndex) == 52 && offsetof(DlProgress, fileSize) == 56 &&
              offsetof(DlProgress, fileBytesPresent) == 64 && offsetof(DlProgress, speed64) == 72 &&
              offsetof(DlProgress, remainingSeconds64) == 80 && offsetof(DlProgress, filePercent) == 88 &&
              offsetof(DlProgress, fileName) == 92 && sizeof(DlProgress) == 160);
static_assert(offsetof(DlEngineUpdate, fileCount) == 0 && offsetof(DlEngineUpdate, fileNumber) == 4 &&
              offsetof(DlEngineUpdate, fileSize) == 8 && offsetof(DlEngineUpdate, fileBytes) == 16 &&
              offsetof(DlEngineUpdate, fileName) == 24 && sizeof(DlEngineUpdate) == 96);
