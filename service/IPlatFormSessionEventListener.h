#pragma once
// What the plain transfer session (CPlatformSession) tells the plain
// downloader about the files of one job.
//
// Contract:
// - Every call comes on the service thread with the network lock held and
//   passes first the context given to SetListener (the downloader's transfer
//   record).
// - Order per file: OnFileOpened (again for every new connection), then
//   OnProgress as body bytes are written, then OnFileDone once the file is
//   complete on disk. After the last file OnAllFilesDone; or, instead, one
//   OnTransferFailed when the session gives up (after which it calls nothing
//   more). OnNotice may come before OnTransferFailed (DL_NOTICE_DISK_FULL).
// - Inside any call the listener may destroy the session (and with it the
//   file copies it was handed); the session touches nothing of itself after
//   a call that did so. Texts and file copies are the session's and live only
//   for the call.
// - The session does not own the listener.

#include "service/CJob.h"

class IPlatFormSessionEventListener {
public:
    virtual void OnAllFilesDone(void* context) = 0;
    // text: the URL the session was using.
    virtual void OnTransferFailed(void* context, const char* text) = 0;
    virtual void OnFileDone(void* context, const CJobFile& file) = 0;
    virtual void OnProgress(void* context) = 0;
    virtual void OnFileOpened(void* context, const char* path) = 0;
    virtual void OnNotice(void* context, int code, const char* text) = 0;

protected:
    ~IPlatFormSessionEventListener() = default;
};
