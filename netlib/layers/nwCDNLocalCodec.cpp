#include "netlib/layers/nwCDNLocalCodec.h"

#include "netlib/runtime/nwCStreamDispatcher.h"

#include <cstring>

namespace {

typedef nwCDNLocalCodec::Bytes Bytes;

class Writer {
public:
    explicit Writer(Bytes* out) : m_out(out) {}
    void U8(uint8_t value) { m_out->push_back(value); }
    void U16(uint16_t value) { Little(value, 2); }
    void I32(int32_t value) { Little(static_cast<uint32_t>(value), 4); }
    void I64(int64_t value) { Little(static_cast<uint64_t>(value), 8); }
    void Raw(const void* bytes, size_t length)
    {
        const auto* p = static_cast<const unsigned char*>(bytes);
        m_out->insert(m_out->end(), p, p + length);
    }
    void Zeros(size_t length) { m_out->insert(m_out->end(), length, 0); }
    // A text with its NUL.
    void Text(const char* text)
    {
        if (text) Raw(text, strlen(text));
        U8(0);
    }

private:
    void Little(uint64_t value, int width)
    {
        for (int i = 0; i < width; ++i) m_out->push_back(static_cast<unsigned char>(value >> (8 * i)));
    }
    Bytes* m_out;
};

// Reads fields in order; the first that does not fit makes every later read
// fail too, so a decoder checks Ok() once at the end.
class Reader {
public:
    Reader(const unsigned char* bytes, uint32_t length) : m_bytes(bytes), m_length(bytes ? length : 0) {}
    bool Ok() const { return m_ok; }
    uint32_t Left() const { return m_ok ? m_length - m_pos : 0; }
    uint8_t U8()
    {
        uint8_t value = 0;
        if (Need(1)) value = m_bytes[m_pos++];
        return value;
    }
    uint16_t U16() { return static_cast<uint16_t>(Little(2)); }
    int32_t I32() { return static_cast<int32_t>(static_cast<uint32_t>(Little(4))); }
    int64_t I64() { return static_cast<int64_t>(Little(8)); }
    void Raw(void* out, uint32_t length)
    {
        if (Need(length)) {
            memcpy(out, m_bytes + m_pos, length);
            m_pos += length;
        } else {
            memset(out, 0, length);
        }
    }
    // A char[n] field that must hold its NUL.
    void Field(char* out, uint32_t length)
    {
        Raw(out, length);
        if (m_ok && !memchr(out, 0, length)) m_ok = false;
    }
    std::string FieldString(uint32_t length)
    {
        std::string value(length, '\0');
        Field(value.data(), length);
        value.resize(strnlen(value.data(), length));
        return value;
    }
    // A text ending at its NUL inside the payload.
    const char* Text()
    {
        if (!m_ok) return nullptr;
        const void* end = memchr(m_bytes + m_pos, 0, m_length - m_pos);
        if (!end) {
            m_ok = false;
            return nullptr;
        }
        const char* text = reinterpret_cast<const char*>(m_bytes + m_pos);
        m_pos = static_cast<uint32_t>(static_cast<const unsigned char*>(end) - m_bytes) + 1;
        return text;
    }
    std::string Bytes(uint32_t length)
    {
        std::string value;
        if (Need(length)) {
            value.assign(reinterpret_cast<const char*>(m_bytes + m_pos), length);
            m_pos += length;
        }
        return value;
    }

private:
    bool Need(uint32_t length)
    {
        if (m_ok && m_length - m_pos < length) m_ok = false;
        return m_ok;
    }
    uint64_t Little(int width)
    {
        uint64_t value = 0;
        if (Need(static_cast<uint32_t>(width))) {
            for (int i = 0; i < width; ++i) value |= uint64_t(m_bytes[m_pos + i]) << (8 * i);
            m_pos += static_cast<uint32_t>(width);
        }
        return value;
    }

