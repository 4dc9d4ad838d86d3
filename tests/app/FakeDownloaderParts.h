#pragma once
// Scripted stand-ins for what the main dialog's logic talks to: the
// service, the desktop and the window. Each records what it was asked and
// answers as the test has set it up.

#include "app/IDesktopShell.h"
#include "app/IDlService.h"
#include "app/IDownloaderView.h"

#include <cstring>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

class FakeDlService : public IDlService {
public:
    // Results, DL_OK unless a test says otherwise.
    int initializeResult = DL_OK;
    int fetchResult = DL_OK;
    int fetchedDataResult = DL_OK;
    int addSizeCheckResult = DL_OK;
    int startSizeCheckResult = DL_OK;
    int createJobResult = DL_OK;
    int startJobResult = DL_OK;
    std::string body;             // the fetched file list
    long long reportedSize = -1;  // what GetFetchedSize says; -1: the body's size
    long long sizeCheckTotal = 0;
    long long remaining = 0;
    int nextJob = 7;
    DlProgress progress{};
    std::deque<int> notices;
    std::deque<std::string> fileDone;

    std::vector<std::string> calls; // "Name arg ..." in call order
    std::vector<std::string> sizeCheckUrls;
    std::vector<std::pair<std::string, std::string>> jobFiles; // url, folder
    std::vector<int> startModes;
    std::vector<std::pair<bool, bool>> resumeAnswers;

    int Initialize(HWND) override { return Call("Initialize", initializeResult); }
    int Finalize() override { return Call("Finalize", DL_OK); }
    int FetchData(const std::string& url) override { return Call("FetchData " + url, fetchResult); }
    int GetFetchedSize(long long* size) override
    {
        *size = reportedSize >= 0 ? reportedSize : static_cast<long long>(body.size());
        return Call("GetFetchedSize", *size > 0 ? DL_OK : DL_ERR_GENERAL);
    }
    int GetFetchedData(DlDataBuffer* buffer) override
    {
        if (fetchedDataResult == DL_OK && buffer->size == static_cast<long long>(body.size()))
            memcpy(buffer->data, body.data(), body.size());
        return Call("GetFetchedData", fetchedDataResult);
    }
    int AddSizeCheckUrl(const std::string& url) override
    {
        sizeCheckUrls.push_back(url);
        return Call("AddSizeCheckUrl " + url, addSizeCheckResult);
    }
    int StartSizeCheck() override { return Call("StartSizeCheck", startSizeCheckResult); }
    int GetSizeCheckTotal(long long* total) override
    {
        *total = sizeCheckTotal;
        return Call("GetSizeCheckTotal", DL_OK);
    }
    int SetServiceId(const std::string& id) override { return Call("SetServiceId " + id, DL_OK); }
    int CreateJob(int* job, const std::string& serviceId) override
    {
        if (createJobResult == DL_OK) *job = nextJob++;
        return Call("CreateJob " + serviceId, createJobResult);
    }
    int SetJobEngineFlag(int job) override { return Call("SetJobEngineFlag " + std::to_string(job), DL_OK); }
    int AddJobFile(int job, const std::string& url, const std::string& folder, long long size, int flagA) override
    {
        jobFiles.emplace_back(url, folder);
        return Call("AddJobFile " + std::to_string(job) + " " + url + " " + folder + " " + std::to_string(size) +
                        " " + std::to_string(flagA),
                    DL_OK);
    }
    int StartJob(int job, unsigned char mode) override
    {
        startModes.push_back(mode);
        return Call("StartJob " + std::to_string(job), startJobResult);
    }
    int StopJob(int job) override { return Call("StopJob " + std::to_string(job), DL_OK); }
    int RemoveJob(int job) override { return Call("RemoveJob " + std::to_string(job), DL_OK); }
    int AnswerResume(int job, bool resume, bool applyToAll) override
    {
        resumeAnswers.emplace_back(resume, applyToAll);
        return Call("AnswerResume " + std::to_string(job), DL_OK);
    }
    int GetJobRemaining(int job, long long* value) override
    {
        *value = remaining;
        return Call("GetJobRemaining " + std::to_string(job), DL_OK);
    }
    int PopJobNotice(int job, int* code) override
    {
        *code = DL_NOTICE_NONE;
        if (!notices.empty()) {
            *code = notices.front();
            notices.pop_front();
        }
        return Call("PopJobNotice " + std::to_string(job), DL_OK);
    }
    int PopJobFileDone(int job, int* sequence, std::string* text) override
    {
        *sequence = 0;
        text->clear();
        if (!fileDone.empty()) {
            *text = fileDone.front();
            fileDone.pop_front();
            *sequence = 1;
        }
        return Call("PopJobFileDone " + std::to_string(job), DL_OK);
    }
    int GetJobProgress(int job, DlProgress* record) override
    {
        *record = progress;
        return Call("GetJobProgress " + std::to_string(job), DL_OK);
    }

