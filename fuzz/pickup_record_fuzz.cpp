// The "WP.lst" record decoder on arbitrary bytes: it must refuse what it can't
// read without reading out of bounds, and whatever it accepts must encode back
// to exactly the bytes it came from.
#include "pictures/pickup_entry.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace ormbrook;
    const auto entry = DecodePickupRecord(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!entry)
        return 0;
    const auto again = EncodePickupRecord(*entry);
    if (again.size() != size || (size && std::memcmp(again.data(), data, size) != 0))
        std::abort();
    return 0;
}
