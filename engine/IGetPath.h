#pragma once
// Where the engine lives. One process-wide provider (GetPathProvider) lives
// until the process ends; its answers are narrow strings ending in '/' for
// folders. A folder that cannot be determined leaves the first part empty,
// which gives a relative path.

#include <string>

class IGetPath {
public:
    virtual ~IGetPath() = default;
    virtual std::string GetBaseFolder() const = 0;
    virtual std::string GetEngineFolder() const = 0;
    virtual std::string GetEngineExePath() const = 0;
};

IGetPath* GetPathProvider();
