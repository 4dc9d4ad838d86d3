#pragma once
// The main window as its rules (CDownloaderDlgLogic) see it: texts, bars,
// buttons, questions and the few things that happen later on the window's
// own loop.
//
// Contract:
// - Every call comes on the UI thread. Texts are UTF-8.
// - ShowMessage and AskYesNo are modal and return once the user answered
//   (AskYesNo: true for Yes). ChooseFolder is modal as well: statusText(f)
//   gives the text to show while folder f is selected; true and *chosen
//   (as the chooser gives it, maybe without the trailing '/') on OK.
// - PostRefresh, PostRunInstaller and PostQuit only queue: the matching
//   CDownloaderDlgLogic call (OnRefresh, OnRunInstaller) or the end of the
//   window comes after the current handler has returned. EndDialog ends the
//   window once the current handler has returned.

#include <functional>
#include <string>

class IDownloaderView {
public:
    // The seven texts the window shows.
    struct Texts {
        std::string fileLabel;
        std::string received;
        std::string total;
        std::string remaining;
        std::string elapsed;
        std::string status;
        std::string downloadFolder;
        bool operator==(const Texts&) const = default;
    };
    // Which buttons show, and which pictures the start/stop button wears.
    struct Buttons {
        bool startStopShown = true;
        bool startStopRunning = false; // the stop pictures
        bool browseShown = true;
        bool installShown = false;
        bool operator==(const Buttons&) const = default;
    };

    virtual ~IDownloaderView() = default;
    virtual void SetTitle(const std::string& title) = 0;
    virtual void ShowTexts(const Texts& texts) = 0;
    virtual void SetButtons(const Buttons& buttons) = 0;
    virtual void SetProgress(int filePercent, int jobPercent) = 0;
    // A speed sample in megabits per second; the graph is redrawn.
    virtual void AddGraphSample(int value) = 0;
    virtual void SetConsentChecked(bool checked) = 0;
    virtual void NavigateBanner(const std::string& url) = 0;
    // The job has completed: the status text turns yellow.
    virtual void HighlightStatus() = 0;
    // The status text grows to two lines; its area is painted at once.
    virtual void ShowFinalStatus() = 0;
    virtual void CentreOnScreen() = 0;
    virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
    virtual bool AskYesNo(const std::string& text, const std::string& caption) = 0;
    virtual bool ChooseFolder(const std::string& title, const std::string& initial,
                              const std::function<std::string(const std::string&)>& statusText,
                              std::string* chosen) = 0;
    // The resume prompt; its two answers.
    virtual void AskResume(bool* resume, bool* applyToAll) = 0;
    virtual void PostRefresh() = 0;
    virtual void PostRunInstaller() = 0;
    virtual void PostQuit() = 0;
    virtual void EndDialog() = 0;
};
