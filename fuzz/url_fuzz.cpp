// Parse and ResolveLink over arbitrary bytes. The input is split at its first
// NUL or newline into a base URL and a link. Besides crashes, the harness
// checks that a canonical URL parses again to itself.
#include "crawl/url.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t split = input.find_first_of(std::string_view("\0\n", 2));
    const std::string_view base = input.substr(0, split);
    const std::string_view link = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

    ormbrook::CUrl url;
    ormbrook::CUrl again;
    for (const std::string_view text : {base, link}) {
        if (url.Parse(text)) {
            if (!again.Parse(url.url()) || again.url() != url.url())
                std::abort();
        }
    }
    if (const auto resolved = ormbrook::CUrl::ResolveLink(base, link)) {
        if (url.Parse(*resolved) && (!again.Parse(url.url()) || again.url() != url.url()))
            std::abort();
    }
    return 0;
}
