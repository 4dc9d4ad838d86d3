#pragma once
// The program: reads the command line, lets one instance download at a time
// (a later start says so, brings the first one's window forward and ends)
// and runs the main window until it ends.

#include "app/CCommandLineInfoParser.h"

#include <wx/app.h>

#include <string>

class CZDRDownloaderApp : public wxApp {
public:
    static constexpr size_t kMaxInstanceName = 260;
    static constexpr const char* kAlreadyRunning = "正在進行下載作業";

    // "%s::%s" of the product name and the default list URL, at most 260 characters.
    static std::string InstanceName(const std::string& product, const std::string& defaultListUrl);

    bool OnInit() override;
    int OnRun() override;

private:
    // The caption of the program's own message boxes: the executable's name.
    std::string m_strCaption;
    CCommandLineInfoParser m_cmdInfo;
};
