// The rewrite pass over any bytes, as a page and as a style sheet: never
// crashes or hangs, and a page in which it changes nothing comes out byte
// for byte as it went in. The mirror root does not exist, so nothing is
// written.
#include "crawl/html_scanner.h"
#include "crawl/mirror.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace ormbrook;
    if (size == 0)
        return 0;
    const bool localizeAll = data[0] & 1;
    std::string_view page(reinterpret_cast<const char*>(data) + 1, size - 1);
    static const CMirror mirror("/nonexistent-ormbrook-fuzz/Mirror/", "P");
    CHtmlScanner scanner;
    std::string out;
    if (!scanner.RewriteBytes("http://site/a/b/p.html", "P/F", page, mirror, localizeAll, out))
        return 0;
    if (page.find('<') == std::string_view::npos && out != page)
        std::abort();
    // The rewritten page must scan again.
    std::vector<LinkRef> links;
    std::optional<std::string> title;
    scanner.CollectLinksFromBytes("http://site/a/b/p.html", out, links, title);
    // The same bytes as a style sheet: its rewrite, and the links of that.
    std::string sheet;
    if (scanner.RewriteBytes("http://site/a/b/s.css", "P/F", page, mirror, localizeAll, sheet))
        scanner.CollectStyleSheetLinks("http://site/a/b/s.css", sheet, links);
    return 0;
}
