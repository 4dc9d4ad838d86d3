#pragma once
// A small blocking client of the engine protocol, for tests and benchmarks:
// sends jobs and answers as the service would, and reads the engine's
// messages one by one. Uses the protocol's codec, so it speaks exactly the
// layouts the engine reads.

#include "netlib/layers/nwCDNLocalCodec.h"
#include "netlib/runtime/nwCStreamDispatcher.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

class EngineClient {
public:
    typedef nwCDNLocalCodec::Bytes Bytes;
    struct File {
        std::string folder;
        std::string name;
        std::string url; // alternatives joined by '|'
        int64_t size = 0;
    };
    struct Message {
        uint16_t type = 0;
        uint16_t code = 0;
        Bytes payload;
    };

    ~EngineClient() { Close(); }

    bool Connect(uint16_t port, int timeoutMs = 5000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        do {
            Close();
            m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address.sin_port = htons(port);
            if (connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return true;
            // An engine just started listens within some 20 ms: a fine step
            // keeps the benchmark from timing this wait instead of the engine.
            usleep(2000);
        } while (std::chrono::steady_clock::now() < deadline);
        Close();
        return false;
    }
    void Close()
    {
        if (m_fd >= 0) close(m_fd);
        m_fd = -1;
        m_in.clear();
    }
    bool SendFrame(uint16_t type, uint16_t code, const Bytes& payload)
    {
        const Bytes frame = nwCDNLocalCodec::Frame(type, code, payload);
        return SendRaw(frame);
    }
    bool SendRaw(const Bytes& bytes)
    {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }
    // The job as the engine downloader sends it: options, then one message
    // or header, files and end when it is too large for one.
    bool SendJob(int32_t jobNumber, uint8_t mode, const std::vector<File>& files, bool inPieces = false)
    {
        if (!SendFrame(kLocalFrameType, kLocalJobOptions, nwCDNLocalCodec::EncodeJobOptions(mode))) return false;
        vqLOCALJOBHEADER header{jobNumber, static_cast<int32_t>(files.size()), {}};
        std::vector<vqLOCALJOBFILE> records(files.size());
        uint64_t length = kLocalJobHeaderSize;
        for (size_t i = 0; i < files.size(); ++i) {
            vqLOCALJOBFILE& record = records[i];
            memset(&record, 0, sizeof record);
            record.size = files[i].size;
            strncpy(record.folder, files[i].folder.c_str(), sizeof record.folder - 1);
            strncpy(record.fileName, files[i].name.c_str(), sizeof record.fileName - 1);
            record.url = files[i].url.c_str();
            length += kLocalJobFileOverhead + files[i].url.size();
        }
        if (!inPieces && length < kLocalSingleJobLimit) {
            Bytes payload;
            if (!nwCDNLocalCodec::EncodeJob(header, records.data(), &payload)) return false;
            return SendFrame(kLocalJobFrameType, kLocalJob, payload);
        }
        if (!SendFrame(kLocalFrameType, kLocalJobHeader, nwCDNLocalCodec::EncodeJobHeader(header))) return false;
        for (size_t i = 0; i < records.size(); ++i) {
            Bytes payload;
            if (!nwCDNLocalCodec::EncodeJobFile(jobNumber, static_cast<int32_t>(i), records[i], &payload)) return false;
            if (!SendFrame(kLocalFrameType, kLocalJobFile, payload)) return false;
        }
        return SendFrame(kLocalFrameType, kLocalJobEnd, nwCDNLocalCodec::EncodeJobEnd(jobNumber));
    }
    bool SendResumeAnswer(int32_t task, int32_t job, bool resume, bool applyToAll)
    {
        return SendFrame(kLocalFrameType, kLocalResumeAnswer,
                         nwCDNLocalCodec::EncodeResumeAnswer(
                             vqLOCALRESUMEANSWER{task, job, uint8_t(resume ? 1 : 0), uint8_t(applyToAll ? 1 : 0)}));
    }
    bool SendStop(int32_t job, int32_t task)
    {
        return SendFrame(kLocalFrameType, kLocalStopJob, nwCDNLocalCodec::EncodeStopJob(job, task));
    }
    // The next whole message; false when the engine closed the connection
    // or nothing came within timeoutMs.
    bool Next(Message* message, int timeoutMs)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (m_in.size() >= nwCStreamDispatcher::kHeaderSize) {
                const uint32_t length = uint32_t(m_in[10]) | uint32_t(m_in[11]) << 8 | uint32_t(m_in[12]) << 16 |
                                        uint32_t(m_in[13]) << 24;
                if (m_in.size() >= nwCStreamDispatcher::kHeaderSize + length) {
                    message->type = static_cast<uint16_t>(m_in[0] | m_in[1] << 8);
                    message->code = static_cast<uint16_t>(m_in[2] | m_in[3] << 8);
                    message->payload.assign(m_in.begin() + nwCStreamDispatcher::kHeaderSize,
                                            m_in.begin() + nwCStreamDispatcher::kHeaderSize + length);
                    m_in.erase(m_in.begin(), m_in.begin() + nwCStreamDispatcher::kHeaderSize + length);
                    return true;
                }
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (m_fd < 0 || left.count() <= 0) return false;
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) != 1) return false;
            unsigned char buffer[65536];
            const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
            if (n <= 0) return false;
            m_in.insert(m_in.end(), buffer, buffer + n);
        }
    }
    int Fd() const { return m_fd; }

private:
    int m_fd = -1;
    Bytes m_in;
};
