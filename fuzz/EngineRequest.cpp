// The engine program's request parsing: a client's stream, in pieces,
// through a frame dispatcher routed as the engine routes its clients
// (enginebin/CEngine.cpp: type 256 for the codes it serves, 258 for the
// single-message job) into the codec's client-to-engine decoders, with the
// engine's rules for assembling a job from header, files and end.
//
// The engine itself is not driven: accepting a job creates its folders,
// which fuzz input must not do to this machine. What is checked is what the
// engine relies on: a decoded request re-encodes to a payload that decodes
// to the same request (nothing read past the payload, no field half-read),
// job file counts stay within what the payload holds, and the stream fed
// whole and fed in pieces gives the same requests.
//
// Input: byte 0 seeds the piece lengths, the rest is the client's stream.

#include "FuzzCheck.h"
#include "FuzzChunks.h"
#include "netlib/layers/nwCDNLocalCodec.h"
#include "netlib/runtime/nwCStreamDispatcher.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

void CopyField(char* field, size_t capacity, const std::string& text)
{
    FUZZ_CHECK(text.size() < capacity);
    memset(field, 0, capacity);
    memcpy(field, text.data(), text.size());
}

std::string Describe(const nwLocalJobFile& file)
{
    return std::to_string(file.flagA) + "," + std::to_string(file.flagB) + "," + std::to_string(file.size) + "," +
           file.folder + "," + file.fileName + "," + file.url;
}

std::string Describe(const nwLocalJob& job)
{
    std::string text = std::to_string(job.jobNumber) + "/" + std::to_string(job.fileCount) + "/" + job.serviceId;
    for (const nwLocalJobFile& file : job.files) text += "|" + Describe(file);
    return text;
}

vqLOCALJOBFILE Encodable(const nwLocalJobFile& file)
{
    vqLOCALJOBFILE out{};
    out.flagA = file.flagA;
    out.flagB = file.flagB;
    out.size = file.size;
    CopyField(out.folder, sizeof out.folder, file.folder);
    CopyField(out.fileName, sizeof out.fileName, file.fileName);
    out.url = file.url.c_str();
    return out;
}

vqLOCALJOBHEADER EncodableHeader(const nwLocalJob& job)
{
    vqLOCALJOBHEADER header{};
    header.jobNumber = job.jobNumber;
    header.fileCount = job.fileCount;
    // The identifier is read up to its NUL or the field's end; a full-length
    // one does not round-trip through a NUL-terminated field, so compare its
    // first 32 bytes.
    CopyField(header.serviceId, sizeof header.serviceId, job.serviceId.substr(0, kLocalIdField - 1));
    return header;
}

nwLocalJob Trimmed(nwLocalJob job)
{
    job.serviceId = job.serviceId.substr(0, kLocalIdField - 1);
    return job;
}

class Engine {
public:
    Engine()
    {
        const uint16_t codes[] = {kLocalJobOptions, kLocalJobTag,     kLocalStopJob,      kLocalServiceId,
                                  kLocalMessage13,  kLocalEngineFlag, kLocalResumeAnswer, kLocalJobHeader,
                                  kLocalJobFile,    kLocalJobEnd,     kLocalStatus};
        m_routes.reserve(16);
        for (uint16_t code : codes) {
            m_routes.push_back({this, code});
            m_dispatcher.RegisterHandler(kLocalFrameType, code, &OnFrame, &m_routes.back());
        }
        m_routes.push_back({this, kLocalJob});
        m_dispatcher.RegisterHandler(kLocalJobFrameType, kLocalJob, &OnFrame, &m_routes.back());
    }

    void Deliver(const std::string& bytes)
    {
        if (closed) return;
        m_inbox += bytes;
        const int32_t consumed =
            m_dispatcher.Feed(reinterpret_cast<const unsigned char*>(m_inbox.data()), static_cast<uint32_t>(m_inbox.size()));
        if (consumed < 0 || m_dispatcher.Stopped()) {
            closed = true;
            requests.push_back("close");
            return;
        }
        m_inbox.erase(0, static_cast<size_t>(consumed));
    }

    std::vector<std::string> requests;
    bool closed = false;

private:
    struct Route {
        Engine* engine;
        uint16_t code;
    };

    static void OnFrame(const unsigned char* payload, uint32_t length, void* user)
    {
        auto* route = static_cast<Route*>(user);
        if (!route->engine->Handle(route->code, payload, length)) route->engine->m_dispatcher.Stop();
    }

