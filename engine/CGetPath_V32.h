#pragma once
// The engine's place under the user's data folder:
// <data>/Ostrel/zdrDownloadV32/ZDRDownloadV32.

#include "engine/IGetPath.h"

class CGetPath_V32 : public IGetPath {
public:
    static constexpr const char* kMakerFolder = "Ostrel/";
    static constexpr const char* kEngineFolder = "zdrDownloadV32/";
    static constexpr const char* kEngineExecutable = "ZDRDownloadV32";

    std::string GetBaseFolder() const override;
    std::string GetEngineFolder() const override;
    std::string GetEngineExePath() const override;
};
