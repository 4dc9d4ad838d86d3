// The fault matrix of the transfer report (CPlatformReporter): a plain job
// completes through the service and its report goes to the agent, which is
// our agent server or a scripted peer that misbehaves. A report either
// reaches the agent or, once the service ends, is written to the activity
// log as lost; the job's own outcome never depends on it, and nothing
// waits beyond the reporter's idle limit and the service's grace at its end.

#include "AgentServerProcess.h"
#include "FaultMatrix.h"
#include "FaultRig.h"
#include "LoopbackSockets.h"
#include "NginxProcess.h"
#include "ServiceEvents.h"
#include "TestFiles.h"
#include "platform/Connectivity.h"
#include "service/DlApi.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace {

bool Connected()
{
    return true;
}

// An agent that misbehaves the same way on every connection, one
// connection at a time; it keeps when each connection began and when the
// client closed it.
class AgentPeer {
public:
    enum class Mode {
        kResetAtAccept,
        kStall,             // reads, never replies
        kCloseBeforeReply,  // reads the report, closes
        kForeignReply,      // answers with bytes that are no agent frame
    };
    struct Connection {
        double accepted = 0;
        double closedByClient = -1;
    };

    explicit AgentPeer(Mode mode) : m_mode(mode)
    {
        m_listener = ListenOnLoopback(8, m_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~AgentPeer()
    {
        m_stop = true;
        m_thread.join();
        close(m_listener);
    }
    uint16_t Port() const { return m_port; }
    std::vector<Connection> Connections()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_connections;
    }

private:
    void Serve()
    {
        while (!m_stop) {
            const int fd = AcceptWithin(m_listener, 50);
            if (fd < 0) continue;
            size_t index = 0;
            {
                std::lock_guard<std::mutex> guard(m_mutex);
                index = m_connections.size();
                m_connections.push_back({FaultHttpServer::Now()});
            }
            if (m_mode == Mode::kResetAtAccept) {
                ResetConnection(fd);
                continue;
            }
            bool readSome = false;
            bool replied = false;
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (!m_stop && std::chrono::steady_clock::now() < until) {
                pollfd r{fd, POLLIN, 0};
                if (poll(&r, 1, 50) != 1) continue;
                char buffer[4096];
                if (recv(fd, buffer, sizeof buffer, 0) <= 0) {
                    std::lock_guard<std::mutex> guard(m_mutex);
                    m_connections[index].closedByClient = FaultHttpServer::Now();
                    break;
                }
                readSome = true;
                if (m_mode == Mode::kCloseBeforeReply) break;
                if (m_mode == Mode::kForeignReply && readSome && !replied) {
                    const std::string foreign = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
                    send(fd, foreign.data(), foreign.size(), MSG_NOSIGNAL);
                    replied = true;
                }
            }
            close(fd);
        }
    }

    Mode m_mode;
    int m_listener = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<Connection> m_connections;
    std::thread m_thread;
};

struct Rig {
    std::string base;
    AgentServerProcess agent;
    std::unique_ptr<AgentPeer> peer;
};

struct Case {
    const char* name;
    std::string fault;
    // Starts the agent side; answers the value of ZDR_AGENT_HOST.
    std::function<std::string(Rig&)> setup;
    bool delivered;
    std::string log;
    // Runs after the job completed and before the service ends.
    std::function<void(Rig&)> check = nullptr;
};

void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.fault;
}

std::string Here(uint16_t port)
{
    return "127.0.0.1:" + std::to_string(port);
}

const std::vector<Case> kCases = {
    {"AgentAnswers", "the agent server takes the report (no fault)",
     [](Rig& rig) { return rig.agent.Start(rig.base + "/reports.jsonl") ? Here(rig.agent.Port()) : ""; }, true, ""},
    {"Refused", "connection refused",
     [](Rig&) { return Here(RefusedPort()); }, false, "[MeshpullLib] Report Lost : svc-fault http://"},
    {"ResetAtAccept", "reset at accept, every connection",
     [](Rig& rig) {
         rig.peer = std::make_unique<AgentPeer>(AgentPeer::Mode::kResetAtAccept);
         return Here(rig.peer->Port());
     },
     false, "[MeshpullLib] Report Lost : svc-fault http://"},
    {"Stall", "stall: the report is read, no reply comes (5 s idle limit)",
     [](Rig& rig) {
         rig.peer = std::make_unique<AgentPeer>(AgentPeer::Mode::kStall);
         return Here(rig.peer->Port());
     },
     false, "[MeshpullLib] Report Lost : svc-fault http://",
     [](Rig& rig) {
         // The reporter gives up on the silent agent by itself.
         const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
         while (std::chrono::steady_clock::now() < until &&
                (rig.peer->Connections().empty() || rig.peer->Connections()[0].closedByClient < 0))
             std::this_thread::sleep_for(std::chrono::milliseconds(50));
         const auto connections = rig.peer->Connections();
         ASSERT_FALSE(connections.empty());
         ASSERT_GE(connections[0].closedByClient, 0);
         EXPECT_GE(connections[0].closedByClient - connections[0].accepted, 4.5);
     }},
    {"CloseBeforeReply", "closed after the report, before the reply",
     [](Rig& rig) {
         rig.peer = std::make_unique<AgentPeer>(AgentPeer::Mode::kCloseBeforeReply);
         return Here(rig.peer->Port());
     },
     false, "[MeshpullLib] Report Lost : svc-fault http://"},
    {"ForeignReply", "a reply that is no agent frame",
     [](Rig& rig) {
         rig.peer = std::make_unique<AgentPeer>(AgentPeer::Mode::kForeignReply);
         return Here(rig.peer->Port());
     },
     false, "[MeshpullLib] Report Lost : svc-fault http://"},
};

