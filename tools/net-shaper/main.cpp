// zdr-net-shaper: a slow network between a client and a server on 127.0.0.1,
// for tests and benchmarks on machines without a traffic shaper.
//
//   zdr-net-shaper --to PORT [--port PORT] [--delay MS] [--up-delay MS]
//                  [--down-delay MS] [--rate RATE] [--total-rate RATE]
//                  [--window BYTES]
//
// Listens on 127.0.0.1 (--port, 0 or absent: a port the kernel picks, named
// on stderr as "listening on 127.0.0.1:PORT") and forwards every connection to
// 127.0.0.1:--to. Bytes from the client reach the server --up-delay ms after
// the shaper read them, and bytes from the server reach the client
// --down-delay ms after (--delay sets both); a connection's first bytes wait
// one round trip more, as a TCP handshake costs. --rate caps each connection
// and --total-rate all of them together, each direction on its own (RATE in
// bytes per second, with k or m for KiB or MiB). At most --window bytes
// (default 4 MiB) wait in each direction of a connection; past that the
// shaper stops reading from the sender, so one connection carries at most
// --window bytes per one-way delay, as a TCP window does. An end of stream is
// passed on after the same delay; a reset is passed on at once.
// Single-threaded: one epoll loop; SIGTERM or SIGINT ends it with status 0.

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Duration = std::chrono::nanoseconds;

constexpr size_t kDefaultWindow = 4u * 1024 * 1024;
// The most one read or one write moves: large enough that 1 GiB/s costs a
// few thousand system calls a second.
constexpr size_t kMaxStep = 1024u * 1024;
// A capped direction sends in pieces of at most this much, so the pacing is
// even within a second.
constexpr size_t kCappedStep = 64u * 1024;
// How far a capped direction may fall behind its schedule and catch up: a
// late wake-up costs no rate, a long idle spell earns no burst.
constexpr auto kPacingSlack = std::chrono::milliseconds(20);
constexpr int kMaxEvents = 128;

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

struct Options {
    uint16_t port = 0;
    uint16_t to = 0;
    Duration upDelay{0};
    Duration downDelay{0};
    uint64_t rate = 0;      // bytes per second per connection and direction; 0: none
    uint64_t totalRate = 0; // bytes per second of all connections per direction; 0: none
    size_t window = kDefaultWindow;
};

// When a capped flow may send next, and how sending moves that moment on.
class Pacer {
public:
    explicit Pacer(uint64_t bytesPerSecond = 0) : m_rate(bytesPerSecond) {}
    bool Capped() const { return m_rate != 0; }
    Clock::time_point ReadyAt() const { return m_next; }
    void Spend(size_t bytes, Clock::time_point now)
    {
        if (!Capped()) return;
        m_next = std::max(m_next, now - kPacingSlack) +
                 Duration(static_cast<int64_t>(bytes * 1000000000ull / m_rate));
    }

private:
    uint64_t m_rate;
    Clock::time_point m_next{};
};

// One endpoint socket of a forwarded connection, as epoll reports it.
struct Side {
    int fd = -1;
    bool readable = false;
    bool writable = false;
};

// The bytes travelling one way: a ring of --window bytes and, in order, when
// each run of them may be delivered.
struct Direction {
    struct Run {
        Clock::time_point due;
        size_t bytes;
    };
    std::unique_ptr<char[]> ring;
    size_t capacity = 0;
    size_t head = 0; // first byte not yet delivered
    size_t used = 0;
    uint64_t moved = 0; // bytes read in plus bytes delivered, ever
    std::deque<Run> runs;
    bool endRead = false;           // the sender closed its side
    Clock::time_point endDue{};     // when that close reaches the receiver
    bool endPassed = false;
    Duration delay{0};
    Pacer pacer;
};

struct Connection {
    Side client;
    Side server;
    bool connected = false;       // the connection to the server is up
    Clock::time_point openAt{};   // a handshake's round trip after the accept
    Direction up;                 // client to server
    Direction down;               // server to client
    bool dead = false;
};

uint64_t ParseRate(const char* text)
{
    char* end = nullptr;
    const double value = strtod(text, &end);
    double scale = 1;
    if (*end == 'k' || *end == 'K') scale = 1024, ++end;
    else if (*end == 'm' || *end == 'M') scale = 1024.0 * 1024, ++end;
    if (*end != '\0' || value <= 0) return 0;
    return static_cast<uint64_t>(value * scale);
}