    const unsigned char* m_bytes;
    uint32_t m_length;
    uint32_t m_pos = 0;
    bool m_ok = true;
};

void WriteJobHeader(Writer& w, const vqLOCALJOBHEADER& header)
{
    w.I32(header.jobNumber);
    w.I32(header.fileCount);
    w.Raw(header.serviceId, kLocalIdField);
}

void WriteFileFixed(Writer& w, const vqLOCALJOBFILE& file)
{
    w.U8(file.flagA);
    w.U8(file.flagB);
    w.I64(file.size);
    w.Raw(file.folder, kLocalPathField);
    w.Raw(file.fileName, kLocalPathField);
}

void ReadFileFixed(Reader& r, nwLocalJobFile* file)
{
    file->flagA = r.U8();
    file->flagB = r.U8();
    file->size = r.I64();
    file->folder = r.FieldString(kLocalPathField);
    file->fileName = r.FieldString(kLocalPathField);
}

bool ReadJobHeader(Reader& r, nwLocalJob* job)
{
    job->jobNumber = r.I32();
    job->fileCount = r.I32();
    std::string id = r.Bytes(kLocalIdField);
    job->serviceId = std::string(id.c_str());
    job->files.clear();
    return r.Ok() && job->fileCount >= 0;
}

} // namespace

Bytes nwCDNLocalCodec::Frame(uint16_t type, uint16_t code, const Bytes& payload)
{
    const size_t header = nwCStreamDispatcher::kHeaderSize;
    const size_t total = (payload.size() + header + 7) / 8 * 8;
    Bytes frame;
    frame.reserve(total);
    Writer w(&frame);
    w.U16(type);
    w.U16(code);
    w.Zeros(6);
    w.I32(static_cast<int32_t>(total - header));
    w.Raw(payload.data(), payload.size());
    w.Zeros(total - frame.size());
    return frame;
}

Bytes nwCDNLocalCodec::EncodeJobOptions(uint8_t mode)
{
    Bytes out;
    Writer w(&out);
    w.U8(mode);
    w.Zeros(16);
    return out;
}

Bytes nwCDNLocalCodec::EncodeJobTag(const char tag[kLocalTagField])
{
    Bytes out;
    Writer(&out).Raw(tag, kLocalTagField);
    return out;
}

bool nwCDNLocalCodec::EncodeJob(const vqLOCALJOBHEADER& header, const vqLOCALJOBFILE* files, Bytes* out)
{
    out->clear();
    if (header.fileCount < 0 || (header.fileCount > 0 && !files)) return false;
    Writer w(out);
    WriteJobHeader(w, header);
    for (int32_t i = 0; i < header.fileCount; ++i) {
        if (!files[i].url) return false;
        WriteFileFixed(w, files[i]);
        w.Text(files[i].url);
    }
    return true;
}

Bytes nwCDNLocalCodec::EncodeJobHeader(const vqLOCALJOBHEADER& header)
{
    Bytes out;
    Writer w(&out);
    WriteJobHeader(w, header);
    return out;
}

bool nwCDNLocalCodec::EncodeJobFile(int32_t jobNumber, int32_t fileIndex, const vqLOCALJOBFILE& file, Bytes* out)
{
    out->clear();
    if (!file.url) return false;
    const size_t urlLength = strlen(file.url);
    if (urlLength > 0xFFFF) return false;
    Writer w(out);
    w.I32(jobNumber);
    w.I32(fileIndex);
    WriteFileFixed(w, file);
    w.U16(static_cast<uint16_t>(urlLength));
    w.Raw(file.url, urlLength);
    return true;
}

Bytes nwCDNLocalCodec::EncodeJobEnd(int32_t jobNumber)
{
    return EncodeEngineFlag(jobNumber);
}

Bytes nwCDNLocalCodec::EncodeStopJob(int32_t jobNumber, int32_t taskNumber)
{
    Bytes out;
    Writer w(&out);
    w.I32(jobNumber);
    w.I32(taskNumber);
    return out;
}

Bytes nwCDNLocalCodec::EncodeServiceId(const char* serviceId)
{
    Bytes out(kLocalPathField, 0);
    if (serviceId) memcpy(out.data(), serviceId, strnlen(serviceId, kLocalPathField - 1));
    return out;
}

