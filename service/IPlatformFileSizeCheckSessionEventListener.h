#pragma once
// What one size probe (CPlatformFileSizeCheckSession) tells its checker.
//
// Contract:
// - Calls come on the service thread with the network lock held and pass
//   first the context given to SetListener.
// - Exactly one call per probe: OnSizeKnown once the file copy's size is set,
//   or OnSizeFailed with DL_NOTICE_DISK_FULL (the file is larger than the
//   free space of its volume) or DL_NOTICE_DOWNLOAD_FAILED (no alternative
//   gave a size) and the file's URL entry as text (the session's string,
//   valid for the call).
// - The listener may destroy the session inside either call; the session
//   touches nothing of itself afterwards. The session does not own the
//   listener.

class IPlatformFileSizeCheckSessionEventListener {
public:
    virtual void OnSizeKnown(void* context) = 0;
    virtual void OnSizeFailed(void* context, int code, const char* text) = 0;

protected:
    ~IPlatformFileSizeCheckSessionEventListener() = default;
};
