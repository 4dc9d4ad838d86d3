#pragma once
// Tells the agent server how much the plain downloader transferred: queues
// each report, connects through the agent layer when no connection is open,
// sends every queued report once connected, and closes after the server's
// reply when nothing is left to send.
//
// Contract: used on the service thread (or under the network lock) by the
// plain downloader, which owns it for its whole life. Reports that cannot be
// sent yet (the agent host does not resolve, a connect failed) stay queued,
// the oldest dropped beyond kMaxQueued, and go out with the next connection.
// The connection closes once every report sent on it has been answered; a
// connection lost before a report's answer puts that report back at the
// front of the queue (sent again rather than lost). Reports still queued or
// unanswered when the reporter is destroyed are written to the activity log.

#include "netlib/core/vqSmartPtr.h"
#include "netlib/layers/nwIAgentListener.h"
#include "netlib/layers/vqIAgentLayer.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

class vqIAgentLayer;
class vqIQoSContext;

class CPlatformReporter : public nwIAgentListener {
public:
    static constexpr int32_t kAgentPort = 54547;
    static constexpr size_t kMaxQueued = 64;

    CPlatformReporter();
    virtual ~CPlatformReporter();
    CPlatformReporter(const CPlatformReporter&) = delete;
    CPlatformReporter& operator=(const CPlatformReporter&) = delete;

    // One entry (kAgentEntrySize bytes): the service identifier (32
    // characters and a NUL), the URL (255 characters and a NUL), the bytes
    // transferred (8, host order) and a flag of 1.
    static constexpr size_t kEntryIdLength = 32;
    static constexpr size_t kEntryUrlOffset = kEntryIdLength + 1;
    static constexpr size_t kEntryUrlLength = 255;
    static constexpr size_t kEntryBytesOffset = kEntryUrlOffset + kEntryUrlLength + 1;
    static constexpr size_t kEntryFlagOffset = kEntryBytesOffset + sizeof(int64_t);
    static_assert(kEntryFlagOffset + 1 == kAgentEntrySize);
    // Appends one entry, the identifier and URL cut to their fields.
    static void AppendEntry(std::vector<unsigned char>* entries, const char* serviceId, const std::string& url,
                            int64_t bytes);

    // count entries of kAgentEntrySize bytes each, copied. With ZDR_NO_REPORT
    // set (and not "0") nothing is queued or sent; one log line says so.
    void Enqueue(int32_t count, const unsigned char* entries);
    static bool ReportsOff();

    size_t QueuedCount() const { return m_queue.size(); }
    // Reports queued or sent and not yet answered on a connection that is
    // open or opening: waiting for them can still help.
    bool Pending() const { return m_connection.Get() && (!m_queue.empty() || !m_sent.empty()); }
    // Starts a connection for queued reports if none is open (the service is
    // about to end and no later report would carry them).
    void Flush();
    bool Connected() const { return m_connection.Get() != nullptr; }

    // The agent server: ZDR_AGENT_HOST from the environment (a value may
    // carry ":port"), else the build's setting, on port 54547.
    static void AgentEndpoint(std::string* host, int32_t* port);

    void OnAgentConnected(int32_t cookie) override;
    void OnAgentReply(int32_t cookie, uint8_t value) override;
    void OnAgentClosed(int32_t cookie) override;
    void OnAgentConnectTimeout(int32_t cookie) override;
    void OnAgentRecvTimeout(int32_t cookie) override;

private:
    // True when a new connection was started.
    bool Connect();
    void SendAll();
    void Drop();
    vqIQoSContext* Context() const;
    vqIAgentLayer* Layer() const;

    vqSmartPtr m_connection;
    std::deque<std::vector<unsigned char>> m_queue; // each: int32 count, then the entries
    // Reports sent on this connection and not yet answered, oldest first:
    // closing before their replies would reset the connection under them.
    std::deque<std::vector<unsigned char>> m_sent;
};
