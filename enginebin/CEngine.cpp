#include "enginebin/CEngine.h"

#include "enginebin/CCertificateNameCheck.h"
#include "enginebin/CurlApi.h"
#include "netlib/http/SizeContradiction.h"
#include "netlib/runtime/nwCStreamDispatcher.h"
#include "platform/Connectivity.h"
#include "platform/PeerOwner.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

namespace {

// A file gets one connection per this many bytes, up to kMaxConnectionsPerFile.
constexpr int64_t kBytesPerConnection = 16ll * 1024 * 1024;
constexpr int kMaxConnectionsPerFile = 16;
// A large file starts with this many connections; more are added (doubling,
// once a second) only while each runs slower than kFastConnection. Where one
// connection already fills the line, more of them only share it and cost
// CPU (receive calls, wake-ups, smaller reads); where the line is long and
// each connection slow, the file soon has its full share.
constexpr int kFirstConnectionsPerFile = 4;
constexpr double kFastConnection = 32.0 * 1024 * 1024; // bytes per second
constexpr int kMaxConnections = 48;
// Part files made ahead of the connections that will write them (each holds
// a descriptor until its transfer starts).
constexpr int kMakeAhead = 32;
// A running range is split for an idle connection only when both halves
// keep at least this much.
constexpr int64_t kMinSplit = 2ll * 1024 * 1024;
// Received bytes reach the file in blocks of this size at offsets that are
// multiples of it: one pwrite per block instead of one per 16 KiB callback,
// and no partial file-system block for the kernel to zero-fill first.
// Blocks of 128 and 256 KiB measured slower: the copy into the page cache
// grew dearer by more than the calls saved.
constexpr size_t kWriteBlock = 64 * 1024;
// A range is split only far ahead of what its connection holds unwritten.
static_assert(static_cast<int64_t>(kWriteBlock) < kMinSplit);
// libcurl's receive buffer: small for short transfers, which come and go
// by the hundred, and four times larger for long ranges, where it saves
// receive calls and loop rounds.
constexpr long kReceiveBuffer = 64 * 1024;
constexpr long kLongReceiveBuffer = 256 * 1024;
constexpr int kMaxAttemptsPerUrl = 5;
constexpr int kMaxRestarts = 3;
constexpr long kMaxRedirects = 8;
// The slowest connection that is not a stall: below kFloorBytesPerSecond
// over kStallSeconds it is ended and its range retried (the plain path's floor).
constexpr long kStallSeconds = 30;
constexpr long kFloorBytesPerSecond = 1024;
// A file goes at most this long without a body byte, over all its
// alternatives and attempts; a server that asks for a longer pause is not
// waited for. Then the job is given up (the client's plain path takes over).
constexpr long kMaxSilenceSeconds = 30;
constexpr int64_t kOpenEnd = INT64_MAX;
// What clients may make the engine hold. A frame is at most a job of one
// message (below kLocalSingleJobLimit) or one file of a job (a URL of up to
// 64 KiB); the bytes held for all clients together (unread input, unsent
// replies, the files of jobs still arriving) are bounded, and whoever pushes
// them past the bound is cut off. A client that leaves kMaxPendingReply bytes
// of replies unread is not read from until it takes them; one that has left
// kMaxUnsentReply unread (the engine's own messages keep coming) is closed.
constexpr uint32_t kMaxClientFrame = 128u * 1024;
constexpr size_t kMaxClientBytes = 32u * 1024 * 1024;
constexpr size_t kMaxPendingReply = 64u * 1024;
constexpr size_t kMaxUnsentReply = 4u * 1024 * 1024;
constexpr size_t kClientReadChunk = 64u * 1024;

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    const size_t n = strlen(prefix);
    return text.size() >= n && strncasecmp(text.c_str(), prefix, n) == 0;
}

std::string Trim(std::string text)
{
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' || text.back() == '\t'))
        text.pop_back();
    size_t start = 0;
    while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) ++start;
    return text.substr(start);
}

// A Content-Length value: decimal digits only, within int64_t; else -1.
int64_t ParseLength(const std::string& text)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return -1;
    int64_t value = 0;
    for (char digit : text) {
        if (value > (INT64_MAX - (digit - '0')) / 10) return -1;
        value = value * 10 + (digit - '0');
    }
    return value;
}

// What If-Range can carry: a strong ETag, else Last-Modified ("" for neither).
std::string IfRangeValidator(const std::string& etag, const std::string& lastModified)
{
    const bool strong = !etag.empty() && etag.rfind("W/", 0) != 0;
    return strong ? etag : lastModified;
}

// Bytes the volume holding path has left for us; -1 when it cannot be told.
int64_t FreeBytes(const std::string& path)
{
    struct statvfs volume;
    if (statvfs(path.c_str(), &volume) != 0) return -1;
    return static_cast<int64_t>(volume.f_bavail) * static_cast<int64_t>(volume.f_frsize);
}

bool Online()
{
    // Tests play a lost network with a file whose presence means "online".
    if (const char* file = getenv("ZDR_ENGINE_CONNECTIVITY_FILE")) return access(file, F_OK) == 0;
    return HasInternetConnection();
}

} // namespace

struct CEngine::Client {
    struct Route {
        CEngine* engine;
        Client* client;
        uint16_t type;
        uint16_t code;
    };
    int fd = -1;
    std::vector<unsigned char> in;
    std::vector<unsigned char> out;
    nwCStreamDispatcher dispatcher;
    std::vector<std::unique_ptr<Route>> routes;
    uint8_t mode = kLocalOptionsPlain;
    std::unique_ptr<nwLocalJob> assembling;
    size_t assemblingBytes = 0; // held for the files of the job still arriving
    bool closed = false;
    bool watched = false;     // registered with the event loop
    bool watchingIn = false;  // for input, while its replies are taken
    bool watchingOut = false; // for writability too, while out holds bytes

    size_t Held() const { return in.size() + out.size() + assemblingBytes; }
};

struct Span {
    int64_t start;
    int64_t end; // exclusive; kOpenEnd while the size is unknown
    int64_t done;
    CEngine::Transfer* active;
};

struct CEngine::FileTask {
    enum State { Waiting, Probing, Running, Done, Failed };
    Job* job = nullptr;
    int index = 0;
    nwLocalJobFile given;
    std::vector<std::string> urls;
    size_t urlIndex = 0;
    int attempts = 0;
    int restarts = 0;
    std::string finalPath, partPath, controlPath;
    int64_t size = -1;
    std::string etag, lastModified;
    std::vector<Span> spans;
    int fd = -1;
    uint64_t makeId = 0; // while its part file is being made
    // While its data is being flushed: the record saved once that is done.
    uint64_t flushId = 0;
    std::unique_ptr<CControlFile> flushing;
    State state = Waiting;
    bool singleStream = false;
    bool resumed = false;
    double retryAt = 0;
    double runningSince = 0;
    // Since when it has waited for a server without a body byte.
    double quietSince = 0;
    int active = 0;
    // Connections the file may use for now, and what it had at the last
    // look at its speed (Widen).
    int allowed = kFirstConnectionsPerFile;
    double widenSince = -1;
    int64_t widenPresent = 0;
    int64_t lastPresent = 0;
    int32_t rate = 0;
    std::unique_ptr<CControlFile> found; // a control file of an earlier run
    // Why the last attempt failed, when that is worth telling the client
    // should the file fail; "" otherwise.
    std::string cause;

    int64_t Present() const
    {
        if (state == Done) return std::max<int64_t>(size, 0);
        int64_t present = 0;
        for (const Span& span : spans) present += span.done;
        return present;
    }
};

struct CEngine::Job {
    enum State { Probing, Asking, Running, Ended };
    Client* client = nullptr;
    int32_t number = 0;
    int32_t task = 0;
    uint8_t mode = kLocalOptionsPlain;
    std::vector<std::unique_ptr<FileTask>> files;
    State state = Probing;
    double started = 0;
    int64_t lastPresent = 0;
    int filesDone = 0;
};

struct CEngine::Transfer {
    CEngine* engine = nullptr;
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    FileTask* file = nullptr;
    int span = -1; // -1: a size probe
    int64_t pos = 0;
    bool ranged = false;
    bool cancelled = false;
    // The response, reset at every status line (redirects).
    long status = 0;
    int64_t contentLength = -1;
    int64_t rangeStart = -1, rangeLast = -1, rangeTotal = -1;
    std::string etag, lastModified;
    long retryAfter = -1;
    bool checked = false;
    bool discard = false;
    bool reachedEnd = false;
    bool badResponse = false;
    bool restartFile = false;
    int writeErrno = 0;
    // A length the answer gave that is not the file's size (-1 none), or a
    // body that ran past it: such an answer is never the file.
    int64_t claimedSize = -1;
    bool overrun = false;
    size_t probeBytes = 0; // body bytes a size probe was offered
    // Bytes received but not yet written; they belong at pos - fill.
    std::unique_ptr<unsigned char[]> block;
    size_t fill = 0;
};

