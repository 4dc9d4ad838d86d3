// zdr-soak: many small jobs one after another, then one large one, through
// the service's flat interface (service/DlApi.h) in one process, watching
// what the process holds: resident memory, open descriptors (sockets among
// them), threads, and the activity log's size. bench/soak/soak drives it
// against a private nginx; the figures go to standard output as
// "key value" lines.
//
//   zdr-soak --small-base URL --small-files N --jobs N --folder DIR
//            [--big-url URL --big-size BYTES] [--timeout SECONDS]
//
// Small job i fetches SMALL-BASE/f<i mod N>.bin into DIR as soak-<i>.bin,
// checks its size against the server's file (given by --small-size) and
// removes it. Every wait is bounded by --timeout (default 120 s per job; the
// large job gets the same per GiB).

#include "engine/ActivityLog.h"
#include "service/DlApi.h"

#include <dirent.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Event {
    int code;
    int param;
};

std::mutex g_mutex;
std::condition_variable g_wake;
std::deque<Event> g_events;

void OnEvent(int code, int param, const void*)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_events.push_back({code, param});
    g_wake.notify_one();
}

bool NextEvent(Event* event, std::chrono::milliseconds wait)
{
    std::unique_lock<std::mutex> lock(g_mutex);
    if (!g_wake.wait_for(lock, wait, [] { return !g_events.empty(); })) return false;
    *event = g_events.front();
    g_events.pop_front();
    return true;
}

long StatusKb(const char* key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t length = strlen(key);
    while (std::getline(status, line))
        if (line.compare(0, length, key) == 0) return atol(line.c_str() + length);
    return -1;
}

// Entries of a /proc folder; with sockets, the descriptors that are sockets.
int CountEntries(const char* folder, int* sockets = nullptr)
{
    DIR* dir = opendir(folder);
    if (!dir) return -1;
    int count = 0;
    if (sockets) *sockets = 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        ++count;
        if (!sockets) continue;
        char link[256];
        const std::string path = std::string(folder) + "/" + entry->d_name;
        const ssize_t n = readlink(path.c_str(), link, sizeof link - 1);
        if (n > 0 && std::string(link, static_cast<size_t>(n)).rfind("socket:", 0) == 0) ++*sockets;
    }
    closedir(dir);
    return count - 1; // the directory's own descriptor
}

struct Sample {
    long rssKb;
    // Bytes the allocator has handed out and not had back: growth here is
    // something held, growth of the resident size alone is fragmentation.
    long heapKb;
    int fds;
    int sockets;
    int threads;
    long long logBytes;
};

std::string g_logPath;

