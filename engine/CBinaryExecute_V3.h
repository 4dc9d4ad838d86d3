#pragma once
// The binary runner for the engine: runs the engine executable named by the
// path provider. One process-wide instance (GetBinaryRunner) lives until the
// process ends.

#include "engine/CBinaryExecBase.h"

class IGetPath;

class CBinaryExecute_V3 : public CBinaryExecBase {
public:
    // Null takes the process-wide path provider.
    explicit CBinaryExecute_V3(const IGetPath* paths = nullptr);
    ~CBinaryExecute_V3() override = default;

    // 0 when the engine executable's path is empty or no file is there.
    int GetExecutable(std::string* path) override;
    // The input unchanged.
    void MakeCommandLine(const std::string& input, std::string* commandLine) override;

private:
    const IGetPath* m_paths;
};

CBinaryExecBase* GetBinaryRunner();
