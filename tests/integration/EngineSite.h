#pragma once
// The engine path for whole-program tests: the engine just built, published
// on a signed update site (zdr-update-site with the demo key) under a test's
// nginx, as a maker publishes a release; and the engines a program's service
// installs from it and starts, found by their executable and stopped.

#include "NginxProcess.h"
#include "TestFiles.h"

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace EngineSite {

// The engine executable a service installs under this data folder
// (XDG_DATA_HOME).
inline std::string InstalledEngine(const std::string& dataHome)
{
    return dataHome + "/Ostrel/zdrDownloadV32/ZDRDownloadV32.exe";
}

// nginx may run its workers as another user: everything under folder must be
// readable (and folders walkable) by others.
inline void AllowNginx(const std::string& folder)
{
    namespace fs = std::filesystem;
    fs::permissions(folder, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        fs::permissions(entry.path(), fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
}

// Writes the site into the folder out, its URLs starting with baseUrl;
// release is a scratch folder for the files to publish. False when the site
// builder failed.
inline bool Build(const std::string& out, const std::string& baseUrl, const std::string& release)
{
    namespace fs = std::filesystem;
    fs::create_directories(release);
    fs::copy_file(ZDR_ENGINE_PATH, release + "/ZDRDownloadV32.exe", fs::copy_options::overwrite_existing);
    return RunProgram({ZDR_UPDATE_SITE_PATH, "--key", ZDR_DEMO_SIGNING_KEY, "--engine", release, "--out", out,
                       "--base-url", baseUrl}) == 0;
}

// Writes the site into nginx's root, as Build. False when the site builder
// failed.
inline bool Publish(const NginxProcess& nginx, const std::string& release)
{
    const bool built = Build(nginx.Root(), nginx.Url(""), release);
    AllowNginx(nginx.Root());
    return built;
}

// Processes running the executable at exe.
inline std::vector<pid_t> EnginePids(const std::string& exe)
{
    namespace fs = std::filesystem;
    std::vector<pid_t> pids;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code ignored;
        const std::string running = fs::read_symlink(entry.path() / "exe", ignored).string();
        if (running.rfind(exe, 0) == 0) pids.push_back(static_cast<pid_t>(std::stol(name)));
    }
    return pids;
}

// Stops them (they save their partial downloads first), waiting up to 10 s.
inline void StopEngines(const std::string& exe)
{
    for (pid_t pid : EnginePids(exe)) kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!EnginePids(exe).empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

// Body bytes nginx sent for the path, over every request (the combined
// format's size field). A transfer is logged once its connection ended.
inline long long BytesSent(const NginxProcess& nginx, const std::string& path)
{
    long long sent = 0;
    std::istringstream lines(nginx.AccessLog());
    for (std::string line; std::getline(lines, line);) {
        const size_t request = line.find("GET " + path + " ");
        if (request == std::string::npos) continue;
        std::istringstream rest(line.substr(line.find('"', request + 1) + 1));
        int status = 0;
        long long bytes = 0;
        rest >> status >> bytes;
        sent += bytes;
    }
    return sent;
}

// Requests for the path made by the engine (its user agent), and by anyone
// else.
inline std::pair<size_t, size_t> Fetches(const NginxProcess& nginx, const std::string& path)
{
    size_t engine = 0;
    size_t other = 0;
    std::istringstream lines(nginx.AccessLog());
    for (std::string line; std::getline(lines, line);) {
        if (line.find("GET " + path + " ") == std::string::npos) continue;
        (line.find("\"ZDRDownloadV32/") != std::string::npos ? engine : other) += 1;
    }
    return {engine, other};
}

// Requests for the path made by the engine (its user agent).
inline size_t EngineFetches(const NginxProcess& nginx, const std::string& path)
{
    return Fetches(nginx, path).first;
}

} // namespace EngineSite
