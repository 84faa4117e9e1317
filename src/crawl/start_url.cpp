#include "crawl/start_url.h"

#include "common/url.h"

namespace ormbrook {

namespace {

// Why a URL with a web scheme and "//" did not parse, told by parsing the
// site alone: its host or its port, or else the rest.
std::string SyntaxReason(std::string_view url, size_t siteStart)
{
    size_t end = siteStart;
    while (end < url.size() && url[end] != '/' && url[end] != '?' && url[end] != '#')
        ++end;
    const std::string_view site = url.substr(siteStart, end - siteStart);
    const size_t colon = site.rfind(':');
    const std::string_view host = site.substr(0, colon);
    if (host.empty())
        return "it names no host";
    CUrl probe;
    if (!probe.Parse(std::string(url.substr(0, siteStart)).append(host).append("/")))
        return "the host name is not valid";
    if (colon != std::string_view::npos && !probe.Parse(std::string(url.substr(0, end)).append("/")))
        return "the port is not a number";
    if (end < url.size() && url[end] != '/')
        return "the host is not followed by \"/\"";
    return "the URL is not well formed";
}

} // namespace

std::optional<std::string> UncrawlableReason(std::string_view url)
{
    CUrl parsed;
    if (parsed.Parse(url)) {
        if (IsWebScheme(parsed.scheme()))
            return std::nullopt;
        return "the scheme is not http or https";
    }
    // A scheme read, whatever else is wrong, is said first: no mending of
    // the rest would make it crawlable.
    if (parsed.scheme() != SchemeNone && !IsWebScheme(parsed.scheme()))
        return "the scheme is not http or https";
    switch (parsed.error()) {
    case UrlSchemeNotSupported:
        return "the scheme is not http or https";
    case UrlPartTooLong:
        return "a part of it is longer than 1023 bytes";
    case UrlAboveRoot:
        return "its path climbs above the root with \"..\"";
    case UrlOutOfMemory:
        return "there is not enough memory";
    default:
        break;
    }
    if (url.empty())
        return "it is empty";
    if (!StartsWithScheme(url))
        return "it does not start with http:// or https://";
    const size_t colon = url.find(':');
    if (url.substr(colon + 1, 2) != "//")
        return "the scheme is not followed by \"//\"";
    return SyntaxReason(url, colon + 3);
}

std::string CannotCrawlText(std::string_view url, std::string_view reason)
{
    return std::string("cannot crawl \"").append(url).append("\": ").append(reason);
}

} // namespace ormbrook