CEngine::CEngine(int listenFd, uint16_t port, int signalFd, int idleExitSeconds)
    : m_listenFd(listenFd), m_port(port), m_signalFd(signalFd), m_idleExitSeconds(idleExitSeconds)
{
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    m_multi = Curl().multi_init();
    Curl().multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &CEngine::OnSocket);
    Curl().multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    Curl().multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &CEngine::OnTimer);
    Curl().multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
    // Size probes are not counted by Schedule; libcurl queues what is over.
    Curl().multi_setopt(m_multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, static_cast<long>(kMaxConnections));
    // Idle connections are kept for the next transfers. libcurl's own limit
    // is four per handle still added, so as a job's last transfers (or its
    // size probes) end one by one, it would close connections the next ones
    // could have used.
    Curl().multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, static_cast<long>(kMaxConnections));
    m_online = Online();
    m_maker = std::make_unique<CFileMaker>();
    if (!m_maker->Ready()) m_maker.reset();
    m_flusher = std::make_unique<CFileFlusher>();
    if (!m_flusher->Ready()) m_flusher.reset();
}

CEngine::~CEngine()
{
    for (auto& transfer : m_transfers) {
        Curl().multi_remove_handle(m_multi, transfer->easy);
        Curl().easy_cleanup(transfer->easy);
        Curl().slist_free_all(transfer->headers);
    }
    m_transfers.clear();
    for (auto& client : m_clients)
        if (client->fd >= 0) close(client->fd);
    Curl().multi_cleanup(m_multi);
    if (m_epoll >= 0) close(m_epoll);
}

namespace {

// Our own descriptors are registered by number; libcurl's carry this tag.
constexpr uint64_t kCurlSocket = uint64_t(1) << 32;

} // namespace

int CEngine::OnSocket(CURL*, int socket, int what, void* user, void*)
{
    auto* engine = static_cast<CEngine*>(user);
    if (what == CURL_POLL_REMOVE) {
        epoll_ctl(engine->m_epoll, EPOLL_CTL_DEL, socket, nullptr);
        return 0;
    }
    epoll_event event{};
    event.events = ((what & CURL_POLL_IN) ? EPOLLIN : 0u) | ((what & CURL_POLL_OUT) ? EPOLLOUT : 0u);
    event.data.u64 = kCurlSocket | static_cast<uint32_t>(socket);
    if (epoll_ctl(engine->m_epoll, EPOLL_CTL_MOD, socket, &event) != 0 && errno == ENOENT)
        epoll_ctl(engine->m_epoll, EPOLL_CTL_ADD, socket, &event);
    return 0;
}

int CEngine::OnTimer(CURLM*, long timeoutMs, void* user)
{
    auto* engine = static_cast<CEngine*>(user);
    engine->m_curlDue = timeoutMs < 0 ? -1 : Now() + static_cast<double>(timeoutMs) / 1000;
    return 0;
}

void CEngine::WatchClient(Client* client)
{
    const bool wantIn = client->out.size() < kMaxPendingReply;
    const bool wantOut = !client->out.empty();
    if (client->watched && wantIn == client->watchingIn && wantOut == client->watchingOut) return;
    epoll_event event{};
    event.events = (wantIn ? EPOLLIN : 0u) | (wantOut ? EPOLLOUT : 0u);
    event.data.u64 = static_cast<uint32_t>(client->fd);
    epoll_ctl(m_epoll, client->watched ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, client->fd, &event);
    client->watched = true;
    client->watchingIn = wantIn;
    client->watchingOut = wantOut;
}

bool CEngine::WithinClientBudget() const
{
    size_t held = 0;
    for (const auto& client : m_clients) held += client->closed ? 0 : client->Held();
    return held <= kMaxClientBytes;
}

int CEngine::Run()
{
    for (int fd : {m_signalFd, m_listenFd}) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = static_cast<uint32_t>(fd);
        if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) != 0) return 1;
    }
    if (m_maker) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = static_cast<uint32_t>(m_maker->Fd());
        if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_maker->Fd(), &event) != 0) m_maker.reset();
    }
    if (m_flusher) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = static_cast<uint32_t>(m_flusher->Fd());
        if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_flusher->Fd(), &event) != 0) m_flusher.reset();
    }
    m_idleSince = m_lastTick = Now();
    while (!m_stop) {
        // Woken at least every 100 ms for the tick, the idle check and retries.
        int timeout = 100;
        if (m_curlDue >= 0)
            timeout = static_cast<int>(std::clamp<double>(std::ceil((m_curlDue - Now()) * 1000), 0, timeout));
        epoll_event events[64];
        const int ready = epoll_wait(m_epoll, events, 64, timeout);
        int running = 0;
        for (int i = 0; i < ready; ++i) {
            const uint64_t tag = events[i].data.u64;
            const int fd = static_cast<int>(static_cast<uint32_t>(tag));
            const uint32_t what = events[i].events;
            if (tag & kCurlSocket) {
                const int mask = ((what & EPOLLIN) ? CURL_CSELECT_IN : 0) | ((what & EPOLLOUT) ? CURL_CSELECT_OUT : 0) |
                                 ((what & (EPOLLERR | EPOLLHUP)) ? CURL_CSELECT_ERR : 0);
                Curl().multi_socket_action(m_multi, fd, mask, &running);
            } else if (fd == m_signalFd) {
                signalfd_siginfo info;
                while (read(m_signalFd, &info, sizeof info) == sizeof info) m_stop = true;
            } else if (fd == m_listenFd) {
                Accept();
            } else if (m_maker && fd == m_maker->Fd()) {
                TakeMadeFiles();
            } else if (m_flusher && fd == m_flusher->Fd()) {
                TakeFlushed();
            } else {
                for (auto& client : m_clients) {
                    if (client->closed || client->fd != fd) continue;
                    if (what & EPOLLOUT) FlushClient(client.get());
                    if (!client->closed && (what & (EPOLLIN | EPOLLERR | EPOLLHUP))) ReadClient(client.get());
                    break;
                }
            }
        }
        if (m_stop) break;
        if (m_curlDue >= 0 && Now() >= m_curlDue) {
            // libcurl may set the next time from inside the call.
            m_curlDue = -1;
            Curl().multi_socket_action(m_multi, CURL_SOCKET_TIMEOUT, 0, &running);
        }
        int queued = 0;
        while (CURLMsg* message = Curl().multi_info_read(m_multi, &queued)) {
            if (message->msg != CURLMSG_DONE) continue;
            Transfer* transfer = nullptr;
            Curl().easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, reinterpret_cast<char**>(&transfer));
            FinishTransfer(transfer, message->data.result);
        }
        const double now = Now();
        Schedule(now);
        if (now - m_lastTick >= 1.0) {
            m_lastTick = now;
            Tick(now);
        }
        // Cancelled transfers leave the multi handle here, outside libcurl's callbacks.
        for (auto it = m_transfers.begin(); it != m_transfers.end();) {
            if (!(*it)->cancelled) {
                ++it;
                continue;
            }
            Curl().multi_remove_handle(m_multi, (*it)->easy);
            Curl().easy_cleanup((*it)->easy);
            Curl().slist_free_all((*it)->headers);
            it = m_transfers.erase(it);
        }
        // Clients cut off where they could not be closed at once.
        for (auto& client : m_clients)
            if (client->closed) CloseClient(client.get());
        m_jobs.remove_if([](const std::unique_ptr<Job>& job) { return job->state == Job::Ended; });
        m_clients.remove_if([](const std::unique_ptr<Client>& client) { return client->closed; });
        if (!m_clients.empty() || !m_jobs.empty()) m_idleSince = now;
        else if (now - m_idleSince >= m_idleExitSeconds) break;
    }
    for (auto& job : m_jobs) StopJob(job.get(), true);
    return 0;
}

// ---- clients ----

