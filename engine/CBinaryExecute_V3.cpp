#include "engine/CBinaryExecute_V3.h"

#include "engine/IGetPath.h"
#include "platform/FileSystem.h"

CBinaryExecute_V3::CBinaryExecute_V3(const IGetPath* paths) : m_paths(paths ? paths : GetPathProvider()) {}

int CBinaryExecute_V3::GetExecutable(std::string* path)
{
    const std::string exe = m_paths->GetEngineExePath();
    if (exe.empty() || !PathExists(exe)) return 0;
    if (path) *path = exe;
    return 1;
}

void CBinaryExecute_V3::MakeCommandLine(const std::string& input, std::string* commandLine)
{
    if (commandLine) *commandLine = input;
}

CBinaryExecBase* GetBinaryRunner()
{
    static CBinaryExecute_V3 runner;
    return &runner;
}
