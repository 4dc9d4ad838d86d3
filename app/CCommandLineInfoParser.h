#pragma once
// The program's command line: the first parameter, flag or not, is the file
// list's URL; every parameter is counted (per parser and for the whole
// process) and nothing else is done with it.
// A flag is a parameter that starts with '/' or '-', passed on without that
// character.

#include <string>

class CCommandLineInfoParser {
public:
    // Called once per parameter, in order.
    void ParseParam(const std::string& param, bool flag, bool last);
    // Splits argv[1..] into ParseParam calls.
    void ParseCommandLine(int argc, const char* const* argv);

    const std::string& FileListUrl() const { return m_strFileListUrl; }
    // Parameters seen by every parser of the process.
    static int ParamCount() { return s_nParamCount; }

private:
    std::string m_strFileListUrl;
    int m_nSeen = 0;
    static int s_nParamCount;
};