    bool Handle(uint16_t code, const unsigned char* payload, uint32_t length)
    {
        switch (code) {
        case kLocalJobOptions: {
            uint8_t mode = 0;
            if (!nwCDNLocalCodec::DecodeJobOptions(payload, length, &mode)) return false;
            requests.push_back("options " + std::to_string(mode));
            return true;
        }
        case kLocalJob: {
            nwLocalJob job;
            if (!nwCDNLocalCodec::DecodeJob(payload, length, &job)) return false;
            FUZZ_CHECK(job.fileCount >= 0 && static_cast<size_t>(job.fileCount) == job.files.size());
            FUZZ_CHECK(job.files.size() * kLocalJobFileOverhead <= length);
            std::vector<vqLOCALJOBFILE> files;
            for (const nwLocalJobFile& file : job.files) files.push_back(Encodable(file));
            nwCDNLocalCodec::Bytes again;
            FUZZ_CHECK(nwCDNLocalCodec::EncodeJob(EncodableHeader(job), files.data(), &again));
            nwLocalJob decoded;
            FUZZ_CHECK(nwCDNLocalCodec::DecodeJob(again.data(), static_cast<uint32_t>(again.size()), &decoded));
            // A URL holding a NUL cannot exist here: the text ends at it.
            FUZZ_CHECK(Describe(decoded) == Describe(Trimmed(job)));
            requests.push_back("job " + Describe(job));
            return true;
        }
        case kLocalJobHeader: {
            auto job = std::make_unique<nwLocalJob>();
            if (!nwCDNLocalCodec::DecodeJobHeader(payload, length, job.get())) return false;
            FUZZ_CHECK(job->fileCount >= 0 && job->files.empty());
            m_assembling = std::move(job);
            requests.push_back("header " + Describe(*m_assembling));
            return true;
        }
        case kLocalJobFile: {
            int32_t number = 0, index = 0;
            nwLocalJobFile file;
            if (!nwCDNLocalCodec::DecodeJobFile(payload, length, &number, &index, &file)) return false;
            FUZZ_CHECK(file.url.size() <= 0xFFFF && file.folder.size() < kLocalPathField &&
                       file.fileName.size() < kLocalPathField);
            if (file.url.find('\0') == std::string::npos) {
                nwCDNLocalCodec::Bytes again;
                const vqLOCALJOBFILE encodable = Encodable(file);
                FUZZ_CHECK(nwCDNLocalCodec::EncodeJobFile(number, index, encodable, &again));
                int32_t number2 = 0, index2 = 0;
                nwLocalJobFile decoded;
                FUZZ_CHECK(nwCDNLocalCodec::DecodeJobFile(again.data(), static_cast<uint32_t>(again.size()), &number2,
                                                          &index2, &decoded));
                FUZZ_CHECK(number2 == number && index2 == index && Describe(decoded) == Describe(file));
            }
            nwLocalJob* job = m_assembling.get();
            if (!job || job->jobNumber != number || index != static_cast<int32_t>(job->files.size()) ||
                index >= job->fileCount) {
                m_assembling.reset();
                requests.push_back("reject out of order " + std::to_string(number));
                return true;
            }
            job->files.push_back(std::move(file));
            return true;
        }
        case kLocalJobEnd:
        case kLocalEngineFlag: {
            int32_t number = 0;
            if (!nwCDNLocalCodec::DecodeJobNumber(payload, length, &number)) return false;
            if (code == kLocalEngineFlag) return true;
            std::unique_ptr<nwLocalJob> job = std::move(m_assembling);
            if (!job || job->jobNumber != number || static_cast<int32_t>(job->files.size()) != job->fileCount)
                requests.push_back("reject incomplete " + std::to_string(number));
            else
                requests.push_back("job " + Describe(*job));
            return true;
        }
        case kLocalStopJob: {
            int32_t number = 0, task = 0;
            if (!nwCDNLocalCodec::DecodeStopJob(payload, length, &number, &task)) return false;
            requests.push_back("stop " + std::to_string(number) + " " + std::to_string(task));
            return true;
        }
        case kLocalServiceId: {
            std::string id;
            if (!nwCDNLocalCodec::DecodeServiceId(payload, length, &id)) return false;
            FUZZ_CHECK(id.size() < kLocalPathField + 1);
            requests.push_back("service " + id);
            return true;
        }
        case kLocalJobTag: {
            std::string tag;
            if (!nwCDNLocalCodec::DecodeJobTag(payload, length, &tag)) return false;
            FUZZ_CHECK(tag.size() <= kLocalTagField);
            return true;
        }
        case kLocalResumeAnswer: {
            vqLOCALRESUMEANSWER answer{};
            if (!nwCDNLocalCodec::DecodeResumeAnswer(payload, length, &answer)) return false;
            requests.push_back("resume " + std::to_string(answer.jobNumber) + " " + std::to_string(answer.resume));
            return true;
        }
        default:
            return true;
        }
    }

    nwCStreamDispatcher m_dispatcher;
    std::vector<Route> m_routes;
    std::unique_ptr<nwLocalJob> m_assembling;
    std::string m_inbox;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const fuzz::Chunked input = fuzz::CutIntoPieces(data, size);
    Engine whole;
    whole.Deliver(input.stream);
    Engine pieces;
    for (const std::string& piece : input.pieces) pieces.Deliver(piece);
    FUZZ_CHECK(whole.requests == pieces.requests);
    return 0;
}
