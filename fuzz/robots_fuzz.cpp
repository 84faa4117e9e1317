// robots.txt rules over any bytes. The first line of the input is the URL
// path to test, the rest the file.
#include "crawl/robots.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace ormbrook;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t newline = input.find('\n');
    std::string_view path = newline == std::string_view::npos ? std::string_view("/") : input.substr(0, newline);
    std::string_view robots = newline == std::string_view::npos ? input : input.substr(newline + 1);
    int answer = RobotsAllowsBytes(robots, path, kRobotsAgent);
    if (answer != 0 && answer != 1)
        std::abort();
    return 0;
}