Bytes nwCDNLocalCodec::EncodeMessage13(const unsigned char bytes[kLocalMessage13Size])
{
    return Bytes(bytes, bytes + kLocalMessage13Size);
}

Bytes nwCDNLocalCodec::EncodeEngineFlag(int32_t jobNumber)
{
    Bytes out;
    Writer(&out).I32(jobNumber);
    return out;
}

Bytes nwCDNLocalCodec::EncodeResumeAnswer(const vqLOCALRESUMEANSWER& answer)
{
    Bytes out;
    Writer w(&out);
    w.I32(answer.taskNumber);
    w.I32(answer.jobNumber);
    w.U8(answer.resume);
    w.U8(answer.applyToAll);
    return out;
}

bool nwCDNLocalCodec::DecodeJobOptions(const unsigned char* payload, uint32_t length, uint8_t* mode)
{
    Reader r(payload, length);
    *mode = r.U8();
    return r.Ok();
}

bool nwCDNLocalCodec::DecodeJobTag(const unsigned char* payload, uint32_t length, std::string* tag)
{
    Reader r(payload, length);
    std::string raw = r.Bytes(kLocalTagField);
    *tag = std::string(raw.c_str());
    return r.Ok();
}

bool nwCDNLocalCodec::DecodeJob(const unsigned char* payload, uint32_t length, nwLocalJob* job)
{
    Reader r(payload, length);
    if (!ReadJobHeader(r, job)) return false;
    // Each file takes at least its fixed fields and a NUL: refuse a count
    // that cannot fit before reserving room for it.
    if (static_cast<uint32_t>(job->fileCount) > r.Left() / kLocalJobFileOverhead) return false;
    job->files.resize(static_cast<size_t>(job->fileCount));
    for (nwLocalJobFile& file : job->files) {
        ReadFileFixed(r, &file);
        const char* url = r.Text();
        if (!r.Ok()) return false;
        file.url = url;
    }
    return true;
}

bool nwCDNLocalCodec::DecodeJobHeader(const unsigned char* payload, uint32_t length, nwLocalJob* job)
{
    Reader r(payload, length);
    return ReadJobHeader(r, job);
}

bool nwCDNLocalCodec::DecodeJobFile(const unsigned char* payload, uint32_t length, int32_t* jobNumber,
                                    int32_t* fileIndex, nwLocalJobFile* file)
{
    Reader r(payload, length);
    *jobNumber = r.I32();
    *fileIndex = r.I32();
    ReadFileFixed(r, file);
    const uint16_t urlLength = r.U16();
    file->url = r.Bytes(urlLength);
    return r.Ok();
}

bool nwCDNLocalCodec::DecodeJobNumber(const unsigned char* payload, uint32_t length, int32_t* jobNumber)
{
    Reader r(payload, length);
    *jobNumber = r.I32();
    return r.Ok();
}

bool nwCDNLocalCodec::DecodeStopJob(const unsigned char* payload, uint32_t length, int32_t* jobNumber,
                                    int32_t* taskNumber)
{
    Reader r(payload, length);
    *jobNumber = r.I32();
    *taskNumber = r.I32();
    return r.Ok();
}

bool nwCDNLocalCodec::DecodeServiceId(const unsigned char* payload, uint32_t length, std::string* serviceId)
{
    Reader r(payload, length);
    std::string raw = r.Bytes(kLocalPathField);
    *serviceId = std::string(raw.c_str());
    return r.Ok();
}

bool nwCDNLocalCodec::DecodeResumeAnswer(const unsigned char* payload, uint32_t length, vqLOCALRESUMEANSWER* answer)
{
    Reader r(payload, length);
    answer->taskNumber = r.I32();
    answer->jobNumber = r.I32();
    answer->resume = r.U8();
    answer->applyToAll = r.U8();
    return r.Ok();
}

Bytes nwCDNLocalCodec::EncodeJobAccepted(const vqLOCALJOBACCEPTED& record)
{
    Bytes out;
    Writer w(&out);
    w.I32(record.jobNumber);
    w.I32(record.taskNumber);
    w.I32(record.fileCount);
    w.I64(record.totalBytes);
    return out;
}

