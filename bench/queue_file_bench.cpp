// Throughput of the queue file against the limit set by the file system:
// 100,000 records of 200 bytes pushed and popped, and the same bytes appended
// to a plain file in the same run (one write per record, as each push is
// on disk when it returns; and through a stdio buffer, the absolute limit).
#include "engine/queue_file.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace ormbrook;

namespace {

constexpr int kRecords = 100000;
constexpr uint32_t kRecordSize = 200;

std::string scratch(const char* name)
{
    return std::string("/tmp/ormbrook_bench_") + std::to_string(::getpid()) + "_" + name;
}

const std::vector<uint8_t>& record()
{
    static const std::vector<uint8_t> r = [] {
        std::vector<uint8_t> v(kRecordSize);
        for (size_t i = 0; i < v.size(); ++i)
            v[i] = uint8_t('a' + i % 26);
        return v;
    }();
    return r;
}

void rate(benchmark::State& state, int64_t records)
{
    state.counters["records/s"] = benchmark::Counter(double(records), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(records * kRecordSize);
}

void BM_QueuePushBack(benchmark::State& state)
{
    const std::string path = scratch("push.uq");
    CQueueFile q(kQueueFileSignature);
    q.Open(path);
    for (auto _ : state) {
        state.PauseTiming();
        q.Reset();
        state.ResumeTiming();
        for (int i = 0; i < kRecords; ++i)
            q.PushBack(record().data(), kRecordSize);
    }
    rate(state, int64_t(state.iterations()) * kRecords);
    q.Close();
    ::unlink(path.c_str());
}

void BM_QueuePopFront(benchmark::State& state)
{
    const std::string path = scratch("pop.uq");
    CQueueFile q(kQueueFileSignature);
    q.Open(path);
    int64_t popped = 0;
    for (auto _ : state) {
        state.PauseTiming();
        q.Reset();
        for (int i = 0; i < kRecords; ++i)
            q.PushBack(record().data(), kRecordSize);
        state.ResumeTiming();
        while (auto r = q.PopFront()) {
            benchmark::DoNotOptimize(r->data());
            ++popped;
        }
    }
    rate(state, popped);
    q.Close();
    ::unlink(path.c_str());
}

// Write-behind, flushed every state.range(0) records, as a crawl would flush
// after each round of work.
void BM_QueuePushBackWriteBehind(benchmark::State& state)
{
    const std::string path = scratch("push_behind.uq");
    const int batch = int(state.range(0));
    CQueueFile q(kQueueFileSignature);
    q.Open(path);
    q.SetWriteBehind(true);
    for (auto _ : state) {
        state.PauseTiming();
        q.Reset();
        state.ResumeTiming();
        for (int i = 0; i < kRecords; ++i) {
            q.PushBack(record().data(), kRecordSize);
            if ((i + 1) % batch == 0)
                q.Flush();
        }
        q.Flush();
    }
    rate(state, int64_t(state.iterations()) * kRecords);
    q.Close();
    ::unlink(path.c_str());
}

void BM_QueuePopFrontWriteBehind(benchmark::State& state)
{
    const std::string path = scratch("pop_behind.uq");
    const int batch = int(state.range(0));
    CQueueFile q(kQueueFileSignature);
    q.Open(path);
    q.SetWriteBehind(true);
    int64_t popped = 0;
    for (auto _ : state) {
        state.PauseTiming();
        q.Reset();
        for (int i = 0; i < kRecords; ++i)
            q.PushBack(record().data(), kRecordSize);
        q.Flush();
        state.ResumeTiming();
        while (auto r = q.PopFront()) {
            benchmark::DoNotOptimize(r->data());
            if (++popped % batch == 0)
                q.Flush();
        }
        q.Flush();
    }
    rate(state, popped);
    q.Close();
    ::unlink(path.c_str());
}

void BM_PlainFileWritePerRecord(benchmark::State& state)
{
    const std::string path = scratch("plain.dat");
    for (auto _ : state) {
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
        for (int i = 0; i < kRecords; ++i) {
            if (::write(fd, record().data(), kRecordSize) != ssize_t(kRecordSize))
                state.SkipWithError("write failed");
        }
        ::close(fd);
    }
    rate(state, int64_t(state.iterations()) * kRecords);
    ::unlink(path.c_str());
}

void BM_PlainFileBuffered(benchmark::State& state)
{
    const std::string path = scratch("buffered.dat");
    for (auto _ : state) {
        FILE* f = std::fopen(path.c_str(), "wb");
        for (int i = 0; i < kRecords; ++i)
            std::fwrite(record().data(), 1, kRecordSize, f);
        std::fclose(f);
    }
    rate(state, int64_t(state.iterations()) * kRecords);
    ::unlink(path.c_str());
}

} // namespace

BENCHMARK(BM_QueuePushBack)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_QueuePopFront)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_QueuePushBackWriteBehind)->Arg(16)->Arg(256)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_QueuePopFrontWriteBehind)->Arg(16)->Arg(256)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PlainFileWritePerRecord)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PlainFileBuffered)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_MAIN();
