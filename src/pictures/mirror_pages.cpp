#include "pictures/mirror_pages.h"

#include "crawl/html_scanner.h"

namespace ormbrook {

std::vector<PageLink> CrawlMirrorPages::CollectLinks(const std::string& localFile, const std::string& pageUrl)
{
    CHtmlScanner scanner;
    std::vector<LinkRef> refs;
    std::optional<std::string> title;
    if (!scanner.CollectLinks(pageUrl, localFile, refs, title))
        return {};
    std::vector<PageLink> links;
    links.reserve(refs.size());
    for (LinkRef& ref : refs) {
        PageLinkKind kind = PageLinkKind::Other;
        switch (ref.kind) {
        case LinkKindAnchor: kind = PageLinkKind::AHref; break;
        case LinkKindArea: kind = PageLinkKind::AreaHref; break;
        case LinkKindBackground: kind = PageLinkKind::BodyBackground; break;
        case LinkKindFrame: kind = PageLinkKind::FrameSrc; break;
        case LinkKindImage: kind = PageLinkKind::ImgSrc; break;
        default: break;
        }
        links.push_back({kind, std::move(ref.url)});
    }
    return links;
}

} // namespace ormbrook