void CEngine::Accept()
{
    for (;;) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int fd = accept4(m_listenFd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        // Only processes of our own user may drive the engine.
        if (peer.sin_family != AF_INET || PeerOwner(ntohs(peer.sin_port), m_port) != static_cast<long>(geteuid())) {
            close(fd);
            continue;
        }
        auto client = std::make_unique<Client>();
        client->fd = fd;
        client->dispatcher.SetMaxPayload(kMaxClientFrame);
        const uint16_t codes[] = {kLocalJobOptions, kLocalJobTag,     kLocalStopJob,      kLocalServiceId,
                                  kLocalMessage13,  kLocalEngineFlag, kLocalResumeAnswer, kLocalJobHeader,
                                  kLocalJobFile,    kLocalJobEnd,     kLocalStatus};
        for (uint16_t code : codes) {
            client->routes.push_back(std::make_unique<Client::Route>(Client::Route{this, client.get(), kLocalFrameType, code}));
            client->dispatcher.RegisterHandler(kLocalFrameType, code, &CEngine::OnFrame, client->routes.back().get());
        }
        client->routes.push_back(
            std::make_unique<Client::Route>(Client::Route{this, client.get(), kLocalJobFrameType, kLocalJob}));
        client->dispatcher.RegisterHandler(kLocalJobFrameType, kLocalJob, &CEngine::OnFrame, client->routes.back().get());
        WatchClient(client.get());
        m_clients.push_back(std::move(client));
    }
}

