#include "engine/ExtractArchive.h"

#include "engine/C7ZipExtractAction.h"
#include "engine/CGZipExtractAction.h"

#include <memory>

int ExtractArchive(int kind, const void* data, uint32_t sizeLow, int32_t sizeHigh, const char* folder)
{
    std::unique_ptr<IExtractAction> action;
    if (kind == kArchive7z) action = std::make_unique<C7ZipExtractAction>();
    else if (kind == kArchiveZip) action = std::make_unique<CGZipExtractAction>();
    if (!action) return kExtractFailed;
    return action->Extract(data, sizeLow, sizeHigh, folder) == IExtractAction::kDone ? 0 : kExtractFailed;
}
