#pragma once
// One file of the engine update as a transfer sees it: which address to fetch
// next, what an address is, and where the received bytes go.
//
// Contract: called on the service thread by the transfer that serves the
// record (the update's HTTP session). The record is owned by its list
// (CDownloadFileList); the transfer holds it only while the list has it
// claimed. Receive hands the bytes to the list (IDownloadFileEventListener),
// which verifies and unpacks them before Receive returns; the data stays the
// caller's. No call destroys the record.

#include <cstdint>
#include <string>

class IProgressFile {
public:
    // What a transfer of this record brings (also the answers of Classify).
    enum TransferKind {
        kTransferNotMine = 0,
        kTransferDigestList = 1,
        kTransferDescription = 2,
        kTransferFileData = 3,
    };
    // Receive answers besides the listener's own results.
    enum ReceiveResult {
        kReceiveDigestListHeld = 0,
        kReceiveNotMine = 1,
        kReceiveBadArguments = 2,
    };

    // The digest list's address while it is still to be fetched, else the
    // data's address. Answers 1.
    virtual int GetTransferUrl(std::string& url) = 0;
    // 0 right after the digest list arrived (the data comes next), else 1.
    virtual int IsStageEnd() = 0;
    // Takes the body of one transfer: a digest list is kept (0); the update
    // description and file data go to the listener, whose answer is the
    // result. kind receives what the transfer was.
    virtual int Receive(const char* url, const void* data, uint32_t sizeLow, int32_t sizeHigh, int* kind) = 0;
    // What url is for this record (TransferKind).
    virtual int Classify(const char* url) = 0;
    virtual ~IProgressFile() = default;
};
