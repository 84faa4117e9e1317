#include "support/crawl_fixture.h"

#include <QElapsedTimer>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/time.h>
#include <sys/wait.h>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

namespace ormbrook::test {

namespace fs = std::filesystem;

std::string QryPath()
{
#ifdef ORMBROOK_BINARY_DIR
    return std::string(ORMBROOK_BINARY_DIR) + "/apps/qry";
#else
    return "qry";
#endif
}

CrawlFixture::CrawlFixture()
{
    char pattern[] = "/tmp/ormbrook-crawl-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    site_ = dir_ + "/site";
    mirror_ = dir_ + "/mirror/";
    fs::create_directories(site_);
    fs::create_directories(dir_ + "/config");
    fs::create_directories(dir_ + "/data");
}

CrawlFixture::~CrawlFixture()
{
    server_.Stop();
    // ORMBROOK_KEEP_FIXTURES=1 leaves the site, mirror and logs for a look.
    if (std::getenv("ORMBROOK_KEEP_FIXTURES"))
        return;
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

void CrawlFixture::Page(const std::string& path, const std::string& body, bool changedNow)
{
    fs::path file = fs::path(site_) / path;
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << body;
    if (!changedNow) {
        const timeval old[2] = {{1577836800, 0}, {1577836800, 0}}; // 2020-01-01
        ::utimes(file.c_str(), old);
    }
}

void CrawlFixture::Date(const std::string& path, int64_t time)
{
    const timeval times[2] = {{static_cast<time_t>(time), 0}, {static_cast<time_t>(time), 0}};
    ::utimes((fs::path(site_) / path).c_str(), times);
}

bool CrawlFixture::StartServer(bool ifModifiedSinceBefore, const std::string& extraConfig, bool etag)
{
    NginxServer::Options options;
    options.root = site_;
    options.ifModifiedSinceBefore = ifModifiedSinceBefore;
    options.etag = etag;
    options.extraServerConfig = extraConfig;
    return server_.Start(options);
}

bool CrawlFixture::StartServer(NginxServer::Options options)
{
    options.root = site_;
    return server_.Start(options);
}

bool CrawlFixture::StartTlsServer(const std::string& certificate, const std::string& key, bool plainToo,
                                  const std::string& extraConfig)
{
    NginxServer::Options options;
    options.root = site_;
    options.extraServerConfig = extraConfig;
    options.tlsCertificate = certificate;
    options.tlsKey = key;
    options.plainToo = plainToo;
    return server_.Start(options);
}

std::string CrawlFixture::Project(const std::string& name, std::string text)
{
    for (const auto& [marker, value] : {std::pair<std::string, std::string>{"@ORIGIN@", origin()},
                                        std::pair<std::string, std::string>{"@PLAIN@", plainOrigin()}})
        for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at))
            text.replace(at, marker.size(), value);
    std::string path = dir_ + "/" + name + ".prj";
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::vector<std::string> CrawlFixture::Command(const std::vector<std::string>& args,
                                               const std::map<std::string, std::string>& settings) const
{
    std::vector<std::string> command{QryPath()};
    command.insert(command.end(), args.begin(), args.end());
    command.push_back("--set");
    command.push_back("MirrorDir=" + mirror_);
    for (const auto& [name, value] : settings) {
        command.push_back("--set");
        command.push_back(name + "=" + value);
    }
    return command;
}

namespace {

struct Child {
    pid_t pid = -1;
    int out = -1;
    int err = -1;
};

Child Spawn(const std::vector<std::string>& command, const std::string& configHome, const std::string& dataHome,
            const std::map<std::string, std::string>& extraEnv)
{
    int outPipe[2], errPipe[2];
    if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addclose(&actions, outPipe[0]);
    posix_spawn_file_actions_addclose(&actions, errPipe[0]);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('='));
        if (name != "XDG_CONFIG_HOME" && name != "XDG_DATA_HOME" && name != "XDG_RUNTIME_DIR"
            && !extraEnv.count(name))
            env.push_back(entry);
    }
    env.push_back("XDG_CONFIG_HOME=" + configHome);
    env.push_back("XDG_DATA_HOME=" + dataHome);
    // Locks and channels of its own: a crawl that stores a picture looks
    // for the desktop program, and must not find the user's.
    if (!extraEnv.count("XDG_RUNTIME_DIR")) {
        const std::string runtime = dataHome.substr(0, dataHome.rfind('/')) + "/run";
        ::mkdir(runtime.c_str(), 0700);
        env.push_back("XDG_RUNTIME_DIR=" + runtime);
    }
    for (const auto& [name, value] : extraEnv)
        env.push_back(name + "=" + value);
    std::vector<char*> argv, envp;
    for (const auto& a : command)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    Child child;
    if (::posix_spawn(&child.pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
        child.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    child.out = outPipe[0];
    child.err = errPipe[0];
    return child;
}

// Reads both pipes until they close, calling tick() now and then; kills
// the child after two minutes so that a hung crawl fails its test.
QryRun Collect(Child child, const std::function<void(const std::string& out)>& tick)
{
    QryRun run;
    QElapsedTimer timer;
    timer.start();
    pollfd fds[2] = {{child.out, POLLIN, 0}, {child.err, POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        if (timer.elapsed() > 120000) {
            ::kill(child.pid, SIGKILL);
            break;
        }
        if (::poll(fds, 2, 20) < 0)
            break;
        for (auto& fd : fds) {
            if (fd.fd < 0 || !(fd.revents & (POLLIN | POLLHUP)))
                continue;
            char buffer[4096];
            ssize_t n = ::read(fd.fd, buffer, sizeof buffer);
            if (n <= 0) {
                ::close(fd.fd);
                fd.fd = -1;
                --open;
            } else {
                (fd.fd == child.out ? run.out : run.err).append(buffer, static_cast<size_t>(n));
            }
        }
        if (tick)
            tick(run.out);
    }
    int status = 0;
    ::waitpid(child.pid, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::string trimmed = run.out;
    while (!trimmed.empty() && trimmed.back() == '\n')
        trimmed.pop_back();
    run.counters = trimmed.substr(trimmed.rfind('\n') == std::string::npos ? 0 : trimmed.rfind('\n') + 1);
    return run;
}

} // namespace

QryRun CrawlFixture::Run(const std::vector<std::string>& args, const std::map<std::string, std::string>& settings)
{
    Child child = Spawn(Command(args, settings), dir_ + "/config", dir_ + "/data", env_);
    if (child.pid < 0)
        return {};
    return Collect(child, nullptr);
}

QryRun CrawlFixture::RunAndInterrupt(const std::vector<std::string>& args,
                                     const std::map<std::string, std::string>& settings, int requests)
{
    Child child = Spawn(Command(args, settings), dir_ + "/config", dir_ + "/data", env_);
    if (child.pid < 0)
        return {};
    bool sent = false;
    return Collect(child, [&](const std::string&) {
        if (!sent && static_cast<int>(Requests().size()) >= requests) {
            ::kill(child.pid, SIGINT);
            sent = true;
        }
    });
}

QryRun CrawlFixture::RunAndInterruptWhen(const std::vector<std::string>& args,
                                         const std::map<std::string, std::string>& settings,
                                         const std::function<bool(const std::string& out)>& when)
{
    Child child = Spawn(Command(args, settings), dir_ + "/config", dir_ + "/data", env_);
    if (child.pid < 0)
        return {};
    bool sent = false;
    return Collect(child, [&](const std::string& out) {
        if (!sent && when(out)) {
            ::kill(child.pid, SIGINT);
            sent = true;
        }
    });
}

std::set<std::string> CrawlFixture::MirrorFiles() const
{
    std::set<std::string> files;
    if (!fs::exists(mirror_))
        return files;
    for (const auto& entry : fs::recursive_directory_iterator(mirror_)) {
        if (!entry.is_regular_file())
            continue;
        std::string relative = fs::relative(entry.path(), mirror_).string();
        const std::string ext = entry.path().extension().string();
        if (ext == ".uq" || ext == ".lq" || ext == ".det" || ext == ".del")
            continue;
        files.insert(relative);
    }
    return files;
}

std::string CrawlFixture::MirrorFile(const std::string& relative) const
{
    std::ifstream in(mirror_ + relative, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> CrawlFixture::Requests() const
{
    std::vector<std::string> lines;
    std::istringstream log(server_.AccessLog());
    for (std::string line; std::getline(log, line);)
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

int CrawlFixture::CountRequests(const std::string& requestLineStart) const
{
    int count = 0;
    for (const auto& line : Requests()) {
        // "$status $request"
        size_t space = line.find(' ');
        if (space != std::string::npos && line.compare(space + 1, requestLineStart.size(), requestLineStart) == 0)
            ++count;
    }
    return count;
}

} // namespace ormbrook::test