Bytes nwCDNLocalCodec::EncodeJobRejected(const vqLOCALJOBREJECTED& record)
{
    Bytes out;
    Writer w(&out);
    w.I32(record.jobNumber);
    w.I32(record.reserved);
    w.Text(record.reason);
    w.Raw(record.trailer, sizeof record.trailer);
    return out;
}

Bytes nwCDNLocalCodec::EncodeProgress(const vqLOCALPROGRESS& record)
{
    Bytes out;
    Writer w(&out);
    w.I32(record.jobNumber);
    w.I32(record.taskNumber);
    w.Raw(record.reserved1, 4);
    w.I32(record.fileCount);
    w.I32(record.filesCompleted);
    w.I64(record.totalBytes);
    w.I64(record.bytesPresent);
    w.I32(record.rate);
    w.Raw(record.reserved2, 4);
    w.I64(record.elapsedSeconds);
    w.Raw(record.reserved3, 8);
    const int32_t count = record.records ? record.recordCount : 0;
    w.I32(count);
    for (int32_t i = 0; i < count; ++i) {
        const vqLOCALFILERECORD& file = record.records[i];
        w.Raw(file.id, kLocalIdField);
        w.I64(file.fileSize);
        w.I64(file.bytesPresent);
        w.I32(file.rate);
        w.Raw(file.reserved, 12);
        w.Text(file.text);
    }
    return out;
}

Bytes nwCDNLocalCodec::EncodeFileDone(const vqLOCALFILEDONE& record)
{
    Bytes out;
    Writer w(&out);
    w.I32(record.jobNumber);
    w.I32(record.taskNumber);
    w.Raw(record.id, kLocalIdField);
    w.Raw(record.localPath, kLocalPathField);
    w.Text(record.source);
    return out;
}

Bytes nwCDNLocalCodec::EncodeFileDoneEx(const vqLOCALFILEDONEEX& record)
{
    Bytes out;
    Writer w(&out);
    w.I32(record.jobNumber);
    w.I32(record.taskNumber);
    w.Raw(record.id, kLocalIdField);
    w.Raw(record.localPath, kLocalPathField);
    w.Raw(record.secondText, kLocalPathField);
    w.Text(record.source);
    return out;
}

Bytes nwCDNLocalCodec::EncodeJobFinished(const vqLOCALJOBFINISHED& record)
{
    Bytes out;
    Writer w(&out);
    w.I32(record.jobNumber);
    w.I32(record.taskNumber);
    w.I32(record.reserved);
    w.I32(record.valueA);
    w.I32(record.valueB);
    return out;
}

Bytes nwCDNLocalCodec::EncodeJobError(const vqLOCALJOBERROR& record)
{
    Bytes out;
    Writer w(&out);
    w.I32(record.jobNumber);
    w.I32(record.taskNumber);
    w.U8(record.kind);
    w.Text(record.text);
    w.Raw(record.trailer, sizeof record.trailer);
    return out;
}

Bytes nwCDNLocalCodec::EncodeNetworkNotice(const vqLOCALNETWORKNOTICE& record)
{
    return Bytes(record.bytes, record.bytes + sizeof record.bytes);
}

Bytes nwCDNLocalCodec::EncodeAskResume(int32_t jobNumber)
{
    return EncodeEngineFlag(jobNumber);
}

Bytes nwCDNLocalCodec::EncodeStatus(int32_t value)
{
    return EncodeEngineFlag(value);
}

bool nwCDNLocalCodec::DecodeJobAccepted(const unsigned char* payload, uint32_t length, vqLOCALJOBACCEPTED* record)
{
    Reader r(payload, length);
    record->jobNumber = r.I32();
    record->taskNumber = r.I32();
    record->fileCount = r.I32();
    record->totalBytes = r.I64();
    return r.Ok();
}

