// Style sheets are outside input: the scanner must find its links, and the
// rewrite must put them back, in any bytes whatever.
#include "crawl/css_scanner.h"
#include "crawl/html_values.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view css(reinterpret_cast<const char*>(data), size);
    std::vector<ormbrook::CssLink> links;
    ormbrook::FindCssLinks(css, links);
    size_t last = 0;
    for (const ormbrook::CssLink& link : links) {
        if (link.offset < last || link.offset + link.length > css.size())
            __builtin_trap(); // in order, inside the sheet
        last = link.offset + link.length;
        std::string out;
        ormbrook::AppendCssUrl(out, css.substr(link.offset, link.length), link);
    }
    std::string decoded;
    ormbrook::DecodeCharacterReferences(css, decoded);
    std::vector<ormbrook::SrcsetCandidate> candidates;
    ormbrook::SplitSrcset(css, candidates);
    for (const ormbrook::SrcsetCandidate& c : candidates)
        if (c.length == 0 || c.offset + c.length > css.size())
            __builtin_trap();
    return 0;
}