void CEngine::ReadClient(Client* client)
{
    // One read per readiness: the frames it completes are handled before the
    // next, so input never piles up behind them and replies are looked at.
    unsigned char buffer[kClientReadChunk];
    const ssize_t n = recv(client->fd, buffer, sizeof buffer, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return CloseClient(client);
    if (n < 0) return;
    client->in.insert(client->in.end(), buffer, buffer + n);
    if (!WithinClientBudget()) return CloseClient(client);
    const int32_t consumed = client->dispatcher.Feed(client->in.data(), static_cast<uint32_t>(client->in.size()));
    if (consumed < 0 || client->closed || !WithinClientBudget()) return CloseClient(client);
    client->in.erase(client->in.begin(), client->in.begin() + consumed);
    WatchClient(client);
}

void CEngine::FlushClient(Client* client)
{
    while (!client->out.empty()) {
        const ssize_t n = send(client->fd, client->out.data(), client->out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) break;
        if (n <= 0) return CloseClient(client);
        client->out.erase(client->out.begin(), client->out.begin() + n);
    }
    WatchClient(client);
}

void CEngine::CloseClient(Client* client)
{
    if (client->fd < 0) return;
    client->dispatcher.Stop();
    client->closed = true;
    epoll_ctl(m_epoll, EPOLL_CTL_DEL, client->fd, nullptr);
    close(client->fd);
    client->fd = -1;
    // Its jobs stop; their partial files stay for the client's next connection.
    for (auto& job : m_jobs) {
        if (job->client != client || job->state == Job::Ended) continue;
        StopJob(job.get(), true);
        job->state = Job::Ended;
    }
}

void CEngine::Send(Client* client, uint16_t code, const nwCDNLocalCodec::Bytes& payload)
{
    if (!client || client->closed) return;
    const nwCDNLocalCodec::Bytes frame = nwCDNLocalCodec::Frame(kLocalFrameType, code, payload);
    // Nobody takes what it is sent: it holds the engine's memory and no more.
    if (client->out.size() + frame.size() > kMaxUnsentReply) {
        client->closed = true;
        client->dispatcher.Stop();
        return;
    }
    client->out.insert(client->out.end(), frame.begin(), frame.end());
    FlushClient(client);
}

void CEngine::OnFrame(const unsigned char* payload, uint32_t length, void* user)
{
    auto* route = static_cast<Client::Route*>(user);
    route->engine->HandleFrame(route->client, route->type, route->code, payload, length);
}

void CEngine::HandleFrame(Client* client, uint16_t, uint16_t code, const unsigned char* payload, uint32_t length)
{
    bool ok = true;
    switch (code) {
    case kLocalJobOptions: {
        uint8_t mode = 0;
        ok = nwCDNLocalCodec::DecodeJobOptions(payload, length, &mode);
        client->mode = mode == kLocalOptionsHighSpeed ? kLocalOptionsHighSpeed : kLocalOptionsPlain;
        break;
    }
    case kLocalJob: {
        nwLocalJob job;
        ok = nwCDNLocalCodec::DecodeJob(payload, length, &job);
        if (ok) SubmitJob(client, std::move(job));
        break;
    }
    case kLocalJobHeader: {
        auto job = std::make_unique<nwLocalJob>();
        ok = nwCDNLocalCodec::DecodeJobHeader(payload, length, job.get());
        if (!ok) break;
        client->assembling.reset();
        client->assemblingBytes = 0;
        if (job->fileCount > kLocalMaxJobFiles) {
            Reject(client, job->jobNumber, "too many files (" + std::to_string(job->fileCount) + ")");
            break;
        }
        client->assembling = std::move(job);
        break;
    }
    case kLocalJobFile: {
        int32_t number = 0, index = 0;
        nwLocalJobFile file;
        ok = nwCDNLocalCodec::DecodeJobFile(payload, length, &number, &index, &file);
        if (!ok) break;
        nwLocalJob* job = client->assembling.get();
        if (!job || job->jobNumber != number || index != static_cast<int32_t>(job->files.size()) ||
            index >= job->fileCount) {
            client->assembling.reset();
            client->assemblingBytes = 0;
            Reject(client, number, "job file out of order");
            break;
        }
        job->files.push_back(std::move(file));
        client->assemblingBytes += sizeof(nwLocalJobFile) + length;
        break;
    }
    case kLocalJobEnd: {
        int32_t number = 0;
        ok = nwCDNLocalCodec::DecodeJobNumber(payload, length, &number);
        if (!ok) break;
        std::unique_ptr<nwLocalJob> job = std::move(client->assembling);
        client->assemblingBytes = 0;
        if (!job || job->jobNumber != number || static_cast<int32_t>(job->files.size()) != job->fileCount)
            Reject(client, number, "job incomplete");
        else
            SubmitJob(client, std::move(*job));
        break;
    }
    case kLocalStopJob: {
        int32_t number = 0, task = 0;
        ok = nwCDNLocalCodec::DecodeStopJob(payload, length, &number, &task);
        for (auto& job : m_jobs) {
            if (!ok || job->client != client || job->number != number || job->task != task || job->state == Job::Ended)
                continue;
            StopJob(job.get(), true);
            job->state = Job::Ended;
        }
        break;
    }
    case kLocalResumeAnswer: {
        vqLOCALRESUMEANSWER answer{};
        ok = nwCDNLocalCodec::DecodeResumeAnswer(payload, length, &answer);
        for (auto& job : m_jobs) {
            if (!ok || job->client != client || job->number != answer.jobNumber || job->task != answer.taskNumber ||
                job->state != Job::Asking)
                continue;
            if (answer.applyToAll) m_resumeForAll = answer.resume ? 1 : 0;
            AnswerResume(job.get(), answer.resume != 0);
            break;
        }
        break;
    }
    case kLocalStatus: {
        int32_t running = 0;
        for (auto& job : m_jobs) running += job->state == Job::Ended ? 0 : 1;
        Send(client, kLocalStatus, nwCDNLocalCodec::EncodeStatus(running));
        break;
    }
    default:
        // The tag, the service identifier, the engine flag and message 13
        // change nothing in how this engine downloads.
        break;
    }
    if (!ok) {
        client->closed = true;
        client->dispatcher.Stop();
    }
}

// ---- jobs ----

void CEngine::Reject(Client* client, int32_t jobNumber, const std::string& reason)
{
    vqLOCALJOBREJECTED record{};
    record.jobNumber = jobNumber;
    record.reason = reason.c_str();
    Send(client, kLocalJobRejected, nwCDNLocalCodec::EncodeJobRejected(record));
}

void CEngine::SubmitJob(Client* client, nwLocalJob given)
{
    if (given.files.empty()) return Reject(client, given.jobNumber, "no files");
    if (given.files.size() > static_cast<size_t>(kLocalMaxJobFiles))
        return Reject(client, given.jobNumber, "too many files (" + std::to_string(given.files.size()) + ")");
    // Every name the running jobs' files take, finished or on their way.
    std::set<std::string> busy;
    for (auto& job : m_jobs) {
        if (job->state == Job::Ended) continue;
        if (job->client == client && job->number == given.jobNumber)
            return Reject(client, given.jobNumber, "job already running");
        for (auto& file : job->files) busy.insert({file->finalPath, file->partPath, file->controlPath});
    }
    auto job = std::make_unique<Job>();
    job->client = client;
    job->number = given.jobNumber;
    job->mode = client->mode;
    client->mode = kLocalOptionsPlain;
    job->started = Now();
    std::map<std::string, int> paths;
    std::set<std::string> temporaries;
    // A job's files mostly share a few folders: each is made and checked once.
    std::set<std::string> folders;
    for (size_t i = 0; i < given.files.size(); ++i) {
        nwLocalJobFile& source = given.files[i];
        const std::string& name = source.fileName;
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
            return Reject(client, given.jobNumber, "bad file name \"" + name + "\"");
        std::string folder = source.folder;
        if (folder.empty() || folder[0] != '/')
            return Reject(client, given.jobNumber, "folder is not an absolute path \"" + folder + "\"");
        if (folder.back() != '/') folder += '/';
        if (!folders.contains(folder)) {
            std::error_code error;
            std::filesystem::create_directories(folder, error);
            if (!std::filesystem::is_directory(folder, error))
                return Reject(client, given.jobNumber, "cannot make folder \"" + folder + "\"");
            folders.insert(folder);
        }
        auto file = std::make_unique<FileTask>();
        size_t start = 0;
        while (start <= source.url.size()) {
            size_t bar = source.url.find('|', start);
            if (bar == std::string::npos) bar = source.url.size();
            const std::string url = Trim(source.url.substr(start, bar - start));
            if (StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://")) file->urls.push_back(url);
            start = bar + 1;
        }
        if (file->urls.empty()) return Reject(client, given.jobNumber, "cannot fetch \"" + source.url + "\"");
        file->job = job.get();
        file->index = static_cast<int>(i);
        file->finalPath = folder + name;
        file->partPath = file->finalPath + kLocalPartSuffix;
        file->controlPath = file->finalPath + kLocalControlSuffix;
        file->size = source.size > 0 ? source.size : -1;
        file->quietSince = job->started;
        if (paths[file->finalPath]++ > 0)
            return Reject(client, given.jobNumber, "file named twice \"" + file->finalPath + "\"");
        // A file named like another's part or control file would be written
        // over by it, or write over it.
        for (const std::string* path : {&file->finalPath, &file->partPath, &file->controlPath})
            if (temporaries.contains(*path) || (path != &file->finalPath && paths.contains(*path)))
                return Reject(client, given.jobNumber, "file named like a temporary file \"" + *path + "\"");
        temporaries.insert(file->partPath);
        temporaries.insert(file->controlPath);
        if (busy.contains(file->finalPath) || busy.contains(file->partPath) || busy.contains(file->controlPath))
            return Reject(client, given.jobNumber, "already downloading \"" + file->finalPath + "\"");
        file->given = std::move(source);
        job->files.push_back(std::move(file));
    }
    job->task = m_nextTask++;
    Job* raw = job.get();
    m_jobs.push_back(std::move(job));
    bool probing = false;
    for (auto& file : raw->files) {
        if (file->size > 0) continue;
        probing = true;
        StartProbe(file.get());
    }
    if (!probing) AcceptJob(raw);
}

void CEngine::AcceptJob(Job* job)
{
    vqLOCALJOBACCEPTED record{job->number, job->task, static_cast<int32_t>(job->files.size()), 0};
    for (auto& file : job->files) record.totalBytes += std::max<int64_t>(file->size, 0);
    Send(job->client, kLocalJobAccepted, nwCDNLocalCodec::EncodeJobAccepted(record));
    // Partial downloads of an earlier run: ask whether to continue them.
    // Only a part whose validator If-Range can carry is offered: without
    // one, a file changed since would be finished from its new version.
    bool ask = false;
    for (auto& file : job->files) {
        auto control = std::make_unique<CControlFile>();
        struct stat part;
        if (!control->Load(file->controlPath) || stat(file->partPath.c_str(), &part) != 0 ||
            part.st_size != control->size || control->url != file->given.url ||
            (file->size > 0 && control->size != file->size) || control->DoneBytes() == 0 ||
            IfRangeValidator(control->etag, control->lastModified).empty()) {
            unlink(file->controlPath.c_str());
            continue;
        }
        file->found = std::move(control);
        ask = true;
    }
    if (!ask) return StartJob(job);
    if (m_resumeForAll >= 0) return AnswerResume(job, m_resumeForAll == 1);
    job->state = Job::Asking;
    Send(job->client, kLocalAskResume, nwCDNLocalCodec::EncodeAskResume(job->number));
}

void CEngine::AnswerResume(Job* job, bool resume)
{
    // The time the user took to answer is nobody's silence.
    const double now = Now();
    for (auto& file : job->files) {
        file->quietSince = now;
        if (!file->found) continue;
        if (resume) {
            file->resumed = true;
            file->size = file->found->size;
            file->etag = file->found->etag;
            file->lastModified = file->found->lastModified;
            file->spans.clear();
            for (const CControlFile::Piece& piece : file->found->pieces)
                file->spans.push_back(Span{piece.start, piece.end, piece.done, nullptr});
        } else {
            unlink(file->controlPath.c_str());
            unlink(file->partPath.c_str());
        }
        file->found.reset();
    }
    StartJob(job);
}

void CEngine::StartJob(Job* job)
{
    // Room for every byte still to be reserved, per volume.
    std::map<dev_t, std::pair<int64_t, std::string>> needed;
    std::map<std::string, dev_t> devices; // by folder, each looked up once
    for (auto& file : job->files) {
        const std::string dir = file->finalPath.substr(0, file->finalPath.rfind('/') + 1);
        auto device = devices.find(dir);
        if (device == devices.end()) {
            struct stat folder;
            if (stat(dir.c_str(), &folder) != 0) continue;
            device = devices.emplace(dir, folder.st_dev).first;
        }
        auto& entry = needed[device->second];
        entry.second = dir;
        if (!file->resumed) entry.first += std::max<int64_t>(file->size, 0);
    }
    for (auto& [device, entry] : needed) {
        const int64_t available = FreeBytes(entry.second);
        if (available >= 0 && entry.first > available) return DiskFull(job, entry.second);
    }
    job->state = Job::Running;
    // Part files are made when their first connection starts (Schedule), so
    // the first requests do not wait for hundreds of files to be created.
    for (auto& file : job->files) {
        file->state = FileTask::Running;
        file->runningSince = Now();
        file->lastPresent = file->Present();
    }
    job->lastPresent = 0;
    for (auto& file : job->files) job->lastPresent += file->Present();
    Schedule(Now());
}

void CEngine::StopJob(Job* job, bool saveState)
{
    for (auto& file : job->files) {
        // A part file still being made is closed (and, being empty, removed)
        // when it comes back.
        if (file->makeId != 0) m_making.erase(file->makeId);
        file->makeId = 0;
        ForgetFlush(file.get());
        AbortTransfers(file.get(), nullptr);
        if (file->state == FileTask::Running && saveState) SaveControl(file.get());
        if (file->fd >= 0) close(file->fd);
        file->fd = -1;
    }
}

void CEngine::FinishJob(Job* job, int32_t valueB)
{
    if (job->state == Job::Ended) return;
    StopJob(job, true);
    job->state = Job::Ended;
    vqLOCALJOBFINISHED record{job->number, job->task, 0, job->filesDone, valueB};
    Send(job->client, kLocalJobFinished, nwCDNLocalCodec::EncodeJobFinished(record));
}

void CEngine::DiskFull(Job* job, const std::string& where)
{
    const std::string text = "not enough disk space for \"" + where + "\"";
    vqLOCALJOBERROR record{};
    record.jobNumber = job->number;
    record.taskNumber = job->task;
    record.kind = kLocalErrorDiskSpace;
    record.text = text.c_str();
    Send(job->client, kLocalJobError, nwCDNLocalCodec::EncodeJobError(record));
    // Files that never got a byte leave nothing behind.
    for (auto& file : job->files) {
        if (file->Present() > 0 || file->resumed) continue;
        AbortTransfers(file.get(), nullptr);
        if (file->fd >= 0) close(file->fd);
        file->fd = -1;
        file->state = FileTask::Failed;
        unlink(file->partPath.c_str());
        unlink(file->controlPath.c_str());
    }
    FinishJob(job, 2);
}

void CEngine::ReportProgress(Job* job, double now)
{
    vqLOCALPROGRESS record{};
    record.jobNumber = job->number;
    record.taskNumber = job->task;
    record.fileCount = static_cast<int32_t>(job->files.size());
    record.filesCompleted = job->filesDone;
    std::vector<vqLOCALFILERECORD> records;
    std::vector<std::string> names;
    for (auto& file : job->files) {
        record.totalBytes += std::max<int64_t>(file->size, 0);
        const int64_t present = file->Present();
        record.bytesPresent += present;
        file->rate = static_cast<int32_t>(std::min<int64_t>(present - file->lastPresent, INT32_MAX));
        file->lastPresent = present;
        if (file->active == 0) continue;
        vqLOCALFILERECORD entry{};
        snprintf(entry.id, sizeof entry.id, "%d", file->index);
        entry.fileSize = std::max<int64_t>(file->size, 0);
        entry.bytesPresent = present;
        entry.rate = file->rate;
        names.push_back(file->given.fileName);
        records.push_back(entry);
    }
    for (size_t i = 0; i < records.size(); ++i) records[i].text = names[i].c_str();
    record.rate = static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(record.bytesPresent - job->lastPresent, 0), INT32_MAX));
    job->lastPresent = record.bytesPresent;
    record.elapsedSeconds = static_cast<int64_t>(now - job->started);
    record.recordCount = static_cast<int32_t>(records.size());
    record.records = records.empty() ? nullptr : records.data();
    Send(job->client, kLocalJobProgress, nwCDNLocalCodec::EncodeProgress(record));
}

