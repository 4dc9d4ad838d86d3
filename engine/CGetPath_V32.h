#pragma once
// The engine's place under the user's data folder:
// <data>/Ostrel/zdrDownloadV32/ZDRDownloadV32.exe (the name the update
// description uses for the engine, so it is kept on every platform).

#include "engine/IGetPath.h"

class CGetPath_V32 : public IGetPath {
public:
    static constexpr const char* kMakerFolder = "Ostrel/";
    static constexpr const char* kEngineFolder = "zdrDownloadV32/";
    static constexpr const char* kEngineExecutable = "ZDRDownloadV32.exe";

    std::string GetBaseFolder() const override;
    std::string GetEngineFolder() const override;
    std::string GetEngineExePath() const override;
};