std::vector<FaultMatrixRow> RowsOf(const std::vector<Case>& cases)
{
    std::vector<FaultMatrixRow> rows;
    for (const Case& c : cases)
        rows.push_back({c.fault,
                        {c.delivered,
                         fault::EventName(DL_EVENT_JOB_COMPLETE) +
                             (c.delivered ? "; the report is in the agent's output"
                                          : "; the report is kept, sent again with the next connection, and logged "
                                            "as lost when the service ends"),
                         c.log}});
    return rows;
}

const FaultMatrixTable kTable("5. Agent reporting (CPlatformReporter)", RowsOf(kCases));

class FaultMatrixReport : public testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        setenv("ZDR_NO_ENGINE", "1", 1);
        rig.base = std::string(getenv("HOME")) + "/fault-" + GetParam().name;
        std::filesystem::remove_all(rig.base);
        ASSERT_TRUE(nginx.Start(rig.base + "/nginx"));
        SetConnectivityCheckForTesting(&Connected);
        LogReset();
    }
    void TearDown() override
    {
        DlFinalize();
        SetConnectivityCheckForTesting(nullptr);
        unsetenv("ZDR_AGENT_HOST");
        nginx.Stop();
        rig.agent.Stop();
    }

    Rig rig;
    NginxProcess nginx;
    ServiceEvents events;
};

std::string NameOf(const testing::TestParamInfo<Case>& info)
{
    return info.param.name;
}

} // namespace

TEST_P(FaultMatrixReport, Row)
{
    const Case& c = GetParam();
    SCOPED_TRACE(c.fault);
    const std::string host = c.setup(rig);
    ASSERT_FALSE(host.empty());
    setenv("ZDR_AGENT_HOST", host.c_str(), 1);
    ASSERT_EQ(DlInitialize(nullptr, &ServiceEvents::Callback, &events), DL_OK);

    const std::string bytes = RandomBytes(300000, 21);
    WriteFile(nginx.Root() + "/files/x.bin", bytes);
    const std::string folder = rig.base + "/download/";
    const std::string url = nginx.Url("/files/x.bin");
    int job = 0;
    ASSERT_EQ(DlCreateJob(&job, "zdr", "svc-fault"), DL_OK);
    ASSERT_EQ(DlAddJobFile(job, url.c_str(), folder.c_str(), "x.bin", 0xFFFFFFFFu, -1, 1), DL_OK);
    ASSERT_EQ(DlStartJob(job, 1), DL_OK);
    // The report's fate never touches the job's.
    ASSERT_TRUE(events.WaitFor(DL_EVENT_JOB_COMPLETE, 1, 60));
    EXPECT_TRUE(ReadFile(folder + "x.bin") == bytes);
    if (c.check) c.check(rig);
    EXPECT_EQ(DlRemoveJob(job), DL_OK);

    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(DlFinalize(), DL_OK);
    // The grace for reports at the end is bounded (2 s), whatever the agent does.
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
    const std::string log = ReadLog();
    const std::string entry = "{\"serviceId\":\"svc-fault\",\"url\":\"" + url + "\",\"bytes\":300000}\n";
    if (c.delivered) {
        EXPECT_EQ(rig.agent.Output(), entry);
        EXPECT_EQ(log.find("Report Lost"), std::string::npos) << log;
    } else {
        // Lost once, with what it would have said.
        EXPECT_EQ(Count(log, c.log + url.substr(7) + " 300000\r\n"), 1u) << log;
    }
    EXPECT_NE(log.find(c.log), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(Report, FaultMatrixReport, testing::ValuesIn(kCases), NameOf);
