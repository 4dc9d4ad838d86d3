// ZDRDownloadV32.exe: the download engine. Started without parameters; the
// client reaches it on 127.0.0.1 (port 38006, or ZDR_ENGINE_PORT).
//
//   --version   print the version and exit
//
// Exit codes: 0 after SIGTERM/SIGINT, after 60 s idle, or when our engine
// already serves this port (after the readiness line: the engine the client
// wants is there); 1 when the port is held by another program or the engine
// cannot start. ZDR_ENGINE_IDLE_SECONDS shortens the idle time,
// and ZDR_ENGINE_STALL_SECONDS the 30 s a transfer may stall, for tests.

#include "enginebin/CCertificateNameCheck.h"
#include "enginebin/CEngine.h"
#include "enginebin/CurlApi.h"
#include "platform/ShellExecute.h"
#include "platform/UserFolders.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

uint16_t EnginePort()
{
    const char* text = getenv("ZDR_ENGINE_PORT");
    if (!text || !*text) return kLocalEnginePort;
    char* end = nullptr;
    const long port = strtol(text, &end, 10);
    return *end == 0 && port > 0 && port < 65536 ? static_cast<uint16_t>(port) : kLocalEnginePort;
}

int IdleExitSeconds()
{
    const char* text = getenv("ZDR_ENGINE_IDLE_SECONDS");
    if (!text || !*text) return CEngine::kIdleExitSeconds;
    char* end = nullptr;
    const long seconds = strtol(text, &end, 10);
    return *end == 0 && seconds > 0 && seconds <= CEngine::kIdleExitSeconds ? static_cast<int>(seconds)
                                                                             : CEngine::kIdleExitSeconds;
}

// The readiness descriptor the starter gave us (-1: none); it gets one line,
// "ready PORT" or "failed WHY".
int TakeReadyFd()
{
    const char* text = getenv("ZDR_READY_FD");
    const int fd = text && *text ? atoi(text) : -1;
    unsetenv("ZDR_READY_FD");
    return fd;
}

void SayOnReadyFd(int* fd, const std::string& line)
{
    if (*fd < 0) return;
    if (write(*fd, line.data(), line.size()) < 0) perror("ZDR_READY_FD");
    close(*fd);
    *fd = -1;
}

// An engine that cannot serve says why on standard error and to its starter,
// whose activity log keeps the cause.
int Fail(int* readyFd, const std::string& why)
{
    fprintf(stderr, "ZDRDownloadV32: %s\n", why.c_str());
    SayOnReadyFd(readyFd, std::string(kNotReadyPrefix) + why + "\n");
    return 1;
}

// One engine per user and port: the lock is held for the engine's life. It
// lives where nobody else can make, hold or replace it. -1: our engine holds
// it; -2: no lock can be had (*why says why).
int TakeInstanceLock(uint16_t port, std::string* why)
{
    const std::string folder = PrivateRuntimeFolder(why);
    if (folder.empty()) {
        *why = "no private folder for the instance lock: " + *why;
        return -2;
    }
    const std::string path =
        folder + "ZDRDownloadV32-" + std::to_string(geteuid()) + "-" + std::to_string(port) + ".lock";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        *why = "instance lock " + path + ": " + strerror(errno);
        return -2;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void SignalReady(int* readyFd, uint16_t port)
{
    SayOnReadyFd(readyFd, "ready " + std::to_string(port) + "\n");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && strcmp(argv[1], "--version") == 0) {
        printf("ZDRDownloadV32 %s\n", ZDR_ENGINE_VERSION);
        return 0;
    }
    const uint16_t port = EnginePort();
    int readyFd = TakeReadyFd();
    std::string why;
    const int lock = TakeInstanceLock(port, &why);
    if (lock == -1) {
        // Our engine already serves this port: the client may use it.
        SignalReady(&readyFd, port);
        return 0;
    }
    if (lock < 0) return Fail(&readyFd, why);
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int yes = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 64) != 0)
        return Fail(&readyFd, "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + strerror(errno));
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigprocmask(SIG_BLOCK, &stops, nullptr);
    signal(SIGPIPE, SIG_IGN);
    const int signals = signalfd(-1, &stops, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signals < 0) return Fail(&readyFd, std::string("signalfd: ") + strerror(errno));
    // Clients may connect from here on; they are served once libcurl is in,
    // and meanwhile the one that started us goes on with its own work.
    SignalReady(&readyFd, port);
    if (!CurlApi::Load(&why) || !CCertificateNameCheck::Load(&why)) {
        fprintf(stderr, "ZDRDownloadV32: %s\n", why.c_str());
        return 1;
    }
    if (Curl().global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        fprintf(stderr, "ZDRDownloadV32: cannot start libcurl\n");
        return 1;
    }
    int result = 0;
    {
        CEngine engine(listener, port, signals, IdleExitSeconds());
        result = engine.Run();
    }
    Curl().global_cleanup();
    close(signals);
    close(listener);
    close(lock);
    return result;
}
