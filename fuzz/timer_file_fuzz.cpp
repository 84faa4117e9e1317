// The timer list reader on arbitrary bytes: it must never crash or hang, and
// what it keeps must write out as records that read back to the same list.
#include "shell/timer_doc.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace ormbrook;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CTimerDoc doc([](const std::string& path) { return path.find('x') == std::string::npos; });
    doc.Parse(bytes);
    const std::string once = doc.Serialize();
    CTimerDoc back([](const std::string&) { return true; });
    back.Parse(once);
    if (back.Serialize() != once)
        std::abort();
    return 0;
}