// ---- files and transfers ----

bool CEngine::OpenForTransfer(FileTask* file)
{
    if (file->fd >= 0) return true;
    if (OpenPart(file, !file->resumed)) return true;
    const int error = errno;
    if (file->fd >= 0) close(file->fd);
    file->fd = -1;
    if (error == ENOSPC || error == EDQUOT) DiskFull(file->job, file->finalPath);
    else FailFile(file);
    return false;
}

bool CEngine::OpenPart(FileTask* file, bool fresh)
{
    int error = 0;
    file->fd = CFileMaker::MakePartFile(file->partPath, file->size, fresh, &error);
    if (file->fd < 0) {
        errno = error;
        return false;
    }
    if (fresh) LayOutSpans(file);
    return true;
}

void CEngine::LayOutSpans(FileTask* file)
{
    file->spans.clear();
    // Ranges only where the size is known and the user consented to speed.
    int pieces = 1;
    if (file->size > 0 && file->job->mode == kLocalOptionsHighSpeed && !file->singleStream)
        pieces = static_cast<int>(std::clamp<int64_t>(file->size / kBytesPerConnection, 1, kMaxConnectionsPerFile));
    const int64_t total = file->size > 0 ? file->size : kOpenEnd;
    for (int i = 0; i < pieces; ++i) {
        const int64_t start = file->size > 0 ? file->size * i / pieces : 0;
        const int64_t end = i + 1 == pieces ? total : file->size * (i + 1) / pieces;
        file->spans.push_back(Span{start, end, 0, nullptr});
    }
}

void CEngine::RequestPart(FileTask* file)
{
    CFileMaker::Request request;
    request.id = m_nextMakeId++;
    request.path = file->partPath;
    request.size = file->size;
    request.fresh = !file->resumed;
    file->makeId = request.id;
    m_making[request.id] = file;
    m_maker->Submit(std::move(request));
}

bool CEngine::PartInUse(const std::string& partPath) const
{
    for (const auto& job : m_jobs) {
        if (job->state == Job::Ended) continue;
        for (const auto& file : job->files)
            if (file->partPath == partPath && (file->fd >= 0 || file->makeId != 0)) return true;
    }
    return false;
}

void CEngine::TakeMadeFiles()
{
    for (CFileMaker::Result& made : m_maker->Take()) {
        const auto found = m_making.find(made.request.id);
        FileTask* file = found == m_making.end() ? nullptr : found->second;
        if (found != m_making.end()) m_making.erase(found);
        if (file) file->makeId = 0;
        if (!file || file->state != FileTask::Running) {
            // Its job ended meanwhile: an empty new file is not left behind,
            // unless a later job has taken the same name since.
            if (made.fd >= 0) close(made.fd);
            if (made.request.fresh && !PartInUse(made.request.path)) unlink(made.request.path.c_str());
            continue;
        }
        if (made.fd < 0) {
            // Reported as a failure on the loop would have been; either may
            // end the job, which forgets its other files being made.
            if (made.error == ENOSPC || made.error == EDQUOT) DiskFull(file->job, file->finalPath);
            else FailFile(file);
            continue;
        }
        file->fd = made.fd;
        if (made.request.fresh) LayOutSpans(file);
    }
}

bool CEngine::ControlOf(const FileTask* file, CControlFile* control)
{
    // A part file not made yet has nothing to describe; a resumed one not
    // reopened yet keeps the control file it came with.
    if (file->size <= 0 || file->state == FileTask::Done || file->fd < 0) return false;
    control->url = file->given.url;
    control->size = file->size;
    control->etag = file->etag;
    control->lastModified = file->lastModified;
    for (const Span& span : file->spans) control->pieces.push_back({span.start, span.end, span.done});
    std::sort(control->pieces.begin(), control->pieces.end(),
              [](const CControlFile::Piece& a, const CControlFile::Piece& b) { return a.start < b.start; });
    return true;
}

void CEngine::SaveControl(FileTask* file)
{
    ForgetFlush(file);
    CControlFile control;
    if (!ControlOf(file, &control)) return;
    // Written bytes may still be only in memory; a record that counted them
    // would, after a crash of the machine, have a resume trust lost data.
    if (fdatasync(file->fd) != 0) return;
    control.Save(file->controlPath);
}

void CEngine::StartFlush(FileTask* file)
{
    if (!m_flusher) return SaveControl(file);
    // The last record still waits for its flush; the next tick tries again.
    if (file->flushId != 0) return;
    auto control = std::make_unique<CControlFile>();
    if (!ControlOf(file, control.get())) return;
    const int fd = fcntl(file->fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return;
    file->flushId = m_nextFlushId++;
    file->flushing = std::move(control);
    m_flushing[file->flushId] = file;
    m_flusher->Submit(file->flushId, fd);
}

void CEngine::TakeFlushed()
{
    for (const CFileFlusher::Result& flushed : m_flusher->Take()) {
        // A file that completed, restarted or stopped meanwhile was forgotten.
        const auto found = m_flushing.find(flushed.id);
        if (found == m_flushing.end()) continue;
        FileTask* file = found->second;
        m_flushing.erase(found);
        const std::unique_ptr<CControlFile> control = std::move(file->flushing);
        file->flushId = 0;
        if (flushed.error == 0) control->Save(file->controlPath);
    }
}

void CEngine::ForgetFlush(FileTask* file)
{
    if (file->flushId == 0) return;
    m_flushing.erase(file->flushId);
    file->flushId = 0;
    file->flushing.reset();
}

void CEngine::DropControl(FileTask* file)
{
    ForgetFlush(file);
    unlink(file->controlPath.c_str());
}

void CEngine::Schedule(double now)
{
    int busy = 0;
    for (auto& transfer : m_transfers) busy += transfer->cancelled ? 0 : 1;
    // Files being made, or made and waiting for a connection.
    int ahead = 0;
    for (auto& job : m_jobs) {
        if (job->state != Job::Running) continue;
        for (auto& owned : job->files) {
            FileTask* file = owned.get();
            const bool sequential = job->mode != kLocalOptionsHighSpeed;
            if (file->state != FileTask::Running) {
                if (file->state == FileTask::Done) continue;
                break;
            }
            if (now < file->retryAt) {
                if (sequential) break;
                continue;
            }
            if (file->fd < 0 && m_maker) {
                // Made on the maker's thread, a few files ahead of the
                // connections, while the loop goes on receiving.
                if (file->makeId == 0) {
                    if (ahead >= kMakeAhead) break;
                    RequestPart(file);
                }
                ++ahead;
                if (sequential) break;
                continue;
            }
            if (file->fd < 0) {
                if (busy >= kMaxConnections) break;
                if (!OpenForTransfer(file)) break; // the job has ended
            }
            const int target = sequential || file->singleStream || file->size <= 0
                                   ? 1
                                   : static_cast<int>(std::clamp<int64_t>(file->size / kBytesPerConnection, 1, file->allowed));
            for (size_t i = 0; i < file->spans.size() && file->active < target && busy < kMaxConnections; ++i) {
                Span& span = file->spans[i];
                if (span.active || span.done >= span.end - span.start) continue;
                StartTransfer(file, static_cast<int>(i), now);
                ++busy;
            }
            // An idle connection takes the back half of the largest running range.
            while (!sequential && file->active < target && busy < kMaxConnections && file->size > 0 &&
                   !file->singleStream) {
                Span* largest = nullptr;
                for (Span& span : file->spans)
                    if (span.active && (!largest || span.end - span.start - span.done >
                                                        largest->end - largest->start - largest->done))
                        largest = &span;
                if (!largest) break;
                const int64_t left = largest->end - largest->start - largest->done;
                if (left < 2 * kMinSplit) break;
                const int64_t middle = largest->start + largest->done + left / 2;
                const int64_t end = largest->end;
                largest->end = middle;
                file->spans.push_back(Span{middle, end, 0, nullptr});
                StartTransfer(file, static_cast<int>(file->spans.size() - 1), now);
                ++busy;
            }
            if (file->active == 0) ++ahead;
            if (sequential) break;
        }
    }
}

namespace {

// ZDR_ENGINE_STALL_SECONDS (1 to 30) shortens the stall window, for tests.
long SecondsFromEnvironment(const char* name, long limit)
{
    const char* text = getenv(name);
    if (!text || !*text) return limit;
    char* end = nullptr;
    const long value = strtol(text, &end, 10);
    return *end == 0 && value > 0 && value <= limit ? value : limit;
}

long StallSeconds()
{
    static const long seconds = SecondsFromEnvironment("ZDR_ENGINE_STALL_SECONDS", kStallSeconds);
    return seconds;
}

// ZDR_ENGINE_NO_DATA_SECONDS (1 to 30) shortens a file's silence bound, for tests.
long SilenceSeconds()
{
    static const long seconds = SecondsFromEnvironment("ZDR_ENGINE_NO_DATA_SECONDS", kMaxSilenceSeconds);
    return seconds;
}

void CommonOptions(CURL* easy, const std::string& url)
{
    Curl().easy_setopt(easy, CURLOPT_URL, url.c_str());
    Curl().easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    Curl().easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    Curl().easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    Curl().easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    Curl().easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    Curl().easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, 15L);
    // A connection that stays below the floor is as good as dead: a trickle
    // holds a job as long as silence does.
    Curl().easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, kFloorBytesPerSecond);
    Curl().easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, StallSeconds());
    Curl().easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBuffer);
    Curl().easy_setopt(easy, CURLOPT_USERAGENT, "ZDRDownloadV32/" ZDR_ENGINE_VERSION);
    // libcurl does not read these itself; OpenSSL's tools do, and so do we.
    if (const char* file = getenv("SSL_CERT_FILE")) Curl().easy_setopt(easy, CURLOPT_CAINFO, file);
    if (const char* dir = getenv("SSL_CERT_DIR")) Curl().easy_setopt(easy, CURLOPT_CAPATH, dir);
    CCertificateNameCheck::Apply(easy);
}

} // namespace

