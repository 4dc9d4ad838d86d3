#include "app/CCommandLineInfoParser.h"

int CCommandLineInfoParser::s_nParamCount = 0;

void CCommandLineInfoParser::ParseParam(const std::string& param, bool, bool)
{
    if (m_nSeen == 0) m_strFileListUrl = param;
    ++m_nSeen;
    ++s_nParamCount;
}

void CCommandLineInfoParser::ParseCommandLine(int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i) {
        std::string param = argv[i] ? argv[i] : "";
        const bool flag = !param.empty() && (param[0] == '/' || param[0] == '-');
        if (flag) param.erase(0, 1);
        ParseParam(param, flag, i == argc - 1);
    }
}