bool ParseOptions(int argc, char** argv, Options* options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help") return false;
        if (i + 1 >= argc) {
            fprintf(stderr, "zdr-net-shaper: %s needs a value\n", name.c_str());
            return false;
        }
        const char* value = argv[++i];
        const auto ms = [&] { return Duration(std::chrono::milliseconds(atoll(value))); };
        if (name == "--port") options->port = static_cast<uint16_t>(atoi(value));
        else if (name == "--to") options->to = static_cast<uint16_t>(atoi(value));
        else if (name == "--delay") options->upDelay = options->downDelay = ms();
        else if (name == "--up-delay") options->upDelay = ms();
        else if (name == "--down-delay") options->downDelay = ms();
        else if (name == "--rate" && (options->rate = ParseRate(value)) != 0) continue;
        else if (name == "--total-rate" && (options->totalRate = ParseRate(value)) != 0) continue;
        else if (name == "--window" && (options->window = ParseRate(value)) != 0) continue;
        else {
            fprintf(stderr, "zdr-net-shaper: bad option %s %s\n", name.c_str(), value);
            return false;
        }
    }
    if (options->to == 0) {
        fprintf(stderr, "zdr-net-shaper: --to names the server's port\n");
        return false;
    }
    return true;
}

void PrintUsage()
{
    fprintf(stderr, "usage: zdr-net-shaper --to PORT [--port PORT] [--delay MS] [--up-delay MS] "
                    "[--down-delay MS] [--rate RATE] [--total-rate RATE] [--window BYTES]\n");
}

class Shaper {
public:
    explicit Shaper(const Options& options)
        : m_options(options), m_upTotal(options.totalRate), m_downTotal(options.totalRate)
    {
    }

    bool Listen()
    {
        m_epoll = epoll_create1(EPOLL_CLOEXEC);
        m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        int yes = 1;
        setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address = Loopback(m_options.port);
        if (bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(m_listener, 512) != 0) {
            fprintf(stderr, "zdr-net-shaper: cannot listen on 127.0.0.1:%u: %s\n", m_options.port, strerror(errno));
            return false;
        }
        socklen_t length = sizeof address;
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.ptr = nullptr;
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listener, &event);
        fprintf(stderr, "listening on 127.0.0.1:%u\n", ntohs(address.sin_port));
        fflush(stderr);
        return true;
    }

    void Run()
    {
        epoll_event events[kMaxEvents];
        while (!g_stop) {
            const int count = epoll_wait(m_epoll, events, kMaxEvents, TimeoutMs());
            if (count < 0 && errno != EINTR) {
                fprintf(stderr, "zdr-net-shaper: epoll_wait: %s\n", strerror(errno));
                return;
            }
            for (int i = 0; i < count; ++i) {
                if (!events[i].data.ptr) {
                    Accept();
                    continue;
                }
                Side* side = static_cast<Side*>(events[i].data.ptr);
                if (events[i].events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) side->readable = true;
                if (events[i].events & (EPOLLOUT | EPOLLHUP | EPOLLERR)) side->writable = true;
            }
            const auto now = Clock::now();
            for (auto& connection : m_connections) Pump(connection, now);
            m_connections.remove_if([](const Connection& c) { return c.dead; });
            // Round robin: under a cap for all connections, the first to be
            // pumped would otherwise take every slot the cap frees.
            if (m_connections.size() > 1)
                m_connections.splice(m_connections.end(), m_connections, m_connections.begin());
        }
    }

