// Why a record's URL can't start a crawl, in words that say what to mend.

#include "crawl/start_url.h"

#include <gtest/gtest.h>

using namespace ormbrook;

TEST(StartUrl, EachFaultHasItsReason)
{
    const std::pair<const char*, const char*> rows[] = {
        {"http://site/", nullptr},
        {"https://例え.テスト/ページ.html", nullptr},
        {"htp://x/", "the scheme is not http or https"},
        {"ftp://site/", "the scheme is not http or https"},
        {"file:///etc/", "the scheme is not http or https"},
        {"example.com/", "it does not start with http:// or https://"},
        {"http:/site/", "the scheme is not followed by \"//\""},
        {"http://exa mple.com/", "the host name is not valid"},
        {"http://例え..テスト/", "the host name is not valid"},
        {"http:///x", "it names no host"},
        {"http://site:8o/", "the port is not a number"},
        {"http://site?q", "the host is not followed by \"/\""},
        {"http://site/%zz", "the URL is not well formed"},
        {"http://site/../x", "its path climbs above the root with \"..\""},
        {"", "it is empty"},
    };
    for (const auto& [url, reason] : rows) {
        const std::optional<std::string> got = UncrawlableReason(url);
        EXPECT_EQ(got, reason ? std::optional<std::string>(reason) : std::nullopt) << url;
    }
    EXPECT_EQ(CannotCrawlText("htp://x/", "the scheme is not http or https"),
              "cannot crawl \"htp://x/\": the scheme is not http or https");
}
