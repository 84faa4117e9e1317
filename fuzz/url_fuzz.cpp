// Parse and ResolveLink over arbitrary bytes. The input is split at its first
// NUL or newline into a base URL and a link. Besides crashes, the harness
// checks that a canonical URL parses again to itself, and that a resolved
// link's parts are those of a fresh parse, and that a local path made from
// a URL stays inside the mirror.
#include "common/url.h"
#include "crawl/mirror.h"

#include <cstdint>
#include <cstdlib>
#include <string>
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
    // A resolver parses a relative link below its base's site; its parts must
    // be those of a parse from scratch.
    ormbrook::LinkResolver resolver(base);
    if (const auto resolved = resolver.Resolve(link); resolved && resolver.resolved().error() == ormbrook::UrlOk) {
        const ormbrook::CUrl& below = resolver.resolved();
        if (!url.Parse(std::string(*resolved)) || url.url() != below.url() || url.site() != below.site()
            || url.host() != below.host() || url.port() != below.port() || url.path() != below.path()
            || url.directory() != below.directory() || url.fileName() != below.fileName()
            || url.extension() != below.extension() || url.query() != below.query()
            || url.fragment() != below.fragment() || url.fileKind() != below.fileKind())
            std::abort();
    }
    // Whichever naming, a URL's local path stays below the mirror root.
    for (const auto naming : {ormbrook::MirrorNaming::Escaped, ormbrook::MirrorNaming::Readable}) {
        const ormbrook::CMirror mirror("/m/", "P", naming);
        for (const std::string_view text : {base, link}) {
            const std::optional<std::string> path = mirror.LocalPath(text, "P");
            if (path && (!path->starts_with("/m/P/") || ("/" + *path + "/").find("/../") != std::string::npos
                         || ("/" + *path + "/").find("/./") != std::string::npos))
                std::abort();
        }
    }
    return 0;
}
