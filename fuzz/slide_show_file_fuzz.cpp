// The slide-show list reader on arbitrary bytes: no crash, no hang, and what it
// keeps writes out as records that read back to the same list.
#include "shell/slide_show_list.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace ormbrook;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CSSDoc doc([](const std::string& path) { return path.find('x') == std::string::npos; });
    doc.Parse(bytes);
    const std::string once = doc.Serialize();
    CSSDoc back([](const std::string&) { return true; });
    back.Parse(once);
    if (back.Serialize() != once)
        std::abort();
    return 0;
}
