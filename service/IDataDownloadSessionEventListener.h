#pragma once
// What the in-memory fetch session tells its owner.
//
// Contract: calls come on the service thread with the network lock held. The
// body handed to OnDataReady stays owned by the session (the application
// copies it later). The listener must not destroy the session inside a call.

class IDataDownloadSessionEventListener {
public:
    virtual void OnDataReady(const void* body, long long size) = 0; // 522
    virtual void OnDataFailed(int reason) = 0;                      // 523
    virtual void OnDataTick() = 0;                                  // 529

protected:
    ~IDataDownloadSessionEventListener() = default;
};