bool nwCDNLocalCodec::DecodeJobRejected(const unsigned char* payload, uint32_t length, vqLOCALJOBREJECTED* record)
{
    Reader r(payload, length);
    record->jobNumber = r.I32();
    record->reserved = r.I32();
    record->reason = r.Text();
    r.Raw(record->trailer, sizeof record->trailer);
    return r.Ok();
}

bool nwCDNLocalCodec::DecodeProgress(const unsigned char* payload, uint32_t length, vqLOCALPROGRESS* record,
                                     std::vector<vqLOCALFILERECORD>* records)
{
    Reader r(payload, length);
    record->jobNumber = r.I32();
    record->taskNumber = r.I32();
    r.Raw(record->reserved1, 4);
    record->fileCount = r.I32();
    record->filesCompleted = r.I32();
    record->totalBytes = r.I64();
    record->bytesPresent = r.I64();
    record->rate = r.I32();
    r.Raw(record->reserved2, 4);
    record->elapsedSeconds = r.I64();
    r.Raw(record->reserved3, 8);
    record->recordCount = r.I32();
    record->records = nullptr;
    records->clear();
    if (!r.Ok() || record->recordCount < 0) return false;
    // Each record takes its 65 bytes and at least a NUL.
    if (static_cast<uint32_t>(record->recordCount) > r.Left() / (kLocalFileRecordSize + 1)) return false;
    records->resize(static_cast<size_t>(record->recordCount));
    for (vqLOCALFILERECORD& file : *records) {
        r.Field(file.id, kLocalIdField);
        file.fileSize = r.I64();
        file.bytesPresent = r.I64();
        file.rate = r.I32();
        r.Raw(file.reserved, 12);
        file.text = r.Text();
    }
    if (!r.Ok()) return false;
    if (!records->empty()) record->records = records->data();
    return true;
}

bool nwCDNLocalCodec::DecodeFileDone(const unsigned char* payload, uint32_t length, vqLOCALFILEDONE* record)
{
    Reader r(payload, length);
    record->jobNumber = r.I32();
    record->taskNumber = r.I32();
    r.Field(record->id, kLocalIdField);
    r.Field(record->localPath, kLocalPathField);
    record->source = r.Text();
    return r.Ok();
}

bool nwCDNLocalCodec::DecodeFileDoneEx(const unsigned char* payload, uint32_t length, vqLOCALFILEDONEEX* record)
{
    Reader r(payload, length);
    record->jobNumber = r.I32();
    record->taskNumber = r.I32();
    r.Field(record->id, kLocalIdField);
    r.Field(record->localPath, kLocalPathField);
    r.Field(record->secondText, kLocalPathField);
    record->source = r.Text();
    return r.Ok();
}

bool nwCDNLocalCodec::DecodeJobFinished(const unsigned char* payload, uint32_t length, vqLOCALJOBFINISHED* record)
{
    Reader r(payload, length);
    record->jobNumber = r.I32();
    record->taskNumber = r.I32();
    record->reserved = r.I32();
    record->valueA = r.I32();
    record->valueB = r.I32();
    return r.Ok();
}

bool nwCDNLocalCodec::DecodeJobError(const unsigned char* payload, uint32_t length, vqLOCALJOBERROR* record)
{
    Reader r(payload, length);
    record->jobNumber = r.I32();
    record->taskNumber = r.I32();
    record->kind = r.U8();
    record->text = r.Text();
    r.Raw(record->trailer, sizeof record->trailer);
    return r.Ok();
}

bool nwCDNLocalCodec::DecodeNetworkNotice(const unsigned char* payload, uint32_t length, vqLOCALNETWORKNOTICE* record)
{
    Reader r(payload, length);
    r.Raw(record->bytes, sizeof record->bytes);
    return r.Ok();
}

bool nwCDNLocalCodec::DecodeAskResume(const unsigned char* payload, uint32_t length, int32_t* jobNumber)
{
    return DecodeJobNumber(payload, length, jobNumber);
}

bool nwCDNLocalCodec::DecodeStatus(const unsigned char* payload, uint32_t length, int32_t* value)
{
    return DecodeJobNumber(payload, length, value);
}
