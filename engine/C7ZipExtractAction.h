#pragma once
// Unpacks a 7z archive held in memory (libarchive's 7z reader: LZMA, LZMA2,
// PPMd, BCJ and the other common coders). Every error, also one after the
// archive opened (a corrupt entry, a CRC mismatch, a write that fails), fails
// the extraction. Stored Unix permissions count only for the owner's execute
// bit; stored times are kept. Results: IExtractAction::Result
// (kSevenZipFailed for any failure after the arguments were accepted).

#include "engine/IExtractAction.h"

class C7ZipExtractAction : public IExtractAction {
public:
    int Extract(const void* data, uint32_t sizeLow, int32_t sizeHigh, const char* folder) override;
};
