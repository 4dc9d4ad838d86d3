#pragma once
// The engine protocol's message layouts, in one place for both of its ends:
// the client layer (nwCCDNLocalClientLayer) and the engine program. Frames
// are those of nwCStreamDispatcher: type 256 for every message, 258 for the
// single-message job; the subtype is the message code below. Integers are
// little-endian; char[n] is NUL-terminated text padded with NUL bytes; a
// text is NUL-terminated and of variable length.
//
// Contract:
// - Encode* answer a payload (no frame header, no padding) built from the
//   record; texts given as pointers must be NUL-terminated, fixed fields are
//   copied byte for byte.
// - Decode* answer false for a malformed payload: a field running past the
//   payload, a text without its NUL inside it, a char[n] text field without
//   a NUL, a record or file count that cannot fit. They never read past the
//   payload and ignore the bytes after the last field. Text pointers in a
//   decoded record point into the payload and live as long as it does.

#include <cstdint>
#include <string>
#include <vector>

constexpr uint16_t kLocalFrameType = 256;
constexpr uint16_t kLocalJobFrameType = 258;
constexpr uint16_t kLocalEnginePort = 38006;
// What the engine keeps beside a file it has not finished: the data and its
// control file, named after the file. Its clients remove them once the file
// is complete by other means.
constexpr const char* kLocalPartSuffix = ".zdrpart";
constexpr const char* kLocalControlSuffix = ".zdrctl";

enum nwLocalCode : uint16_t {
    kLocalJobOptions = 0,
    kLocalJobTag = 1,
    kLocalStopJob = 3,
    kLocalJobAccepted = 4,
    kLocalJobProgress = 5,
    kLocalJobFinished = 6,
    kLocalFileDone = 7,
    kLocalJobError = 8,
    kLocalNetworkLost = 9,
    kLocalNetworkRestored = 10,
    kLocalJobRejected = 11,
    kLocalServiceId = 12,
    kLocalMessage13 = 13,
    kLocalJob = 14,
    kLocalFileDoneEx = 15,
    kLocalAskResume = 16,
    kLocalEngineFlag = 17,
    kLocalResumeAnswer = 18,
    kLocalJobHeader = 19,
    kLocalJobFile = 20,
    kLocalJobEnd = 21,
    kLocalStatus = 22,
};

constexpr uint32_t kLocalIdField = 33;
constexpr uint32_t kLocalPathField = 260;
constexpr uint32_t kLocalTagField = 20;
constexpr uint32_t kLocalMessage13Size = 9;
constexpr uint32_t kLocalJobHeaderSize = 41;
// Per file of the single-message job: the fixed fields and the URL's NUL.
constexpr uint32_t kLocalJobFileOverhead = 531;
// The single-message job is used only while its payload stays below this.
constexpr uint32_t kLocalSingleJobLimit = 130048;
// The most files a job may have: the engine refuses a larger one (it would
// hold them all), and the client keeps such a job on the plain path.
constexpr int32_t kLocalMaxJobFiles = 16384;
constexpr uint32_t kLocalProgressHeaderSize = 64;
constexpr uint32_t kLocalFileRecordSize = 65;
constexpr uint8_t kLocalOptionsPlain = 1;
constexpr uint8_t kLocalOptionsHighSpeed = 2;
constexpr uint8_t kLocalErrorDiskSpace = 1;
// A file failed for a reason its text gives; the job ends as given up.
constexpr uint8_t kLocalErrorTransfer = 2;

// ---- client to engine ----

struct vqLOCALJOBHEADER {
    int32_t jobNumber;
    int32_t fileCount;
    char serviceId[kLocalIdField];
};

// One file of a job as the client sends it; url is NUL-terminated.
struct vqLOCALJOBFILE {
    uint8_t flagA;
    uint8_t flagB;
    int64_t size;
    char folder[kLocalPathField];
    char fileName[kLocalPathField];
    const char* url;
};

// One file of a job as the engine reads it.
struct nwLocalJobFile {
    uint8_t flagA = 0;
    uint8_t flagB = 0;
    int64_t size = 0;
    std::string folder;
    std::string fileName;
    std::string url;
};

struct nwLocalJob {
    int32_t jobNumber = 0;
    int32_t fileCount = 0;
    std::string serviceId;
    std::vector<nwLocalJobFile> files;
};

struct vqLOCALRESUMEANSWER {
    int32_t taskNumber;
    int32_t jobNumber;
    uint8_t resume;
    uint8_t applyToAll;
};

// ---- engine to client (the records the listener receives) ----

struct vqLOCALJOBACCEPTED {
    int32_t jobNumber;
    int32_t taskNumber;
    int32_t fileCount;
    int64_t totalBytes;
};

struct vqLOCALJOBREJECTED {
    int32_t jobNumber;
    int32_t reserved;
    const char* reason;
    unsigned char trailer[16];
};

struct vqLOCALFILERECORD {
    char id[kLocalIdField];
    int64_t fileSize;
    int64_t bytesPresent;
    int32_t rate;
    unsigned char reserved[12];
    const char* text;
};

struct vqLOCALPROGRESS {
    int32_t jobNumber;
    int32_t taskNumber;
    unsigned char reserved1[4];
    int32_t fileCount;
    int32_t filesCompleted;
    int64_t totalBytes;
    int64_t bytesPresent;
    int32_t rate;
    unsigned char reserved2[4];
    int64_t elapsedSeconds;
    unsigned char reserved3[8];
    int32_t recordCount;
    // recordCount entries, or null when there are none.
    const vqLOCALFILERECORD* records;
};

