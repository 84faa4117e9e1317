// Opens a queue file made of the input bytes and walks it, both ways, the
// way a resumed crawl would; the same bytes also go through the queue-entry
// decoder. Nothing may crash, hang or read outside the file.
#include "crawl/queue_entry.h"
#include "engine/queue_file.h"

#include <cstdio>
#include <string>
#include <unistd.h>

using namespace ormbrook;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    DecodeQueueEntry(data, size);

    // Memory-backed when possible: the harness writes a file per input.
    static const std::string path = std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                    "/ormbrook_queue_fuzz_" + std::to_string(::getpid()) + ".uq";
    // The first byte picks the header form; the rest is the file.
    const bool withSignature = size == 0 || (data[0] & 1) == 0;
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
    for (auto r = q.First(pos); r; r = q.Next(pos)) {
        DecodeQueueEntry(r->data(), r->size());
        if (++records > 1000000)
            __builtin_trap(); // a validated list can't be this long for our inputs
    }
    if (q.valid() && withSignature) {
        const char more[] = "more";
        q.PushBack(more, 4);
        q.PushFront(more, 4);
        while (q.PopBack() && ++records < 2000000) {
        }
    }
    q.Close();
    ::unlink(path.c_str());
    return 0;
}
