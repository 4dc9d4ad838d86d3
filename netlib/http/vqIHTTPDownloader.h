#pragma once
// Whole HTTP(S) resources fetched into memory (class id 0x2009). Each
// download carries a caller-chosen id and value and is reported once to the
// sink (nwIHTTPDownloadSink.h) with its whole body or as failed.
//
// Contract: every call may be made from any thread; each takes the network
// lock around its work. Download answers 0x40300000 even for a download that
// cannot start: that one is reported failed (to a set sink) before Download
// returns. Cancel and CancelAll end downloads without a report. The sink is
// not owned.

#include "netlib/core/vqIUnknown.h"
#include "netlib/http/nwIHTTPDownloadSink.h"

#include <cstdint>

class vqIHTTPDownloader : public vqIUnknown {
public:
    virtual vqRESULT SetSink(nwIHTTPDownloadSink* sink) = 0;
    virtual vqRESULT Download(int32_t id, const char* url, int32_t value) = 0;
    // Every running download of that id (a retry or redirect included).
    virtual vqRESULT Cancel(int32_t id) = 0;
    virtual vqRESULT CancelAll() = 0;
};