struct vqLOCALFILEDONE {
    int32_t jobNumber;
    int32_t taskNumber;
    char id[kLocalIdField];
    char localPath[kLocalPathField];
    const char* source;
};

struct vqLOCALFILEDONEEX {
    int32_t jobNumber;
    int32_t taskNumber;
    char id[kLocalIdField];
    char localPath[kLocalPathField];
    char secondText[kLocalPathField];
    const char* source;
};

struct vqLOCALJOBFINISHED {
    int32_t jobNumber;
    int32_t taskNumber;
    int32_t reserved;
    int32_t valueA;
    int32_t valueB; // non-zero: the engine gave the job up
};

struct vqLOCALJOBERROR {
    int32_t jobNumber;
    int32_t taskNumber;
    uint8_t kind;
    const char* text;
    unsigned char trailer[16];
};

struct vqLOCALNETWORKNOTICE {
    unsigned char bytes[16];
};

class nwCDNLocalCodec {
public:
    typedef std::vector<unsigned char> Bytes;

    // A whole frame: header, payload, zero padding to a multiple of 8.
    static Bytes Frame(uint16_t type, uint16_t code, const Bytes& payload);

    // Client to engine.
    static Bytes EncodeJobOptions(uint8_t mode);
    static Bytes EncodeJobTag(const char tag[kLocalTagField]);
    // False when a URL is missing.
    static bool EncodeJob(const vqLOCALJOBHEADER& header, const vqLOCALJOBFILE* files, Bytes* out);
    static Bytes EncodeJobHeader(const vqLOCALJOBHEADER& header);
    // False when the URL is missing or longer than its 16-bit length field.
    static bool EncodeJobFile(int32_t jobNumber, int32_t fileIndex, const vqLOCALJOBFILE& file, Bytes* out);
    static Bytes EncodeJobEnd(int32_t jobNumber);
    static Bytes EncodeStopJob(int32_t jobNumber, int32_t taskNumber);
    // At most 259 characters are kept; null sends an empty identifier.
    static Bytes EncodeServiceId(const char* serviceId);
    static Bytes EncodeMessage13(const unsigned char bytes[kLocalMessage13Size]);
    static Bytes EncodeEngineFlag(int32_t jobNumber);
    static Bytes EncodeResumeAnswer(const vqLOCALRESUMEANSWER& answer);
    static Bytes EncodeMessage22() { return {}; }

    static bool DecodeJobOptions(const unsigned char* payload, uint32_t length, uint8_t* mode);
    static bool DecodeJobTag(const unsigned char* payload, uint32_t length, std::string* tag);
    static bool DecodeJob(const unsigned char* payload, uint32_t length, nwLocalJob* job);
    static bool DecodeJobHeader(const unsigned char* payload, uint32_t length, nwLocalJob* job);
    static bool DecodeJobFile(const unsigned char* payload, uint32_t length, int32_t* jobNumber, int32_t* fileIndex,
                              nwLocalJobFile* file);
    // Job end and engine flag: one i32 job number.
    static bool DecodeJobNumber(const unsigned char* payload, uint32_t length, int32_t* jobNumber);
    static bool DecodeStopJob(const unsigned char* payload, uint32_t length, int32_t* jobNumber, int32_t* taskNumber);
    static bool DecodeServiceId(const unsigned char* payload, uint32_t length, std::string* serviceId);
    static bool DecodeResumeAnswer(const unsigned char* payload, uint32_t length, vqLOCALRESUMEANSWER* answer);

    // Engine to client.
    static Bytes EncodeJobAccepted(const vqLOCALJOBACCEPTED& record);
    static Bytes EncodeJobRejected(const vqLOCALJOBREJECTED& record);
    static Bytes EncodeProgress(const vqLOCALPROGRESS& record);
    static Bytes EncodeFileDone(const vqLOCALFILEDONE& record);
    static Bytes EncodeFileDoneEx(const vqLOCALFILEDONEEX& record);
    static Bytes EncodeJobFinished(const vqLOCALJOBFINISHED& record);
    static Bytes EncodeJobError(const vqLOCALJOBERROR& record);
    static Bytes EncodeNetworkNotice(const vqLOCALNETWORKNOTICE& record);
    static Bytes EncodeAskResume(int32_t jobNumber);
    static Bytes EncodeStatus(int32_t value);

    static bool DecodeJobAccepted(const unsigned char* payload, uint32_t length, vqLOCALJOBACCEPTED* record);
    static bool DecodeJobRejected(const unsigned char* payload, uint32_t length, vqLOCALJOBREJECTED* record);
    // The file records go to *records; record->records points at them (null
    // for none) and stays valid while both *records and the payload live.
    static bool DecodeProgress(const unsigned char* payload, uint32_t length, vqLOCALPROGRESS* record,
                               std::vector<vqLOCALFILERECORD>* records);
    static bool DecodeFileDone(const unsigned char* payload, uint32_t length, vqLOCALFILEDONE* record);
    static bool DecodeFileDoneEx(const unsigned char* payload, uint32_t length, vqLOCALFILEDONEEX* record);
    static bool DecodeJobFinished(const unsigned char* payload, uint32_t length, vqLOCALJOBFINISHED* record);
    static bool DecodeJobError(const unsigned char* payload, uint32_t length, vqLOCALJOBERROR* record);
    static bool DecodeNetworkNotice(const unsigned char* payload, uint32_t length, vqLOCALNETWORKNOTICE* record);
    static bool DecodeAskResume(const unsigned char* payload, uint32_t length, int32_t* jobNumber);
    static bool DecodeStatus(const unsigned char* payload, uint32_t length, int32_t* value);
};
