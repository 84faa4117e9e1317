#include "support/test_authority.h"

#include "support/nginx_server.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace ormbrook::test {

namespace {

const char kOpenssl[] = "/usr/bin/openssl";
const char kTinyproxy[] = "/usr/bin/tinyproxy";

std::string MakeTempDir(const char* prefix)
{
    std::string pattern = std::string("/tmp/") + prefix + "-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return {};
    // Servers that drop their privileges must still read what is in it.
    std::filesystem::permissions(pattern, std::filesystem::perms::owner_all | std::filesystem::perms::group_exec
                                              | std::filesystem::perms::others_exec);
    return pattern;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool IsAddress(const std::string& name)
{
    in_addr address;
    return ::inet_pton(AF_INET, name.c_str(), &address) == 1;
}

} // namespace

bool TestAuthority::Available() { return ::access(kOpenssl, X_OK) == 0; }

TestAuthority::TestAuthority()
{
    if (!Available()) {
        lastError_ = "openssl is not installed";
        return;
    }
    dir_ = MakeTempDir("ormbrook-ca");
    if (dir_.empty()) {
        lastError_ = "cannot make a temporary folder";
        return;
    }
    std::ofstream(dir_ + "/ca.cnf") << "[ca]\ndefault_ca=d\n[d]\ndatabase=" << dir_ << "/index.txt\nnew_certs_dir="
                                    << dir_ << "\nserial=" << dir_
                                    << "/serial\ndefault_md=sha256\npolicy=p\nunique_subject=no\n[p]\n"
                                       "commonName=supplied\n";
    std::ofstream(dir_ + "/index.txt");
    std::ofstream(dir_ + "/serial") << "1000\n";
    ok_ = Run("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout " + dir_ + "/ca.key -out "
              + caFile() + " -days 2 -subj '/CN=Ormbrook Test Authority'"
              + " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign");
}

TestAuthority::~TestAuthority()
{
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

bool TestAuthority::Run(const std::string& arguments)
{
    const std::string command = std::string(kOpenssl) + " " + arguments + " >" + dir_ + "/openssl.out 2>&1";
    if (std::system(command.c_str()) == 0)
        return true;
    lastError_ = "openssl " + arguments + ": " + ReadFile(dir_ + "/openssl.out");
    return false;
}

IssuedCertificate TestAuthority::Issue(const std::string& fileName, const std::vector<std::string>& names,
                                       bool expired, bool selfSigned, bool commonNameOnly)
{
    IssuedCertificate issued{dir_ + "/" + fileName + ".pem", dir_ + "/" + fileName + ".key"};
    std::string altNames;
    for (const std::string& name : names)
        altNames += (altNames.empty() ? "" : ",") + std::string(IsAddress(name) ? "IP:" : "DNS:") + name;
    const std::string ext = dir_ + "/" + fileName + ".ext";
    std::ofstream(ext) << (commonNameOnly ? "" : "subjectAltName=" + altNames + "\n") << "basicConstraints=CA:FALSE\n"
                       << "extendedKeyUsage=serverAuth\n";
    const std::string csr = dir_ + "/" + fileName + ".csr";
    const std::string subject = " -subj '/CN=" + (names.empty() ? std::string("server") : names.front()) + "'";
    if (selfSigned) {
        if (!Run("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout " + issued.key + " -out "
                 + issued.certificate + " -days 2" + subject + " -addext subjectAltName=" + altNames))
            return {};
        return issued;
    }
    if (!Run("req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout " + issued.key + " -out " + csr
             + subject))
        return {};
    const bool signedOk = expired
        ? Run("ca -batch -config " + dir_ + "/ca.cnf -cert " + caFile() + " -keyfile " + dir_ + "/ca.key -in " + csr
              + " -out " + issued.certificate + " -startdate 20200101000000Z -enddate 20200102000000Z -extfile " + ext)
        : Run("x509 -req -in " + csr + " -CA " + caFile() + " -CAkey " + dir_ + "/ca.key -CAcreateserial -out "
              + issued.certificate + " -days 2 -extfile " + ext);
    return signedOk ? issued : IssuedCertificate{};
}

bool TinyProxy::Available() { return ::access(kTinyproxy, X_OK) == 0; }

TinyProxy::~TinyProxy() { Stop(); }

bool TinyProxy::Start(const std::vector<int>& connectPorts)
{
    Stop();
    if (!Available()) {
        lastError_ = "tinyproxy is not installed (scripts/setup.sh installs it)";
        return false;
    }
    dir_ = MakeTempDir("ormbrook-proxy");
    if (dir_.empty()) {
        lastError_ = "cannot make a temporary folder";
        return false;
    }
    std::filesystem::permissions(dir_, std::filesystem::perms::all);
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = FreeLoopbackPort();
        std::ostringstream conf;
        conf << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\nAllow 127.0.0.1\n"
             << "LogFile \"" << dir_ << "/proxy.log\"\nLogLevel Connect\n";
        for (const int p : connectPorts)
            conf << "ConnectPort " << p << "\n";
        const std::string confPath = dir_ + "/tinyproxy.conf";
        std::ofstream(confPath) << conf.str();
        const char* argv[] = {kTinyproxy, "-d", "-c", confPath.c_str(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        const int spawned = ::posix_spawn(&pid, kTinyproxy, &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            lastError_ = "cannot start tinyproxy";
            return false;
        }
        pid_ = pid;
        for (int wait = 0; wait < 200; ++wait) {
            if (AcceptsOnLoopback(port_))
                return true;
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        Stop();
        dir_ = MakeTempDir("ormbrook-proxy");
        std::filesystem::permissions(dir_, std::filesystem::perms::all);
    }
    lastError_ = "tinyproxy did not start";
    return false;
}

void TinyProxy::Stop()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        bool ended = false;
        for (int wait = 0; wait < 300 && !ended; ++wait) {
            ended = ::waitpid(pid_, nullptr, WNOHANG) == pid_;
            if (!ended)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!ended) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
        dir_.clear();
    }
}

std::string TinyProxy::Log() const { return ReadFile(dir_ + "/proxy.log"); }

} // namespace ormbrook::test
