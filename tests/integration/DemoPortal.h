#pragma once
// The demo portal (a private nginx with the sample client) started for one
// test on a free port, and stopped with it.

#include "LoopbackSockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class DemoPortal {
public:
    // False when nginx did not come up. The files live in a folder of their
    // own under /tmp: nginx's workers (an unprivileged user when started by
    // root) must be able to walk to them, which a test's private home forbids.
    // With https the portal speaks TLS only, with a certificate authority of
    // its own (CaFile()).
    bool Start(bool https = false)
    {
        m_scheme = https ? "https" : "http";
        char pattern[] = "/tmp/zdr-portal-XXXXXX";
        if (!mkdtemp(pattern)) return false;
        chmod(pattern, 0755);
        const std::string folder = pattern;
        m_folder = folder;
        m_port = FreePort();
        const std::string command = std::string(ZDR_DEMO_PORTAL_SCRIPT) + " start '" + folder + "' " +
                                    std::to_string(m_port) + (https ? " --https" : "") + " > '" + folder + ".out' 2>&1";
        return system(command.c_str()) == 0;
    }
    ~DemoPortal()
    {
        if (m_port) system((std::string(ZDR_DEMO_PORTAL_SCRIPT) + " stop '" + m_folder + "' > /dev/null 2>&1").c_str());
        if (!m_folder.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(m_folder, ignored);
            std::filesystem::remove(m_folder + ".out", ignored);
        }
    }
    uint16_t Port() const { return m_port; }
    // The folder the portal serves from (www/) and keeps its logs in.
    const std::string& Folder() const { return m_folder; }
    std::string Host() const { return "127.0.0.1:" + std::to_string(m_port); }
    std::string Url(const std::string& path) const { return m_scheme + "://" + Host() + path; }
    std::string CaFile() const { return m_folder + "/certs/ca.pem"; }
    std::string FileListUrl() const { return Url("/download/vx2/zdrdownload/filelist.txt"); }
    // Serves content at path (under the portal's root) from now on.
    void Publish(const std::string& path, const std::string& content) const
    {
        const std::string file = m_folder + "/www" + path;
        std::filesystem::create_directories(std::filesystem::path(file).parent_path());
        std::ofstream(file, std::ios::binary) << content;
        std::filesystem::permissions(file, std::filesystem::perms::others_read, std::filesystem::perm_options::add);
    }
    // The portal's own copy of a served file.
    std::string Served(const std::string& path) const
    {
        std::ifstream in(m_folder + "/www" + path, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }

private:
    static uint16_t FreePort()
    {
        uint16_t port = 0;
        close(BindOnLoopback(port));
        return port;
    }

    std::string m_folder;
    uint16_t m_port = 0;
    std::string m_scheme = "http";
};
