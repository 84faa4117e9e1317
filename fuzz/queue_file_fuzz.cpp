// Opens a queue file made of the input bytes and walks it, both ways, the
// way a resumed crawl would; the same bytes also go through the queue-entry
// decoder. Nothing may crash, hang or read outside the file.
//
// Then the records read (a few of them) start a queue of our own making,
// which the input's last bytes drive in write-behind mode: pushes at the
// back, pops at the front and flushes, checked against a std::deque. The
// last flush may be stopped after some write, as by a crash; the file must
// then reopen holding the list as it was before that flush, with its pops
// done, or with everything done, and read the same both ways.
#include "common/queue_entry.h"
#include "engine/queue_file.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <string>
#include <unistd.h>
#include <vector>

using namespace ormbrook;

namespace {

using List = std::deque<std::string>;

std::string scratchPath(const char* name)
{
    // Memory-backed when possible: the harness writes files per input.
    return std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/ormbrook_queue_fuzz_" +
           std::to_string(::getpid()) + name;
}

std::string text(const std::optional<std::vector<uint8_t>>& r)
{
    return std::string(r->begin(), r->end());
}

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

// writeLimit < 0: the last flush is not stopped.
void writeBehindScript(const List& start, const uint8_t* script, size_t size, int writeLimit)
{
    static const std::string path = scratchPath("_behind.uq");
    ::unlink(path.c_str());
    List disk = start; // the list in the file as of the last flush
    List model = start;
    size_t popsFromDisk = 0;
    {
        CQueueFile q(kQueueFileSignature);
        check(q.Open(path) == kQueueFileSignature);
        for (const std::string& s : start)
            check(q.PushBack(s.data(), uint32_t(s.size())));
        q.SetWriteBehind(true);
        int serial = 0;
        for (size_t i = 0; i < size; ++i) {
            const uint8_t c = script[i];
            if ((c & 3) < 2) {
                std::string s = std::to_string(serial++);
                s.resize(s.size() + (c >> 2) % 24, char('a' + c % 26));
                check(q.PushBack(s.data(), uint32_t(s.size())));
                model.push_back(s);
            } else if ((c & 3) == 2) {
                auto r = q.PopFront();
                check(r.has_value() != model.empty());
                if (r) {
                    check(text(r) == model.front());
                    model.pop_front();
                    if (popsFromDisk < disk.size())
                        ++popsFromDisk;
                }
            } else {
                check(q.Flush() && !q.HasPendingWrites());
                disk = model;
                popsFromDisk = 0;
            }
            check(q.IsEmpty() == model.empty());
        }
        q.SetWriteLimit(writeLimit);
        const bool flushed = q.Flush();
        check(flushed || writeLimit >= 0);
    }
    const List afterPops(disk.begin() + long(popsFromDisk), disk.end());

    CQueueFile q(kQueueFileSignature);
    check(q.Open(path) == kQueueFileSignature);
    List now;
    uint32_t pos = 0;
    for (auto r = q.First(pos); r; r = q.Next(pos))
        now.push_back(text(r));
    check(now == model || (writeLimit >= 0 && (now == disk || now == afterPops)));
    List backwards;
    while (auto r = q.PopBack())
        backwards.push_front(text(r));
    check(backwards == now);
    q.Close();
    ::unlink(path.c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    DecodeQueueEntry(data, size);

    static const std::string path = scratchPath(".uq");
    // The first byte picks the header form and where the last flush of the
    // write-behind script stops (bits 1-3: 0 not at all, n after n-1
    // writes); the rest is the file.
    const bool withSignature = size == 0 || (data[0] & 1) == 0;
    const int writeLimit = size == 0 ? -1 : ((data[0] >> 1) & 7) - 1;
    const uint8_t* file = size ? data + 1 : data;
    const size_t fileSize = size ? size - 1 : 0;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    if (fileSize)
        std::fwrite(file, 1, fileSize, f);
    std::fclose(f);

    CQueueFile q(kQueueFileSignature,
                 withSignature ? QueueHeaderForm::WithSignature : QueueHeaderForm::WithoutSignature);
    q.Open(path);
    uint32_t pos = 0;
    size_t records = 0;
    List start;
    for (auto r = q.First(pos); r; r = q.Next(pos)) {
        DecodeQueueEntry(r->data(), r->size());
        if (start.size() < 8)
            start.push_back(text(r));
        if (++records > 1000000)
            __builtin_trap(); // a validated list can't be this long for our inputs
    }
    if (q.valid() && withSignature) {
        // Write-behind on the file as found: pops read through it, the flush
        // writes into it, and it is walked again.
        const char more[] = "more";
        q.SetWriteBehind(true);
        q.PopFront();
        q.PushBack(more, 4);
        q.PopFront();
        q.PushBack(more, 4);
        q.Flush();
        q.Open(path);
        q.PushBack(more, 4);
        q.PushFront(more, 4);
        while (q.PopBack() && ++records < 2000000) {
        }
    }
    q.Close();
    ::unlink(path.c_str());

    const size_t scriptSize = std::min<size_t>(fileSize, 64);
    writeBehindScript(start, file + fileSize - scriptSize, scriptSize, writeLimit);
    return 0;
}
