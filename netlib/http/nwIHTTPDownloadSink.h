#pragma once
// What nwCHTTPDownloader tells its caller about each download.
//
// Contract:
// - Exactly one of the three calls is made for each download the caller
//   started (a redirect or a retry continues the same download under the
//   same id and value), unless the download is cancelled first or no sink is
//   set at the time; then none is made.
// - Calls come on the service thread with the network lock held. Inside a
//   call the sink may start downloads, cancel any, clear the sink and
//   release the downloader; the downloader stays valid until the call
//   returns.
// - OnDownloaded lends the body (size bytes, exactly the announced
//   Content-Length) for the length of the call only.

#include <cstdint>

class nwIHTTPDownloadSink {
public:
    virtual void OnDownloaded(int32_t id, int32_t value, const unsigned char* data, int32_t size) = 0;
    // A status other than 200/206/302/303, no usable length or location, too
    // many redirects, a body over the size limit, a timeout or a closed
    // connection, or a download that could not start.
    virtual void OnDownloadFailed(int32_t id, int32_t value) = 0;
    // The host was unreachable on three connects in a row.
    virtual void OnDownloadUnreachable(int32_t id, int32_t value) = 0;

protected:
    ~nwIHTTPDownloadSink() = default;
};
