#include "support/nginx_server.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace ormbrook::test {

namespace {
const char kNginx[] = "/usr/sbin/nginx";
} // namespace

namespace {
sockaddr_storage Loopback(int port, bool ipv6, socklen_t& length)
{
    sockaddr_storage storage{};
    if (ipv6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(static_cast<uint16_t>(port));
        a->sin6_addr = in6addr_loopback;
        length = sizeof *a;
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&storage);
        a->sin_family = AF_INET;
        a->sin_port = htons(static_cast<uint16_t>(port));
        a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof *a;
    }
    return storage;
}
} // namespace

int FreeLoopbackPort(bool ipv6)
{
    int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    socklen_t len = 0;
    sockaddr_storage addr = Loopback(0, ipv6, len);
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port
                          : reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
    ::close(fd);
    return port;
}

bool AcceptsOnLoopback(int port, bool ipv6)
{
    int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    socklen_t len = 0;
    const sockaddr_storage addr = Loopback(port, ipv6, len);
    bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0;
    ::close(fd);
    return ok;
}

bool NginxServer::Available()
{
    return ::access(kNginx, X_OK) == 0;
}

NginxServer::~NginxServer()
{
    Stop();
}

std::string NginxServer::origin() const
{
    return std::string(tls_ ? "https://" : "http://") + (ipv6_ ? "[::1]:" : "127.0.0.1:") + std::to_string(port_);
}

std::string NginxServer::plainOrigin() const
{
    return "http://127.0.0.1:" + std::to_string(plainPort_);
}

bool NginxServer::Start(const Options& options)
{
    Stop();
    if (!Available()) {
        lastError_ = "nginx is not installed (scripts/setup.sh installs it)";
        return false;
    }
    char pattern[] = "/tmp/ormbrook-nginx-XXXXXX";
    if (!::mkdtemp(pattern)) {
        lastError_ = "cannot make a temporary folder";
        return false;
    }
    dir_ = pattern;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all | std::filesystem::perms::group_exec
                                           | std::filesystem::perms::others_exec);

    // A port picked here may be taken by someone else before nginx binds it;
    // a few attempts make that race harmless.
    for (int attempt = 0; attempt < 5; ++attempt) {
        ipv6_ = options.ipv6Only;
        port_ = FreeLoopbackPort(ipv6_);
        tls_ = !options.tlsCertificate.empty();
        const std::string address = ipv6_ ? "[::1]:" : "127.0.0.1:";
        plainPort_ = tls_ && options.plainToo ? FreeLoopbackPort() : 0;
        std::ostringstream listen;
        if (tls_) {
            listen << "    listen " << address << port_ << " ssl" << (options.http2 ? " http2" : "") << ";\n"
                   << "    ssl_certificate " << options.tlsCertificate << ";\n"
                   << "    ssl_certificate_key " << options.tlsKey << ";\n"
                   << "    ssl_protocols TLSv1.2 TLSv1.3;\n"
                   << "    ssl_session_cache shared:tls:1m;\n"
                   // A server's own access_log replaces the one above it.
                   << "    access_log " << dir_ << "/access.log plain;\n"
                   << "    access_log " << dir_ << "/connections.log connections;\n"
                   << "    access_log " << dir_ << "/tls.log tls;\n";
            if (plainPort_)
                listen << "    listen 127.0.0.1:" << plainPort_ << ";\n";
        } else {
            listen << "    listen " << address << port_ << ";\n";
        }
        // "@PORT@" in the extra lines names the server's own (TLS) port.
        std::string extra = options.extraServerConfig;
        for (size_t at = extra.find("@PORT@"); at != std::string::npos; at = extra.find("@PORT@", at))
            extra.replace(at, 6, std::to_string(port_));
        std::ostringstream conf;
        if (::geteuid() == 0)
            conf << "user root root;\n";
        conf << "worker_processes 1;\n"
             << "pid " << dir_ << "/nginx.pid;\n"
             << "error_log " << dir_ << "/error.log;\n"
             << "events { worker_connections 256; }\n"
             << "http {\n"
             << "  include /etc/nginx/mime.types;\n"
             << "  default_type application/octet-stream;\n"
             << "  log_format plain '$status $request';\n"
             << "  log_format tls '$ssl_session_reused $ssl_server_name $request';\n"
             << "  log_format connections '$connection $connection_requests $sent_http_transfer_encoding "
                "$sent_http_content_encoding $http2 $status $request';\n"
             << "  access_log " << dir_ << "/access.log plain;\n"
             << "  access_log " << dir_ << "/connections.log connections;\n"
             << "  client_body_temp_path " << dir_ << "/body;\n"
             << "  proxy_temp_path " << dir_ << "/proxy;\n"
             << "  fastcgi_temp_path " << dir_ << "/fastcgi;\n"
             << "  uwsgi_temp_path " << dir_ << "/uwsgi;\n"
             << "  scgi_temp_path " << dir_ << "/scgi;\n"
             << "  keepalive_timeout " << options.keepaliveTimeout << ";\n"
             << options.extraHttpConfig
             << (options.etag ? "" : "  etag off;\n")
             << (options.ifModifiedSinceBefore ? "  if_modified_since before;\n" : "  if_modified_since exact;\n")
             << "  server {\n"
             << listen.str()
             << "    server_name localhost;\n"
             << "    root " << options.root << ";\n"
             << extra << "\n"
             << "  }\n"
             << "}\n";
        std::string confPath = dir_ + "/nginx.conf";
        std::ofstream(confPath) << conf.str();

        std::string prefix = dir_ + "/";
        const char* argv[] = {kNginx, "-p", prefix.c_str(), "-c", confPath.c_str(), "-g", "daemon off;", nullptr};
        pid_t pid = -1;
        if (::posix_spawn(&pid, kNginx, nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
            lastError_ = "cannot start nginx";
            return false;
        }
        pid_ = pid;
        for (int wait = 0; wait < 200; ++wait) {
            if (AcceptsOnLoopback(port_, ipv6_) && (!plainPort_ || AcceptsOnLoopback(plainPort_)))
                return true;
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    std::ifstream log(dir_ + "/error.log");
    std::stringstream text;
    text << log.rdbuf();
    lastError_ = "nginx did not start: " + text.str();
    return false;
}

void NginxServer::Stop()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGQUIT);
        int status = 0;
        for (int wait = 0; wait < 300; ++wait) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
        dir_.clear();
    }
}

std::string NginxServer::TlsLog() const
{
    std::ifstream log(dir_ + "/tls.log");
    std::stringstream text;
    text << log.rdbuf();
    return text.str();
}

std::string NginxServer::ConnectionLog() const
{
    std::ifstream log(dir_ + "/connections.log");
    std::stringstream text;
    text << log.rdbuf();
    return text.str();
}

std::string NginxServer::AccessLog() const
{
    std::ifstream log(dir_ + "/access.log");
    std::stringstream text;
    text << log.rdbuf();
    return text.str();
}

} // namespace ormbrook::test
