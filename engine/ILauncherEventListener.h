#pragma once
// What the engine launcher (CEngineLauncher) tells the engine downloader
// about the update check and start of the engine.
//
// Contract:
// - Every call comes on the service thread with the network lock held, from
//   the network dispatch or the update's retry timer. Only an update server
//   address that cannot be used at all pauses the update from inside the
//   launcher's construction, before a listener is set: that OnOffline is
//   not heard (the retries go on).
// - Per launcher: any number of OnOffline (at most one per pause of the
//   update while its server is unreachable), OnUpdateBegin and
//   OnUpdateProgress; then exactly one of OnEngineReady, OnEngineFailed or
//   OnPathFailed(1), after which the launcher says nothing more.
// - Inside any call the listener may detach itself (SetListener(nullptr))
//   and destroy the launcher; the launcher touches nothing of itself after
//   the call returns.
// - The listener is not owned by the launcher.

#include <cstdint>

class ILauncherEventListener {
public:
    // A file of the update starts arriving: its address and announced size.
    virtual void OnUpdateBegin(const char* url, uint32_t sizeLow, uint32_t sizeHigh) = 0;
    // Bytes of that file held so far.
    virtual void OnUpdateProgress(const char* url, uint32_t bytesLow, uint32_t bytesHigh) = 0;
    // The engine runs and said it is ready (the update may have failed and
    // left the installed engine as it was): connect to it.
    virtual void OnEngineReady() = 0;
    // No engine runs: none is installed, or it ended before it was ready.
    virtual void OnEngineFailed() = 0;
    // The update server cannot be reached; the update retries every second,
    // for a few seconds (CDownloader::kUnreachableAnswers) without an answer.
    virtual void OnOffline() = 0;
    // The engine's folder cannot be used (kind 1): the engine is given up.
    virtual void OnPathFailed(int kind) = 0;

protected:
    ~ILauncherEventListener() = default;
};
