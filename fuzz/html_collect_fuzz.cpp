// The collect pass over any bytes: never crashes, hangs or reads outside the
// page, and every link it returns has a kind the scanner makes.
#include "crawl/html_scanner.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace ormbrook;
    std::string_view page(reinterpret_cast<const char*>(data), size);
    CHtmlScanner scanner;
    std::vector<LinkRef> links;
    std::optional<std::string> title;
    scanner.CollectLinksFromBytes("http://site/d/p.html", page, links, title);
    for (const LinkRef& link : links) {
        switch (link.kind) {
        case LinkKindAnchor: case LinkKindArea: case LinkKindBackground: case LinkKindFrame:
        case LinkKindImage: case LinkKindUsemap: case LinkKindStyleSheet: case LinkKindScript:
        case LinkKindInlineFrame: case LinkKindSrcset: case LinkKindMedia: case LinkKindInputImage:
        case LinkKindCssUrl: case LinkKindCssImport:
            break;
        default:
            std::abort();
        }
    }
    if (title && title->size() >= size)
        std::abort();
    return 0;
}
