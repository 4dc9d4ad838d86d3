#pragma once
// Unpacks a zip archive held in memory (minizip's reader over an in-memory
// I/O table; stored and deflated entries). Each entry's CRC is checked.
// Stored Unix permissions count only for the owner's execute bit; stored
// times are kept. Results: IExtractAction::Result (kZipFailed for any
// failure after the arguments were accepted).

#include "engine/IExtractAction.h"

class CGZipExtractAction : public IExtractAction {
public:
    int Extract(const void* data, uint32_t sizeLow, int32_t sizeHigh, const char* folder) override;
};
