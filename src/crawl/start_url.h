#pragma once
// Whether a record's URL can start a crawl, and if not, why, in words a
// person who typed it can act on. The crawl says it when it starts, and the
// dialogs where a URL is typed say it at once.

#include <optional>
#include <string>
#include <string_view>

namespace ormbrook {

// Nothing when the URL can be crawled; otherwise the reason, such as
// "the scheme is not http or https".
std::optional<std::string> UncrawlableReason(std::string_view url);

// `cannot crawl "URL": reason`
std::string CannotCrawlText(std::string_view url, std::string_view reason);

} // namespace ormbrook
