#pragma once
// A private nginx on 127.0.0.1 for the download tests: serves the files
// under Root() with ranges, answers /redirect/<path> with a 302 to /<path>,
// and logs each request. The configuration is written at start; the server
// runs in the foreground as a child of the test and is stopped by it.
//
// Over TLS (Start with a list of servers) it has one server block per host
// name (chosen by SNI), each with its own certificate made at start with
// tools/demo-portal/make-certs.sh: a fresh certificate authority (CaFile(),
// to trust with SSL_CERT_FILE) signs them unless a server asks for an
// expired or a self-signed one. Every block serves Root(name) the same way.

#include "LoopbackSockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

class NginxProcess {
public:
    struct TlsServer {
        std::string name;       // server_name, and the certificate's file name
        std::string san;        // subjectAltName of its certificate
        std::string kind = "";  // "", "expired" or "self-signed"
    };

    // More directives for the server block, given before Start (e.g. a
    // location with limit_rate for slow downloads).
    void AddServerConfig(const std::string& text) { m_extra += text; }
    // Listen on this port instead of a free one picked at Start (for a
    // server that comes up after its clients started trying).
    void SetPort(uint16_t port) { m_port = port; }
    uint16_t Port() const { return m_port; }
    // False when nginx did not come up within 10 s.
    bool Start(const std::string& directory)
    {
        m_dir = directory;
        std::filesystem::create_directories(Root());
        if (m_port == 0) m_port = FreePort();
        return Launch("  server {\n    listen 127.0.0.1:" + std::to_string(m_port) + ";\n    root " + Root() + ";\n" +
                      Locations() + "  }\n");
    }
    // TLS only, one block per server; the first is the default one. False
    // also when the certificates could not be made.
    bool Start(const std::string& directory, const std::vector<TlsServer>& servers)
    {
        m_dir = directory;
        const std::string certs = m_dir + "/certs";
        if (!Run(std::string(ZDR_MAKE_CERTS_SCRIPT) + " ca " + certs)) return false;
        if (m_port == 0) m_port = FreePort();
        std::string blocks;
        for (size_t i = 0; i < servers.size(); ++i) {
            const TlsServer& server = servers[i];
            if (!Run(std::string(ZDR_MAKE_CERTS_SCRIPT) + " server " + certs + " " + server.name + " " + server.san + " " +
                     server.kind))
                return false;
            std::filesystem::create_directories(Root(server.name));
            blocks += "  server {\n    listen 127.0.0.1:" + std::to_string(m_port) + " ssl" +
                      (i == 0 ? " default_server" : "") + ";\n    server_name " + server.name + ";\n" +
                      "    ssl_certificate " + certs + "/" + server.name + ".pem;\n" +
                      "    ssl_certificate_key " + certs + "/" + server.name + ".key;\n" +
                      "    root " + Root(server.name) + ";\n" + Locations() + "  }\n";
        }
        return Launch(blocks);
    }
    void Stop()
    {
        if (m_pid <= 0) return;
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
    }
    ~NginxProcess() { Stop(); }

    std::string Root() const { return m_dir + "/www"; }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }
    // Over TLS: the files of one server, reached through its name.
    std::string Root(const std::string& name) const { return m_dir + "/www-" + name; }
    std::string Url(const std::string& host, const std::string& path) const
    {
        return "https://" + host + ":" + std::to_string(m_port) + path;
    }
    std::string CaFile() const { return m_dir + "/certs/ca.pem"; }
    std::string AccessLog() const
    {
        std::ifstream in(m_dir + "/access.log");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // The access log once `count` of its lines hold `needle`, or as it
    // stands after `seconds`: nginx writes a request's line after the answer
    // has gone out, so the client can be done before the line is there.
    std::string AccessLogWith(const std::string& needle, size_t count, double seconds = 5) const
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        for (;;) {
            const std::string log = AccessLog();
            size_t found = 0;
            for (size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + needle.size()))
                ++found;
            if (found >= count || std::chrono::steady_clock::now() >= end) return log;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    // The ETag nginx gives a static file: its modification time and size in
    // hex ("" when the file is not there).
    static std::string Etag(const std::string& path)
    {
        struct stat st;
        if (stat(path.c_str(), &st) != 0) return std::string();
        char etag[64];
        snprintf(etag, sizeof etag, "\"%lx-%lx\"", static_cast<unsigned long>(st.st_mtime),
                 static_cast<unsigned long>(st.st_size));
        return etag;
    }
    static uint16_t FreePort()
    {
        uint16_t port = 0;
        close(BindOnLoopback(port));
        return port;
    }
    bool Accepts() const
    {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(m_port);
        const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        return ok;
    }

private:
    static bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }
    // What every server block answers besides its files.
    std::string Locations() const
    {
        return "    location ~ ^/redirect(/.*)$ { return 302 $1; }\n"
               "    location ~ ^/moved(/.*)$ { return 301 $1; }\n"
               "    location ~ ^/temporary(/.*)$ { return 307 $1; }\n"
               "    location ~ ^/permanent(/.*)$ { return 308 $1; }\n" +
               m_extra;
    }
    // Writes the configuration around the server blocks, starts nginx and
    // waits up to 10 s for it to accept.
    bool Launch(const std::string& serverBlocks)
    {
        std::filesystem::create_directories(m_dir + "/tmp");
        std::ofstream conf(m_dir + "/nginx.conf");
        conf << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
             << "pid " << m_dir << "/nginx.pid;\nerror_log " << m_dir << "/error.log;\n"
             << "events { worker_connections 64; }\nhttp {\n"
             // The combined format, and the connection each request came on.
             << "  log_format withconnection '$remote_addr - $remote_user [$time_local] \"$request\" $status "
                "$body_bytes_sent \"$http_referer\" \"$http_user_agent\" connection=$connection';\n"
             << "  access_log " << m_dir << "/access.log withconnection;\n"
             << "  client_body_temp_path " << m_dir << "/tmp/body;\n  proxy_temp_path " << m_dir << "/tmp/proxy;\n"
             << "  fastcgi_temp_path " << m_dir << "/tmp/fastcgi;\n  uwsgi_temp_path " << m_dir << "/tmp/uwsgi;\n"
             << "  scgi_temp_path " << m_dir << "/tmp/scgi;\n  default_type application/octet-stream;\n"
             << serverBlocks << "}\n";
        conf.close();
        std::vector<std::string> args = {"/usr/sbin/nginx", "-p", m_dir, "-c", m_dir + "/nginx.conf", "-e",
                                         m_dir + "/error.log"};
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if (Accepts()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    std::string m_dir;
    std::string m_extra;
    uint16_t m_port = 0;
    pid_t m_pid = -1;
};
