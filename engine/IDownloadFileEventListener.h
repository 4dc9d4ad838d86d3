#pragma once
// Where an update record hands the bodies it received (CDownloadFile ->
// CDownloadFileList).
//
// Contract: called on the service thread from inside CDownloadFile::Receive,
// with the record that received the bytes. The data and the digest list stay
// the caller's and are valid only during the call. The listener must not
// destroy the record inside the call (the record is still on the stack); it
// may add records to its list.

#include <cstdint>
#include <vector>

class CDownloadFile;

class IDownloadFileEventListener {
public:
    // The update description arrived. Answers 0 when the list of files to
    // fetch was built, 2 for no data, 3 for a description without version or
    // with a file without address, 7 when the engine folder cannot be made.
    virtual int OnDescription(CDownloadFile* record, const void* data, uint32_t sizeLow, int32_t sizeHigh) = 0;
    // A file's data arrived; digestList is the list it must match, or null for
    // a file that is not verified. Answers 0 when verified and unpacked, 2 for
    // invalid arguments, 4 when the data does not match the list, 5 when it
    // cannot be unpacked.
    virtual int OnFileData(CDownloadFile* record, const std::vector<unsigned char>* digestList, const void* data,
                           uint32_t sizeLow, int32_t sizeHigh) = 0;

protected:
    ~IDownloadFileEventListener() = default;
};
