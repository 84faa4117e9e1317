// One large body over loopback into the temporary file, against curl writing
// the same body from the same server in the same run.
//
//   build/release/bench/download_bench [--size_mb=200]
//
// Prints MB/s for both and the ratio (goal: the download object at least
// 0.8 of curl).

#include "common/messages.h"
#include "common/queue_entry.h"
#include "engine/dl_obj.h"
#include "engine/download_records.h"
#include "engine/ws_event_window.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace ormbrook;

namespace {

size_t g_bodySize = size_t(200) << 20;
double g_oursMBs = 0;
double g_curlMBs = 0;

// Serves every connection the same response: a head with the length, then
// the body, then an orderly close.
class BodyServer {
public:
    BodyServer()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 16);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        block_.resize(1 << 20);
        for (size_t i = 0; i < block_.size(); ++i)
            block_[i] = char('a' + i % 26);
        thread_ = std::thread([this] { Serve(); });
    }
    ~BodyServer()
    {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    uint16_t port() const { return port_; }

private:
    void Serve()
    {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0)
                continue;
            std::string req;
            char buf[4096];
            while (req.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = ::recv(c, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                req.append(buf, size_t(n));
            }
            const std::string head = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                                     std::to_string(g_bodySize) + "\r\n\r\n";
            ::send(c, head.data(), head.size(), MSG_NOSIGNAL);
            size_t left = g_bodySize;
            while (left > 0) {
                const ssize_t n = ::send(c, block_.data(), std::min(left, block_.size()), MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                left -= size_t(n);
            }
            ::shutdown(c, SHUT_WR);
            while (::recv(c, buf, sizeof buf, 0) > 0) {
            }
            ::close(c);
        }
    }

    int fd_ = -1;
    uint16_t port_ = 0;
    std::vector<char> block_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

BodyServer* g_server = nullptr;
QTemporaryDir* g_dir = nullptr;

class Sink : public MessageTarget {
public:
    int results = 0;
    int lastResult = 0;

protected:
    void OnMessage(uint32_t message, uintptr_t, std::unique_ptr<MessageRecord> record) override
    {
        if (message == MsgManagerPageDone) {
            ++results;
            lastResult = static_cast<SlotResultRecord*>(record.get())->result;
        }
    }
};

off_t FileSize(const std::string& path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

void BM_DownloadObjectToTempFile(benchmark::State& state)
{
    const std::string dir = g_dir->path().toStdString() + "/";
    Sink status, manager;
    for (auto _ : state) {
        QueueEntry item;
        item.url = "http://127.0.0.1:" + std::to_string(g_server->port()) + "/big.bin";
        auto obj = DLObj::Create();
        obj->Prepare(&item, &status, &manager, 0, dir);
        obj->SetTimeouts(600, 30, 30, 30, 30, 30);
        const int before = manager.results;
        obj->StartPage(DLObj::KindGet);
        while (manager.results == before)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 100);
        state.PauseTiming();
        if (manager.lastResult != 2 || FileSize(obj->tempPath()) != off_t(g_bodySize))
            state.SkipWithError("download incomplete");
        obj->Release();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(g_bodySize));
}

void BM_CurlToFile(benchmark::State& state)
{
    const std::string out = g_dir->path().toStdString() + "/curl.dat";
    const std::string cmd = "curl -s -o " + out + " http://127.0.0.1:" + std::to_string(g_server->port()) + "/big.bin";
    for (auto _ : state) {
        if (std::system(cmd.c_str()) != 0 || FileSize(out) != off_t(g_bodySize))
            state.SkipWithError("curl failed");
        state.PauseTiming();
        ::unlink(out.c_str());
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(g_bodySize));
}

class Collect : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            auto it = r.counters.find("bytes_per_second");
            if (it == r.counters.end() || r.run_type != Run::RT_Iteration)
                continue;
            const double mbs = double(it->second) / (1 << 20);
            if (r.benchmark_name().find("Curl") != std::string::npos)
                g_curlMBs = std::max(g_curlMBs, mbs);
            else
                g_oursMBs = std::max(g_oursMBs, mbs);
        }
    }
};

} // namespace

BENCHMARK(BM_DownloadObjectToTempFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3)->Repetitions(2);
BENCHMARK(BM_CurlToFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3)->Repetitions(2);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--size_mb=", 10) == 0)
            g_bodySize = size_t(std::atol(argv[i] + 10)) << 20;
    benchmark::Initialize(&argc, argv);
    WSEventWindow::CreateEventWindow();
    QTemporaryDir dir;
    BodyServer server;
    g_dir = &dir;
    g_server = &server;
    Collect reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    WSEventWindow::DestroyEventWindow();
    if (g_curlMBs > 0)
        std::printf("download object %.1f MB/s, curl %.1f MB/s, ratio %.2f (body %zu MB)\n", g_oursMBs, g_curlMBs,
                    g_oursMBs / g_curlMBs, g_bodySize >> 20);
    return 0;
}
