#include "engine/http_header.h"
#include "engine/response_head.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace ormbrook;

namespace {

TEST(ResponseHead, HeadLimitIs64KilobytesWithLinesOf16)
{
    // Header lines of 16 KB and their blank line, 64 KB together, complete the head.
    const std::string line = "X:" + std::string(16 * 1024 - 4, 'v') + "\r\n";
    const std::string fits = line + line + line + "Y:" + std::string(16 * 1024 - 2 - 4, 'w') + "\r\n\r\n";
    ASSERT_EQ(fits.size(), 64u * 1024);
    ResponseHead head;
    head.Append("HTTP/1.0 200 OK\r\n");
    ASSERT_TRUE(head.TakeStatusLine());
    EXPECT_EQ(head.statusLine(), "HTTP/1.0 200 OK\r");
    EXPECT_EQ(head.Append(fits), fits.size());
    EXPECT_EQ(head.TooLong(true), nullptr);
    ASSERT_TRUE(head.SplitHead());
    EXPECT_EQ(head.headerBlock(), fits.substr(0, fits.size() - 4));
    EXPECT_TRUE(head.buffered().empty());

    struct Row {
        const char* intent;
        std::string head; // after the status line
        const char* reason;
    } rows[] = {
        {"one byte more fills the buffer before the blank line", "Z" + fits, "response head longer than 64 KB"},
        {"a line of 16 KB and one byte", "X:" + std::string(16 * 1024 - 1, 'v') + "\r", "header line longer than 16 KB"},
        {"a head still coming within the limits", line + "X:", nullptr},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.intent);
        head.Clear();
        head.Append("HTTP/1.0 200 OK\n");
        ASSERT_TRUE(head.TakeStatusLine());
        head.Append(r.head);
        EXPECT_FALSE(head.SplitHead());
        EXPECT_EQ(head.TooLong(true) ? std::string(head.TooLong(true)) : "", r.reason ? r.reason : "");
    }
}

TEST(ResponseHead, StatusLineMustFitWithItsLineFeed)
{
    ResponseHead head;
    head.Append(std::string(16 * 1024, 's') + "\n");
    ASSERT_TRUE(head.TakeStatusLine());
    EXPECT_EQ(head.statusLine().size(), 16u * 1024);

    head.Clear();
    head.Append(std::string(16 * 1024 + 1, 's') + "\n");
    EXPECT_FALSE(head.TakeStatusLine());
    EXPECT_STREQ(head.TooLong(false), "status line longer than 16 KB");
}

TEST(ResponseHead, BodyFollowsTheHead)
{
    ResponseHead head;
    head.Append("HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nbo");
    ASSERT_TRUE(head.TakeStatusLine());
    ASSERT_TRUE(head.SplitHead());
    EXPECT_EQ(head.headerBlock(), "Content-Length: 4");
    EXPECT_EQ(ContentLength(head.headerBlock()), 4);
    head.Append("dy");
    char body[8];
    EXPECT_EQ(head.Take(body, sizeof body), 4u);
    EXPECT_EQ(std::string(body, 4), "body");
    EXPECT_TRUE(head.buffered().empty());
}

// A request is itself a head: fed through the response buffers it must come
// back line for line.
TEST(ResponseHead, KeepsTheLinesOfABuiltRequest)
{
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        CHttpHeader header;
        header.SetRequestLine(round % 2 ? RequestMethod::Head : RequestMethod::Get,
            "/p" + std::to_string(round));
        std::vector<std::string> expected;
        for (int id = 1; id < CHttpHeader::kSlotCount; ++id) {
            if (random() % 4 != 0)
                continue;
            const std::string value = "v" + std::to_string(random() % 1000);
            header.SetField(static_cast<HeaderId>(id), value);
            expected.push_back(std::string(HeaderName(static_cast<HeaderId>(id))) + ":" + value);
        }
        std::string request;
        ASSERT_TRUE(header.BuildRequest(request));

        ResponseHead head;
        ASSERT_EQ(head.Append(request), request.size());
        ASSERT_TRUE(head.TakeStatusLine());
        EXPECT_EQ(head.statusLine(), header.slot(0) + "\r");
        ASSERT_TRUE(head.SplitHead());
        std::vector<std::string> lines;
        std::string_view block = head.headerBlock();
        while (!block.empty()) {
            const size_t end = std::min(block.find("\r\n"), block.size());
            lines.emplace_back(block.substr(0, end));
            block.remove_prefix(std::min(end + 2, block.size()));
        }
        EXPECT_EQ(lines, expected);
        EXPECT_TRUE(head.buffered().empty());
    }
}

} // namespace