private:
    static sockaddr_in Loopback(uint16_t port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }

    void Watch(Side& side)
    {
        epoll_event event{};
        event.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
        event.data.ptr = &side;
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, side.fd, &event);
    }

    void Accept()
    {
        for (;;) {
            const int client = accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (client < 0) return;
            const int server = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            const sockaddr_in address = Loopback(m_options.to);
            if (server < 0 ||
                (connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
                 errno != EINPROGRESS)) {
                if (server >= 0) close(server);
                close(client);
                continue;
            }
            int yes = 1;
            setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
            setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
            Connection& c = m_connections.emplace_back();
            c.client.fd = client;
            c.server.fd = server;
            c.openAt = Clock::now() + m_options.upDelay + m_options.downDelay;
            Prepare(c.up, m_options.upDelay);
            Prepare(c.down, m_options.downDelay);
            Watch(c.client);
            Watch(c.server);
        }
    }

    void Prepare(Direction& direction, Duration delay) const
    {
        direction.capacity = m_options.window;
        direction.delay = delay;
        direction.pacer = Pacer(m_options.rate);
    }

    // Everything a connection can do now: finish connecting, read what its
    // windows have room for, deliver what is due, pass on closes.
    void Pump(Connection& c, Clock::time_point now)
    {
        if (!c.connected) {
            if (!c.server.writable) return;
            int error = 0;
            socklen_t length = sizeof error;
            getsockopt(c.server.fd, SOL_SOCKET, SO_ERROR, &error, &length);
            if (error != 0) return Drop(c, true);
            c.connected = true;
        }
        if (!Move(c, c.client, c.server, c.up, m_upTotal, now) ||
            !Move(c, c.server, c.client, c.down, m_downTotal, now))
            return Drop(c, true);
        if (c.up.endPassed && c.down.endPassed) Drop(c, false);
    }

    // Reads and delivers until neither moves a byte: a delivery that makes
    // room must lead to a read at once, as no event will come for bytes that
    // already wait in the socket. False when either socket failed: the
    // connection is to be reset.
    bool Move(const Connection& c, Side& from, Side& to, Direction& d, Pacer& total, Clock::time_point now)
    {
        for (;;) {
            const uint64_t before = d.moved;
            if (!ReadIn(c, from, d, now) || !SendOut(to, d, total, now)) return false;
            if (d.moved == before) break;
        }
        if (d.endRead && !d.endPassed && d.used == 0 && d.endDue <= now) {
            shutdown(to.fd, SHUT_WR);
            d.endPassed = true;
        }
        return true;
    }

    // Reads what the window has room for.
    bool ReadIn(const Connection& c, Side& from, Direction& d, Clock::time_point now)
    {
        while (from.readable && !d.endRead && d.used < d.capacity) {
            if (!d.ring) d.ring.reset(new char[d.capacity]);
            const size_t tail = (d.head + d.used) % d.capacity;
            const size_t room = std::min({d.capacity - d.used, d.capacity - tail, kMaxStep});
            const ssize_t n = read(from.fd, d.ring.get() + tail, room);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                from.readable = errno == EINTR;
                continue;
            }
            if (n < 0) return false;
            const auto due = std::max(now, c.openAt) + d.delay;
            if (n == 0) {
                d.endRead = true;
                d.endDue = due;
                break;
            }
            if (!d.runs.empty() && d.runs.back().due == due) d.runs.back().bytes += static_cast<size_t>(n);
            else d.runs.push_back({due, static_cast<size_t>(n)});
            d.used += static_cast<size_t>(n);
            d.moved += static_cast<size_t>(n);
        }
        return true;
    }

    // Delivers what is due, as far as the caps allow.
    bool SendOut(Side& to, Direction& d, Pacer& total, Clock::time_point now)
    {
        while (to.writable && !d.runs.empty() && d.runs.front().due <= now && d.pacer.ReadyAt() <= now &&
               total.ReadyAt() <= now) {
            size_t step = std::min({d.runs.front().bytes, d.capacity - d.head, kMaxStep});
            if (d.pacer.Capped() || total.Capped()) step = std::min(step, kCappedStep);
            const ssize_t n = send(to.fd, d.ring.get() + d.head, step, MSG_NOSIGNAL);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                to.writable = errno == EINTR;
                continue;
            }
            if (n < 0) return false;
            const size_t sent = static_cast<size_t>(n);
            d.head = (d.head + sent) % d.capacity;
            d.used -= sent;
            d.moved += sent;
            d.runs.front().bytes -= sent;
            if (d.runs.front().bytes == 0) d.runs.pop_front();
            d.pacer.Spend(sent, now);
            total.Spend(sent, now);
        }
        return true;
    }

    // Closes both sockets; with reset, so that each peer sees a reset rather
    // than an orderly end it might take for a complete answer.
    void Drop(Connection& c, bool reset)
    {
        for (Side* side : {&c.client, &c.server}) {
            if (reset) {
                linger hard{1, 0};
                setsockopt(side->fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            }
            close(side->fd);
        }
        c.dead = true;
    }

    // Until the next moment a delay or a cap lets something move; -1 when
    // only the sockets can wake the loop.
    int TimeoutMs() const
    {
        const auto now = Clock::now();
        auto next = Clock::time_point::max();
        const auto consider = [&](const Direction& d, const Side& to, const Pacer& total) {
            if (!d.runs.empty() && to.writable)
                next = std::min(next, std::max({d.runs.front().due, d.pacer.ReadyAt(), total.ReadyAt()}));
            if (d.endRead && !d.endPassed && d.used == 0) next = std::min(next, d.endDue);
        };
        for (const auto& c : m_connections) {
            if (!c.connected) continue;
            consider(c.up, c.server, m_upTotal);
            consider(c.down, c.client, m_downTotal);
        }
        if (next == Clock::time_point::max()) return -1;
        if (next <= now) return 0;
        // Rounded up: waking early would only spin.
        return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(next - now).count());
    }

    Options m_options;
    int m_epoll = -1;
    int m_listener = -1;
    std::list<Connection> m_connections;
    Pacer m_upTotal;
    Pacer m_downTotal;
};

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        PrintUsage();
        return 2;
    }
    struct sigaction action{};
    action.sa_handler = OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    Shaper shaper(options);
    if (!shaper.Listen()) return 1;
    shaper.Run();
    return 0;
}