    bool Called(const std::string& call) const
    {
        for (const std::string& c : calls)
            if (c == call) return true;
        return false;
    }

private:
    int Call(const std::string& call, int result)
    {
        calls.push_back(call);
        return result;
    }
};

class FakeDesktopShell : public IDesktopShell {
public:
    std::set<std::string> directories;
    std::set<std::string> files;
    std::vector<std::string> created;
    std::vector<std::string> saved;
    std::vector<std::string> started;
    long long freeBytes = 0;
    bool startResult = true;

    bool DirectoryExists(const std::string& folder) override { return directories.count(folder) != 0; }
    bool CreateOneDirectory(const std::string& folder) override
    {
        created.push_back(folder);
        directories.insert(folder);
        return true;
    }
    bool FileExists(const std::string& path) override { return files.count(path) != 0; }
    long long FreeBytes(const std::string&) override { return freeBytes; }
    bool SaveDownloadFolder(const std::string& folder) override
    {
        saved.push_back(folder);
        return true;
    }
    bool RunInstaller(const std::string& path) override
    {
        started.push_back(path);
        return startResult;
    }
};

class FakeDownloaderView : public IDownloaderView {
public:
    struct Box {
        std::string text;
        std::string caption;
        bool operator==(const Box&) const = default;
    };

    std::string title;
    Texts shown;     // the texts last pushed to the screen
    Buttons buttons; // the buttons as last set
    int filePercent = -1;
    int jobPercent = -1;
    std::vector<int> graphSamples;
    bool consentChecked = false;
    std::string bannerUrl;
    bool statusHighlighted = false;
    bool finalStatus = false;
    int centred = 0;
    std::vector<Box> messages;
    std::vector<Box> questions;
    std::deque<bool> answers; // Yes/No answers in turn; No when none is left
    std::optional<std::string> folderToChoose;
    std::string chooserTitle;
    std::string chooserInitial;
    std::function<std::string(const std::string&)> chooserStatus;
    std::pair<bool, bool> resumeAnswer{true, true};
    int resumeAsked = 0;
    int refreshPosted = 0;
    int installerPosted = 0;
    int quitPosted = 0;
    int ended = 0;

    void SetTitle(const std::string& text) override { title = text; }
    void ShowTexts(const Texts& texts) override { shown = texts; }
    void SetButtons(const Buttons& state) override { buttons = state; }
    void SetProgress(int file, int job) override
    {
        filePercent = file;
        jobPercent = job;
    }
    void AddGraphSample(int value) override { graphSamples.push_back(value); }
    void SetConsentChecked(bool checked) override { consentChecked = checked; }
    void NavigateBanner(const std::string& url) override { bannerUrl = url; }
    void HighlightStatus() override { statusHighlighted = true; }
    void ShowFinalStatus() override { finalStatus = true; }
    void CentreOnScreen() override { ++centred; }
    void ShowMessage(const std::string& text, const std::string& caption) override
    {
        messages.push_back({text, caption});
    }
    bool AskYesNo(const std::string& text, const std::string& caption) override
    {
        questions.push_back({text, caption});
        if (answers.empty()) return false;
        bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    bool ChooseFolder(const std::string& titleText, const std::string& initial,
                      const std::function<std::string(const std::string&)>& statusText, std::string* chosen) override
    {
        chooserTitle = titleText;
        chooserInitial = initial;
        chooserStatus = statusText;
        if (!folderToChoose) return false;
        *chosen = *folderToChoose;
        return true;
    }
    void AskResume(bool* resume, bool* applyToAll) override
    {
        ++resumeAsked;
        *resume = resumeAnswer.first;
        *applyToAll = resumeAnswer.second;
    }
    void PostRefresh() override { ++refreshPosted; }
    void PostRunInstaller() override { ++installerPosted; }
    void PostQuit() override { ++quitPosted; }
    void EndDialog() override { ++ended; }
};