void CEngine::StartProbe(FileTask* file)
{
    file->state = FileTask::Probing;
    auto transfer = std::make_unique<Transfer>();
    transfer->engine = this;
    transfer->file = file;
    transfer->span = -1;
    transfer->easy = Curl().easy_init();
    CommonOptions(transfer->easy, file->urls[file->urlIndex]);
    Curl().easy_setopt(transfer->easy, CURLOPT_RANGE, "0-0");
    Curl().easy_setopt(transfer->easy, CURLOPT_HEADERFUNCTION, &CEngine::OnHeader);
    Curl().easy_setopt(transfer->easy, CURLOPT_HEADERDATA, transfer.get());
    Curl().easy_setopt(transfer->easy, CURLOPT_WRITEFUNCTION, &CEngine::OnBody);
    Curl().easy_setopt(transfer->easy, CURLOPT_WRITEDATA, transfer.get());
    Curl().easy_setopt(transfer->easy, CURLOPT_PRIVATE, transfer.get());
    Curl().multi_add_handle(m_multi, transfer->easy);
    m_transfers.push_back(std::move(transfer));
}

void CEngine::StartTransfer(FileTask* file, int spanIndex, double)
{
    Span& span = file->spans[static_cast<size_t>(spanIndex)];
    auto transfer = std::make_unique<Transfer>();
    transfer->engine = this;
    transfer->file = file;
    transfer->span = spanIndex;
    transfer->pos = span.start + span.done;
    transfer->easy = Curl().easy_init();
    CommonOptions(transfer->easy, file->urls[file->urlIndex]);
    if (span.end - transfer->pos >= kBytesPerConnection)
        Curl().easy_setopt(transfer->easy, CURLOPT_BUFFERSIZE, kLongReceiveBuffer);
    const bool whole = transfer->pos == 0 && (span.end == kOpenEnd || span.end == file->size);
    transfer->ranged = !whole;
    if (transfer->ranged) {
        char range[64];
        if (span.end == kOpenEnd) snprintf(range, sizeof range, "%lld-", static_cast<long long>(transfer->pos));
        else snprintf(range, sizeof range, "%lld-%lld", static_cast<long long>(transfer->pos),
                      static_cast<long long>(span.end - 1));
        Curl().easy_setopt(transfer->easy, CURLOPT_RANGE, range);
        // Continue only the same file: a changed one answers 200 in full.
        const std::string validator = IfRangeValidator(file->etag, file->lastModified);
        if (!validator.empty()) transfer->headers = Curl().slist_append(nullptr, ("If-Range: " + validator).c_str());
        if (transfer->headers) Curl().easy_setopt(transfer->easy, CURLOPT_HTTPHEADER, transfer->headers);
    }
    Curl().easy_setopt(transfer->easy, CURLOPT_HEADERFUNCTION, &CEngine::OnHeader);
    Curl().easy_setopt(transfer->easy, CURLOPT_HEADERDATA, transfer.get());
    Curl().easy_setopt(transfer->easy, CURLOPT_WRITEFUNCTION, &CEngine::OnBody);
    Curl().easy_setopt(transfer->easy, CURLOPT_WRITEDATA, transfer.get());
    Curl().easy_setopt(transfer->easy, CURLOPT_PRIVATE, transfer.get());
    span.active = transfer.get();
    ++file->active;
    Curl().multi_add_handle(m_multi, transfer->easy);
    m_transfers.push_back(std::move(transfer));
}

void CEngine::AbortTransfers(FileTask* file, Transfer* except)
{
    for (auto& transfer : m_transfers) {
        if (transfer->file != file || transfer.get() == except || transfer->cancelled) continue;
        // What it received still belongs where it was going; a failed write
        // here only leaves those bytes to be fetched again.
        if (transfer->span >= 0 && file->fd >= 0) WriteOut(transfer.get());
        transfer->block.reset();
        transfer->cancelled = true;
        if (transfer->span >= 0) {
            file->spans[static_cast<size_t>(transfer->span)].active = nullptr;
            --file->active;
        }
    }
}

size_t CEngine::OnHeader(char* data, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    const size_t length = size * count;
    const std::string line(data, length);
    if (line.rfind("HTTP/", 0) == 0) {
        const size_t space = line.find(' ');
        const long status = space == std::string::npos ? 0 : strtol(line.c_str() + space + 1, nullptr, 10);
        // A new response (after a redirect): forget what the last one said.
        transfer->status = status;
        transfer->contentLength = -1;
        transfer->rangeStart = transfer->rangeLast = transfer->rangeTotal = -1;
        transfer->etag.clear();
        transfer->lastModified.clear();
        transfer->retryAfter = -1;
        transfer->badResponse = false;
        return length;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos) return length;
    const std::string value = Trim(line.substr(colon + 1));
    const std::string name = line.substr(0, colon);
    if (strcasecmp(name.c_str(), "Content-Length") == 0) {
        // A length that is no number, too large, or said twice with two
        // values leaves the body's end unknown: the answer is not used (a
        // probe learns nothing from it, a transfer is retried).
        const int64_t length = ParseLength(value);
        if (length < 0 || (transfer->contentLength >= 0 && length != transfer->contentLength)) transfer->badResponse = true;
        else transfer->contentLength = length;
    } else if (strcasecmp(name.c_str(), "ETag") == 0) transfer->etag = value;
    else if (strcasecmp(name.c_str(), "Last-Modified") == 0) transfer->lastModified = value;
    else if (strcasecmp(name.c_str(), "Retry-After") == 0) {
        char* end = nullptr;
        const long seconds = strtol(value.c_str(), &end, 10);
        if (end != value.c_str() && seconds >= 0) transfer->retryAfter = seconds;
    } else if (strcasecmp(name.c_str(), "Content-Range") == 0) {
        long long first = -1, last = -1, total = -1;
        if (sscanf(value.c_str(), "bytes %lld-%lld/%lld", &first, &last, &total) >= 2) {
            transfer->rangeStart = first;
            transfer->rangeLast = last;
            transfer->rangeTotal = total;
        }
    }
    return length;
}

size_t CEngine::OnBody(char* data, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    if (transfer->cancelled) return 0;
    return transfer->engine->Body(transfer, data, size * count);
}