Sample Take()
{
    Sample sample{};
    sample.rssKb = StatusKb("VmRSS:");
    sample.heapKb = static_cast<long>(mallinfo2().uordblks / 1024);
    sample.fds = CountEntries("/proc/self/fd", &sample.sockets);
    sample.threads = CountEntries("/proc/self/task") + 1;
    struct stat info{};
    sample.logBytes = stat(g_logPath.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : 0;
    return sample;
}

long long FileSize(const std::string& path)
{
    struct stat info{};
    return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

// Runs one job of one file to its end. Empty answer: done; else why not.
std::string RunJob(const std::string& url, const std::string& folder, const std::string& name, int timeoutSeconds,
                   std::vector<long>* rssDuring = nullptr)
{
    int job = 0;
    if (DlCreateJob(&job, nullptr, nullptr) != DL_OK) return "DlCreateJob failed";
    if (DlAddJobFile(job, url.c_str(), folder.c_str(), name.c_str(), 0xFFFFFFFFu, -1, 1) != DL_OK) {
        DlRemoveJob(job);
        return "DlAddJobFile failed";
    }
    if (DlStartJob(job, 1) != DL_OK) {
        DlRemoveJob(job);
        return "DlStartJob failed";
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    std::string outcome = "timed out";
    while (std::chrono::steady_clock::now() < deadline) {
        Event event{};
        if (!NextEvent(&event, std::chrono::milliseconds(1000))) {
            if (rssDuring) rssDuring->push_back(StatusKb("VmRSS:"));
            continue;
        }
        if (event.param != job) continue;
        if (event.code == DL_EVENT_JOB_PROGRESS && rssDuring) rssDuring->push_back(StatusKb("VmRSS:"));
        if (event.code == DL_EVENT_JOB_COMPLETE) {
            DlJobResult result{};
            DlGetJobResult(job, &result);
            outcome.clear();
            break;
        }
        if (event.code == DL_EVENT_NOTICE) {
            DlNotice notice{DL_NOTICE_NONE, nullptr};
            DlPopJobNotice(job, &notice);
            if (notice.code == DL_NOTICE_DOWNLOAD_FAILED || notice.code == DL_NOTICE_DISK_FULL) {
                outcome = "notice " + std::to_string(notice.code);
                break;
            }
        }
        if (event.code == DL_EVENT_ASK_RESUME) DlAnswerResume(job, 0, 1);
        if (event.code == DL_EVENT_FILE_DONE) {
            DlFileDone done{};
            DlPopJobFileDone(job, &done);
        }
    }
    DlStopJob(job);
    DlRemoveJob(job);
    return outcome;
}

// Waits up to seconds for the descriptors, sockets and threads to come back
// to the baseline (connections close and threads end a little after a job).
Sample Settle(const Sample& baseline, int seconds)
{
    Sample now = Take();
    for (int i = 0; i < seconds * 10; ++i) {
        if (now.fds <= baseline.fds && now.sockets <= baseline.sockets && now.threads <= baseline.threads) break;
        usleep(100 * 1000);
        now = Take();
    }
    return now;
}

long Max(const std::vector<long>& values, size_t from, size_t to)
{
    long best = 0;
    for (size_t i = from; i < to && i < values.size(); ++i) best = std::max(best, values[i]);
    return best;
}

void Print(const char* key, long long value)
{
    printf("%s %lld\n", key, value);
    fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    std::string smallBase, folder, bigUrl;
    int smallFiles = 10, jobs = 2000, timeout = 120;
    long long smallSize = -1, bigSize = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char* value = argv[i + 1];
        if (key == "--small-base") smallBase = value;
        else if (key == "--small-files") smallFiles = atoi(value);
        else if (key == "--small-size") smallSize = atoll(value);
        else if (key == "--jobs") jobs = atoi(value);
        else if (key == "--folder") folder = value;
        else if (key == "--big-url") bigUrl = value;
        else if (key == "--big-size") bigSize = atoll(value);
        else if (key == "--timeout") timeout = atoi(value);
        else {
            fprintf(stderr, "zdr-soak: unknown option %s\n", key.c_str());
            return 2;
        }
    }
    if (smallBase.empty() || folder.empty() || smallFiles <= 0 || jobs < 0) {
        fprintf(stderr, "usage: zdr-soak --small-base URL --small-files N --small-size BYTES --jobs N --folder DIR "
                        "[--big-url URL --big-size BYTES] [--timeout SECONDS]\n");
        return 2;
    }
    if (folder.back() != '/') folder += '/';
    char logPath[4096];
    LogPath(logPath, sizeof logPath);
    g_logPath = logPath;

    const Sample before = Take();
    if (DlInitialize(nullptr, &OnEvent, nullptr) != DL_OK) {
        fprintf(stderr, "zdr-soak: DlInitialize failed\n");
        return 1;
    }
    const Sample started = Take();
    Print("before_init_fds", before.fds);
    Print("before_init_threads", before.threads);
    Print("baseline_fds", started.fds);
    Print("baseline_sockets", started.sockets);
    Print("baseline_threads", started.threads);
    Print("baseline_rss_kb", started.rssKb);
    Print("baseline_log_bytes", started.logBytes);

    std::vector<long> rss;
    std::vector<long> heap;
    std::vector<double> finishedAt; // seconds since the first job began
    std::vector<long long> logBytes;
    int failures = 0, wrongSize = 0, maxFds = 0, maxThreads = 0, maxSockets = 0;
    const auto smallStart = std::chrono::steady_clock::now();
    for (int i = 0; i < jobs; ++i) {
        char name[32];
        snprintf(name, sizeof name, "soak-%05d.bin", i);
        const std::string url = smallBase + "/f" + std::to_string(i % smallFiles) + ".bin";
        const std::string why = RunJob(url, folder, name, timeout);
        const std::string path = folder + name;
        if (!why.empty()) {
            ++failures;
            fprintf(stderr, "zdr-soak: job %d (%s): %s\n", i, url.c_str(), why.c_str());
        } else if (smallSize >= 0 && FileSize(path) != smallSize) {
            ++wrongSize;
        }
        unlink(path.c_str());
        const Sample sample = Take();
        rss.push_back(sample.rssKb);
        heap.push_back(sample.heapKb);
        finishedAt.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - smallStart).count());
        logBytes.push_back(sample.logBytes);
        maxFds = std::max(maxFds, sample.fds);
        maxThreads = std::max(maxThreads, sample.threads);
        maxSockets = std::max(maxSockets, sample.sockets);
    }
    const double smallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - smallStart).count();
    const Sample afterSmall = Settle(started, 10);
    const size_t tenth = std::max<size_t>(1, rss.size() / 10);
    Print("small_jobs", jobs);
    Print("small_failures", failures);
    Print("small_wrong_size", wrongSize);
    Print("small_ms_per_job", jobs ? static_cast<long long>(smallSeconds * 1000 / jobs) : 0);
    // Connections end in the deferred-release list for 3 to 7 seconds, so
    // what a steady run holds is reached only after that: the reference
    // tenth is the first one that begins after a 10-second warm-up.
    const size_t warm = static_cast<size_t>(
        std::find_if(finishedAt.begin(), finishedAt.end(), [](double at) { return at >= 10.0; }) - finishedAt.begin());
    Print("small_warm_job", static_cast<long long>(warm));
    Print("small_rss_kb_first10_max", Max(rss, 0, tenth));
    Print("small_rss_kb_warm10_max", Max(rss, warm, warm + tenth));
    Print("small_rss_kb_last10_max", Max(rss, rss.size() - tenth, rss.size()));
    Print("small_heap_kb_warm10_max", Max(heap, warm, warm + tenth));
    Print("small_heap_kb_last10_max", Max(heap, heap.size() - tenth, heap.size()));
    Print("small_rss_kb_max", Max(rss, 0, rss.size()));
    Print("small_fds_max", maxFds);
    Print("small_sockets_max", maxSockets);
    Print("small_threads_max", maxThreads);
    Print("small_log_bytes_at_10pct", logBytes.empty() ? 0 : logBytes[tenth - 1]);
    Print("small_log_bytes_at_end", logBytes.empty() ? 0 : logBytes.back());
    Print("after_small_fds", afterSmall.fds);
    Print("after_small_sockets", afterSmall.sockets);
    Print("after_small_threads", afterSmall.threads);

    if (!bigUrl.empty()) {
        std::vector<long> during;
        const int gib = static_cast<int>(bigSize >> 30) + 1;
        const auto bigStart = std::chrono::steady_clock::now();
        const std::string why = RunJob(bigUrl, folder, "soak-big.bin", timeout * gib, &during);
        const double bigSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - bigStart).count();
        const long long got = FileSize(folder + "soak-big.bin");
        unlink((folder + "soak-big.bin").c_str());
        const size_t part = std::max<size_t>(1, during.size() / 10);
        Print("big_ok", why.empty() && got == bigSize ? 1 : 0);
        if (!why.empty()) fprintf(stderr, "zdr-soak: large job: %s\n", why.c_str());
        Print("big_bytes", got);
        Print("big_ms", static_cast<long long>(bigSeconds * 1000));
        Print("big_samples", static_cast<long long>(during.size()));
        Print("big_rss_kb_first10_max", Max(during, 0, part));
        Print("big_rss_kb_last10_max", Max(during, during.size() - part, during.size()));
        Print("big_rss_kb_max", Max(during, 0, during.size()));
        const Sample afterBig = Settle(started, 10);
        Print("after_big_fds", afterBig.fds);
        Print("after_big_sockets", afterBig.sockets);
        Print("after_big_threads", afterBig.threads);
        Print("after_big_log_bytes", afterBig.logBytes);
    }
    DlFinalize();
    const Sample finalized = Settle(before, 5);
    Print("after_finalize_fds", finalized.fds);
    Print("after_finalize_threads", finalized.threads);
    Print("peak_rss_kb", StatusKb("VmHWM:"));
    return 0;
}
