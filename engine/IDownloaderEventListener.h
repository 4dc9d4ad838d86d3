#pragma once
// What the engine update (CDownloader) tells its launcher.
//
// Contract:
// - Every call comes on the service thread with the network lock held, from
//   the network dispatch or the update's retry timer.
// - OnDownloaderOffline once per pause (the server unreachable);
//   OnDownloaderBegin/Progress for file data; then exactly one of
//   OnDownloaderFinished or OnDownloaderPathFailed, the update's last word.
// - Inside OnDownloaderFinished and OnDownloaderPathFailed the listener may
//   destroy the downloader; the downloader touches nothing of itself after
//   either. Inside the others it must not.

#include <cstdint>
#include <string>

class IDownloaderEventListener {
public:
    virtual void OnDownloaderOffline() = 0;
    virtual void OnDownloaderBegin(const char* url, uint32_t sizeLow, uint32_t sizeHigh) = 0;
    virtual void OnDownloaderProgress(const char* url, uint32_t bytesLow, uint32_t bytesHigh) = 0;
    // engineStarted: the engine executable runs; updateOk: no step failed;
    // newVersion: the description's version (empty when none was accepted).
    virtual void OnDownloaderFinished(int engineStarted, int updateOk, const std::string& newVersion) = 0;
    // kind 1: the engine folder cannot be used (made or unpacked into).
    virtual void OnDownloaderPathFailed(int kind) = 0;

protected:
    ~IDownloaderEventListener() = default;
};