bool CEngine::CheckResponse(Transfer* transfer)
{
    FileTask* file = transfer->file;
    const long status = transfer->status;
    // An answer whose length cannot be trusted writes nothing.
    if (transfer->badResponse) return false;
    if (status < 200 || status >= 300) {
        transfer->discard = true;
        return true;
    }
    const bool changedValidator = (!file->etag.empty() && !transfer->etag.empty() && transfer->etag != file->etag) ||
                                  (file->etag.empty() && transfer->etag.empty() && !file->lastModified.empty() &&
                                   !transfer->lastModified.empty() && transfer->lastModified != file->lastModified);
    if (status == 206) {
        if (!transfer->ranged || transfer->rangeStart != transfer->pos) {
            transfer->badResponse = true;
            return false;
        }
        // A total that is not the file's size is no part of this file, and
        // never a reason to reserve more than the job was checked for.
        if (file->size > 0 && transfer->rangeTotal > 0 && transfer->rangeTotal != file->size) {
            transfer->claimedSize = transfer->rangeTotal;
            return false;
        }
        if (changedValidator) {
            transfer->restartFile = true;
            return false;
        }
        if (file->size <= 0 && transfer->rangeTotal > 0) {
            // The first answer to tell the size: the file ends there, not
            // where this answer does.
            if (!Reserve(transfer, transfer->rangeTotal)) return false;
            file->size = transfer->rangeTotal;
            file->spans[static_cast<size_t>(transfer->span)].end = file->size;
        }
        if (file->etag.empty() && file->lastModified.empty()) {
            file->etag = transfer->etag;
            file->lastModified = transfer->lastModified;
        }
        return true;
    }
    if (status != 200) {
        transfer->badResponse = true;
        return false;
    }
    // -1: the body ends where the connection does (or its last chunk).
    const int64_t size = transfer->contentLength;
    // A length that is not the size the job holds (given, or learnt by the
    // probe) is no copy of the file.
    if (file->size > 0 && size >= 0 && size != file->size) {
        transfer->claimedSize = size;
        return false;
    }
    file->etag = transfer->etag;
    file->lastModified = transfer->lastModified;
    if (!transfer->ranged && (file->size > 0 || size < 0)) return true;
    // The server ignores Range, or the file changed under If-Range: one
    // connection from byte 0.
    AbortTransfers(file, transfer);
    file->singleStream = true;
    file->resumed = false;
    const bool learnt = file->size <= 0 && size > 0;
    if (learnt) file->size = size;
    file->spans.clear();
    file->spans.push_back(Span{0, file->size > 0 ? file->size : kOpenEnd, 0, transfer});
    transfer->span = 0;
    transfer->pos = 0;
    DropControl(file);
    if (ftruncate(file->fd, 0) != 0) {
        transfer->writeErrno = errno;
        return false;
    }
    if (learnt) return Reserve(transfer, size);
    if (file->size > 0 && fallocate(file->fd, 0, 0, file->size) != 0 && errno != EOPNOTSUPP && errno != ENOSYS) {
        transfer->writeErrno = errno;
        return false;
    }
    return true;
}

bool CEngine::Reserve(Transfer* transfer, int64_t size)
{
    FileTask* file = transfer->file;
    struct stat part;
    const int64_t held = fstat(file->fd, &part) == 0 ? static_cast<int64_t>(part.st_size) : 0;
    const int64_t available = FreeBytes(file->partPath);
    if (available >= 0 && size - held > available) {
        transfer->writeErrno = ENOSPC;
        return false;
    }
    if (fallocate(file->fd, 0, 0, size) != 0 && errno != EOPNOTSUPP && errno != ENOSYS) {
        transfer->writeErrno = errno;
        return false;
    }
    return true;
}

size_t CEngine::Body(Transfer* transfer, const char* data, size_t length)
{
    if (transfer->span < 0) {
        // A size probe: the headers told everything. The one byte of a range
        // answer is read, so that its connection stays open for the
        // transfers; a whole file (the server ignored the range) is not.
        transfer->probeBytes += length;
        return transfer->status == 206 && transfer->probeBytes <= 1 ? length : 0;
    }
    if (!transfer->checked) {
        transfer->checked = true;
        if (!CheckResponse(transfer)) return 0;
    }
    if (transfer->discard) return length;
    if (transfer->writeErrno) return 0;
    FileTask* file = transfer->file;
    const Span& span = file->spans[static_cast<size_t>(transfer->span)];
    const int64_t room = span.end - transfer->pos;
    size_t take = length;
    if (static_cast<int64_t>(take) > room) take = static_cast<size_t>(std::max<int64_t>(room, 0));
    const size_t blockSize = kWriteBlock;
    if (!transfer->block) transfer->block = std::make_unique_for_overwrite<unsigned char[]>(blockSize);
    for (size_t copied = 0; copied < take;) {
        // The first block of a range ends at the next block boundary.
        const int64_t blockStart = transfer->pos - static_cast<int64_t>(transfer->fill);
        const size_t limit = blockSize - static_cast<size_t>(blockStart % static_cast<int64_t>(blockSize));
        const size_t n = std::min(take - copied, limit - transfer->fill);
        memcpy(transfer->block.get() + transfer->fill, data + copied, n);
        transfer->fill += n;
        transfer->pos += static_cast<int64_t>(n);
        copied += n;
        if (transfer->fill == limit && !WriteOut(transfer)) return 0;
    }
    if (take < length && transfer->status == 200) {
        // A whole-file answer longer than the file (a body that ends only
        // at the close, or in its last chunk): not the file.
        transfer->overrun = true;
        return 0;
    }
    if (take < length || transfer->pos >= span.end) {
        // The range ends here (another connection took the rest).
        transfer->reachedEnd = true;
        if (!WriteOut(transfer)) return 0;
        return take < length ? 0 : length;
    }
    return length;
}

bool CEngine::WriteOut(Transfer* transfer)
{
    if (transfer->fill == 0) return transfer->writeErrno == 0;
    FileTask* file = transfer->file;
    Span& span = file->spans[static_cast<size_t>(transfer->span)];
    const int64_t at = transfer->pos - static_cast<int64_t>(transfer->fill);
    size_t written = 0;
    while (written < transfer->fill) {
        const ssize_t n = pwrite(file->fd, transfer->block.get() + written, transfer->fill - written,
                                 at + static_cast<int64_t>(written));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            transfer->writeErrno = n < 0 ? errno : EIO;
            break;
        }
        written += static_cast<size_t>(n);
    }
    // Only bytes on disk count as done: the control file never claims more.
    span.done += static_cast<int64_t>(written);
    transfer->pos = at + static_cast<int64_t>(written);
    transfer->fill = 0;
    return transfer->writeErrno == 0;
}

void CEngine::FinishTransfer(Transfer* transfer, int curlResult)
{
    Curl().multi_remove_handle(m_multi, transfer->easy);
    // Cancelled earlier: its span and counters were released then.
    if (transfer->cancelled) return;
    transfer->cancelled = true; // swept after this round
    FileTask* file = transfer->file;
    if (transfer->span < 0) return OnProbeDone(transfer, curlResult);
    if (file->state != FileTask::Running) return;
    if (!transfer->checked && (transfer->status == 200 || transfer->status == 206)) {
        // An answer without a body byte is judged as well (its length may
        // contradict the size); it may lay the spans out anew.
        transfer->checked = true;
        CheckResponse(transfer);
    }
    WriteOut(transfer);
    transfer->block.reset();
    Span& span = file->spans[static_cast<size_t>(transfer->span)];
    span.active = nullptr;
    --file->active;
    const double now = Now();
    if (transfer->writeErrno) {
        if (transfer->writeErrno == ENOSPC || transfer->writeErrno == EDQUOT)
            return DiskFull(file->job, file->finalPath);
        return FailFile(file);
    }
    file->cause.clear();
    if (transfer->claimedSize >= 0 || transfer->overrun) {
        // A body that ran past the size wrote into its span from byte 0
        // (a whole-file answer); none of it counts. The others wrote nothing.
        if (transfer->overrun) span.done = 0;
        file->cause = transfer->overrun ? SizeOverrun(file->size) : SizeContradiction(transfer->claimedSize, file->size);
        return PieceFailed(file, transfer, false, -1, now);
    }
    if (transfer->restartFile) {
        if (++file->restarts > kMaxRestarts) return PieceFailed(file, transfer, true, -1, now);
        file->etag.clear();
        file->lastModified.clear();
        return RestartFile(file);
    }
    const long status = transfer->status;
    if (status >= 300 || (curlResult == CURLE_OK && status < 200)) {
        const bool permanent = status >= 400 && status < 500 && status != 408 && status != 429;
        return PieceFailed(file, transfer, permanent, transfer->retryAfter, now);
    }
    // An answer that cannot be trusted was refused before its first byte
    // was written: the range is asked again.
    if (transfer->badResponse) return PieceFailed(file, transfer, false, -1, now);
    if (span.end == kOpenEnd && curlResult == CURLE_OK) {
        // The whole body of unknown length is in.
        span.end = span.start + span.done;
        file->size = span.end;
        if (ftruncate(file->fd, file->size) != 0) return FailFile(file);
    }
    if (span.done >= span.end - span.start) {
        file->attempts = 0;
        for (const Span& other : file->spans)
            if (other.done < other.end - other.start) return;
        return CompleteFile(file);
    }
    if (curlResult == CURLE_OK && transfer->status == 200 && transfer->contentLength < 0) {
        // A body that ends only at the close ended short of the file's size:
        // a cut, or another file; never the file.
        file->cause = SizeContradiction(span.done, file->size);
        return PieceFailed(file, transfer, false, -1, now);
    }
    if (curlResult == CURLE_OK && transfer->status == 206 && transfer->rangeLast >= transfer->rangeStart &&
        span.start + span.done == transfer->rangeLast + 1)
        // A legal 206 that covers less than was asked: the rest is asked
        // for at once, and this was no failed attempt.
        return;
    // A server that cannot prove who it is will not on the next attempt either.
    const bool permanent = curlResult == CURLE_TOO_MANY_REDIRECTS || curlResult == CURLE_UNSUPPORTED_PROTOCOL ||
                           curlResult == CURLE_URL_MALFORMAT || curlResult == CURLE_PEER_FAILED_VERIFICATION;
    PieceFailed(file, transfer, permanent, -1, now);
}

void CEngine::OnProbeDone(Transfer* transfer, int)
{
    FileTask* file = transfer->file;
    if (file->state != FileTask::Probing) return;
    const bool answered = (transfer->status == 200 || transfer->status == 206) && !transfer->badResponse;
    if (!answered && file->urlIndex + 1 < file->urls.size()) {
        ++file->urlIndex;
        return StartProbe(file);
    }
    // No alternative answered: the download itself will try them all again.
    if (!answered) file->urlIndex = 0;
    file->state = FileTask::Waiting;
    if (transfer->status == 206 && transfer->rangeTotal > 0) file->size = transfer->rangeTotal;
    else if (transfer->status == 200 && transfer->contentLength > 0) file->size = transfer->contentLength;
    // A server that answers a range with the whole file gets one connection.
    if (transfer->status == 200) file->singleStream = true;
    // A probe that learnt nothing leaves the size unknown; the download
    // itself then tries the alternatives.
    AcceptOnceProbed(file->job);
}

void CEngine::AcceptOnceProbed(Job* job)
{
    for (auto& other : job->files)
        if (other->state == FileTask::Probing) return;
    if (job->state == Job::Probing) AcceptJob(job);
}

void CEngine::PieceFailed(FileTask* file, Transfer*, bool permanent, long retryAfter, double now)
{
    // A pause longer than the file may go without data is not waited for.
    if (retryAfter > SilenceSeconds()) permanent = true;
    if (!permanent) {
        ++file->attempts;
        if (file->attempts <= kMaxAttemptsPerUrl) {
            const double backoff = std::min(0.25 * (1 << std::max(file->attempts - 1, 0)), 8.0);
            file->retryAt = now + (retryAfter >= 0 ? static_cast<double>(retryAfter) : backoff);
            return;
        }
    }
    // This alternative is done for; bytes from another server are not mixed
    // with its bytes, so the next one starts the file over.
    AbortTransfers(file, nullptr);
    if (++file->urlIndex >= file->urls.size()) return FailFile(file);
    file->attempts = 0;
    file->restarts = 0;
    file->retryAt = now;
    if (file->Present() > 0 || !file->etag.empty() || !file->lastModified.empty()) {
        file->etag.clear();
        file->lastModified.clear();
        RestartFile(file);
    }
}

void CEngine::RestartFile(FileTask* file)
{
    AbortTransfers(file, nullptr);
    DropControl(file);
    file->resumed = false;
    if (file->fd >= 0) close(file->fd);
    file->fd = -1;
    if (!OpenPart(file, true)) {
        if (errno == ENOSPC || errno == EDQUOT) return DiskFull(file->job, file->finalPath);
        return FailFile(file);
    }
    SaveControl(file);
}

void CEngine::CompleteFile(FileTask* file)
{
    // Connections that wrote their last byte but have not ended yet.
    AbortTransfers(file, nullptr);
    ForgetFlush(file);
    close(file->fd);
    file->fd = -1;
    if (rename(file->partPath.c_str(), file->finalPath.c_str()) != 0) return FailFile(file);
    unlink(file->controlPath.c_str());
    file->state = FileTask::Done;
    Job* job = file->job;
    ++job->filesDone;
    vqLOCALFILEDONE record{};
    record.jobNumber = job->number;
    record.taskNumber = job->task;
    snprintf(record.id, sizeof record.id, "%d", file->index);
    snprintf(record.localPath, sizeof record.localPath, "%s", file->finalPath.c_str());
    record.source = file->urls[file->urlIndex].c_str();
    Send(job->client, kLocalFileDone, nwCDNLocalCodec::EncodeFileDone(record));
    CheckJobEnd(job);
}

void CEngine::FailFile(FileTask* file)
{
    AbortTransfers(file, nullptr);
    if (file->state == FileTask::Running) SaveControl(file);
    file->state = FileTask::Failed;
    if (!file->cause.empty()) {
        const std::string text = file->finalPath + ": " + file->cause;
        vqLOCALJOBERROR record{};
        record.jobNumber = file->job->number;
        record.taskNumber = file->job->task;
        record.kind = kLocalErrorTransfer;
        record.text = text.c_str();
        Send(file->job->client, kLocalJobError, nwCDNLocalCodec::EncodeJobError(record));
    }
    // The job cannot complete here: the client falls back to its plain path.
    FinishJob(file->job, 1);
}

void CEngine::CheckJobEnd(Job* job)
{
    for (auto& file : job->files)
        if (file->state != FileTask::Done) return;
    ReportProgress(job, Now());
    FinishJob(job, 0);
}

void CEngine::Tick(double now)
{
    const bool online = Online();
    if (online != m_online) {
        m_online = online;
        for (auto& client : m_clients) {
            bool running = false;
            for (auto& job : m_jobs) running |= job->client == client.get() && job->state != Job::Ended;
            if (running) Send(client.get(), online ? kLocalNetworkRestored : kLocalNetworkLost,
                              nwCDNLocalCodec::EncodeNetworkNotice(vqLOCALNETWORKNOTICE{}));
        }
    }
    for (auto& job : m_jobs) {
        if (job->state == Job::Probing) {
            // Probes that found no data in the file's bound end; the job is
            // accepted and then given up below, on the next tick.
            bool ended = false;
            for (auto& file : job->files) {
                if (file->state != FileTask::Probing || now - file->quietSince < SilenceSeconds()) continue;
                AbortTransfers(file.get(), nullptr);
                file->urlIndex = 0;
                file->state = FileTask::Waiting;
                ended = true;
            }
            if (ended) AcceptOnceProbed(job.get());
            continue;
        }
        if (job->state != Job::Running) continue;
        ReportProgress(job.get(), now);
        // A file done within its first second never needs a control file:
        // without one, a crash only means starting that file over.
        for (auto& file : job->files) {
            if (file->state != FileTask::Running) continue;
            // Its clock runs while it waits for a server: a connection or a
            // retry. A file queued behind others waits for nobody.
            if (file->rate > 0 || (file->active == 0 && now >= file->retryAt)) file->quietSince = now;
            if (now - file->quietSince >= SilenceSeconds()) {
                // No server gave it data for its whole bound: the job ends here.
                FailFile(file.get());
                break;
            }
            if (now - file->runningSince >= 1.0) StartFlush(file.get());
            Widen(file.get(), now);
        }
    }
}

void CEngine::Widen(FileTask* file, double now)
{
    const int64_t present = file->Present();
    // Only a file that has used all its connections for the whole last
    // interval shows what they can do.
    if (file->widenSince >= 0 && file->active >= file->allowed && file->allowed < kMaxConnectionsPerFile &&
        now > file->widenSince) {
        const double perConnection =
            static_cast<double>(present - file->widenPresent) / (now - file->widenSince) / file->active;
        if (perConnection < kFastConnection) file->allowed = std::min(file->allowed * 2, kMaxConnectionsPerFile);
    }
    file->widenSince = file->active >= file->allowed ? now : -1;
    file->widenPresent = present;
}
