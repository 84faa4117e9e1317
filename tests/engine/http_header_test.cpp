#include "engine/http_header.h"

#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

using namespace ormbrook;
using namespace std::string_literals;

namespace {

TEST(HttpTables, LookUpTheirNumbers)
{
    for (int id = HeaderCacheControl; id <= HeaderLastModified; ++id)
        EXPECT_EQ(LookupHeaderId(HeaderName(static_cast<HeaderId>(id))), id);

    const std::pair<const char*, int> headers[] = {{"TRANSFERE-ENCODING", 5}, {"IF-UNMODIFIED_SINCE", 19},
        {"USER-AGENT", 24}, {"LOCATION", 26}, {"CONTENT-TYPE", 42}, {"LAST-MODIFIED", 45},
        {"TRANSFER-ENCODING", 0}, {"content-type", 0}, {"", 0}};
    for (const auto& [name, id] : headers)
        EXPECT_EQ(LookupHeaderId(name), id) << name;

    const std::pair<const char*, int> raw[] = {
        {"CONTENT-LENGTH", 22}, {"CONTENT-TRANSFER_ENCODING", 23}, {"VERSION", 32}, {"HOST", 0}, {"", 0}};
    for (const auto& [name, id] : raw)
        EXPECT_EQ(LookupRawHeaderId(name), id) << name;

    const std::pair<const char*, int> media[] = {{"MULTIPART", 7}, {"FOO", 0}, {"text", 0}};
    for (const auto& [name, id] : media)
        EXPECT_EQ(LookupMediaTopType(name), id) << name;
}

// ---- Requests ----------------------------------------------------------------

TEST(CHttpHeaderRequest, LinesFollowSlotOrder)
{
    CHttpHeader header;
    // Set out of order: the slot number, not the call order, places a line.
    header.SetField(HeaderUserAgent, "Ormbrook/1.005.0");
    header.SetField(HeaderReferer, "http://server/dir/");
    header.SetField(HeaderIfModifiedSince, "Sun, 06 Nov 1994 08:49:37 GMT");
    header.SetField(HeaderHost, "server");
    header.SetField(HeaderAccept, "*/*");
    header.SetField(HeaderPragma, "no-cache");
    header.SetField(HeaderCacheControl, "no-cache");
    header.SetRequestLine(RequestMethod::Get, "/dir/page.html");
    std::string request;
    ASSERT_TRUE(header.BuildRequest(request));
    EXPECT_EQ(request,
        "GET /dir/page.html HTTP/1.0\r\n"
        "CACHE-CONTROL:no-cache\r\n"
        "PRAGMA:no-cache\r\n"
        "ACCEPT:*/*\r\n"
        "HOST:server\r\n"
        "IF-MODIFIED-SINCE:Sun, 06 Nov 1994 08:49:37 GMT\r\n"
        "REFERER:http://server/dir/\r\n"
        "USER-AGENT:Ormbrook/1.005.0\r\n"
        "\r\n");
}

TEST(CHttpHeaderRequest, SlotRules)
{
    struct Row {
        const char* intent;
        void (*setUp)(CHttpHeader&);
        const char* expected;
    };
    const Row rows[] = {
        {"no optional slot: request line and a blank line",
            [](CHttpHeader& h) { h.SetRequestLine(RequestMethod::Get, "/"); }, "GET / HTTP/1.0\r\n\r\n"},
        {"HEAD request line", [](CHttpHeader& h) { h.SetRequestLine(RequestMethod::Head, "http://x/y"); },
            "HEAD http://x/y HTTP/1.0\r\n\r\n"},
        {"second value replaces the first",
            [](CHttpHeader& h) {
                h.SetRequestLine(RequestMethod::Get, "/");
                h.SetField(HeaderHost, "one");
                h.SetField(HeaderHost, "two");
            },
            "GET / HTTP/1.0\r\nHOST:two\r\n\r\n"},
        {"no space after the colon, value kept as given",
            [](CHttpHeader& h) {
                h.SetRequestLine(RequestMethod::Get, "/");
                h.SetField(HeaderExpires, " x ");
            },
            "GET / HTTP/1.0\r\nEXPIRES: x \r\n\r\n"},
        {"a NUL ends a value",
            [](CHttpHeader& h) {
                h.SetRequestLine(RequestMethod::Get, "/a\0b"s);
                h.SetField(HeaderFrom, "me\0\r\nX:evil"s);
            },
            "GET /a HTTP/1.0\r\nFROM:me\r\n\r\n"},
        {"last-modified has no slot",
            [](CHttpHeader& h) {
                h.SetRequestLine(RequestMethod::Get, "/");
                EXPECT_FALSE(h.SetField(HeaderLastModified, "x"));
                EXPECT_EQ(h.error(), HttpHeaderNoSlot);
                EXPECT_FALSE(h.SetField(HeaderNone, "x"));
            },
            "GET / HTTP/1.0\r\n\r\n"},
        {"cleared slots send nothing",
            [](CHttpHeader& h) {
                h.SetField(HeaderHost, "x");
                h.ClearSlots();
                h.SetRequestLine(RequestMethod::Get, "/");
            },
            "GET / HTTP/1.0\r\n\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.intent);
        CHttpHeader header;
        row.setUp(header);
        std::string request;
        ASSERT_TRUE(header.BuildRequest(request));
        EXPECT_EQ(header.error(), HttpHeaderOk);
        EXPECT_EQ(request, row.expected);
    }
}

TEST(CHttpHeaderRequest, RefusesMoreThan32767Bytes)
{
    // "GET " + uri + " HTTP/1.0" + CRLF + CRLF is the uri plus 17 bytes.
    CHttpHeader header;
    std::string request = "stale";
    header.SetRequestLine(RequestMethod::Get, std::string(32767 - 17, 'u'));
    ASSERT_TRUE(header.BuildRequest(request));
    EXPECT_EQ(request.size(), 32767u);

    header.SetField(HeaderAccept, "");  // "ACCEPT:" + CRLF pushes it over
    EXPECT_FALSE(header.BuildRequest(request));
    EXPECT_EQ(header.error(), HttpHeaderRequestTooLong);
    EXPECT_TRUE(request.empty());
}

// ---- Status line -------------------------------------------------------------

TEST(ParseStatusLine, ReadsVersionAndCode)
{
    struct Row {
        const char* intent;
        std::string line;
        bool accepted;
        int major, minor, code;
    };
    const Row rows[] = {
        {"plain", "HTTP/1.0 200 OK", true, 1, 0, 200},
        {"CR stays in the line but ends the code", "HTTP/1.1 404\r", true, 1, 1, 404},
        {"protocol name folded", "http/1.0 301 Moved", true, 1, 0, 301},
        {"leading and repeated spaces", "  HTTP/1.0   302 Found", true, 1, 0, 302},
        {"only the first line", "HTTP/1.0 200 OK\nHTTP/9.9 500", true, 1, 0, 200},
        {"multi-digit versions", "HTTP/10.25 204", true, 10, 25, 204},
        {"no code gives 0", "HTTP/1.0 OK", true, 1, 0, 0},
        {"no code at all", "HTTP/1.0", true, 1, 0, 0},
        {"tab is not a separator", "HTTP/1.0\t200", false, 0, 0, 0},
        {"CR right after the version", "HTTP/1.0\r", false, 0, 0, 0},
        {"version without a dot", "HTTP/1 200", false, 0, 0, 0},
        {"letter in the version", "HTTP/a.0 200", false, 0, 0, 0},
        {"other protocol", "ICY 200 OK", false, 0, 0, 0},
        {"prefix only in part", "HTTX/1.0 200", false, 0, 0, 0},
        {"empty", "", false, 0, 0, 0},
        {"a NUL ends the line", "HTTP/1.0 2\0"
                                "00"s,
            true, 1, 0, 2},
        {"huge numbers saturate", "HTTP/99999999999.1 99999999999999", true, INT_MAX, 1, INT_MAX},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.intent);
        StatusLine status;
        EXPECT_EQ(ParseStatusLine(row.line, status), row.accepted);
        if (row.accepted) {
            EXPECT_EQ(status.major, row.major);
            EXPECT_EQ(status.minor, row.minor);
            EXPECT_EQ(status.statusCode, row.code);
        }
    }
}

// ---- End of the head ---------------------------------------------------------

TEST(FindHeadEnd, FirstBlankLineEndsTheHead)
{
    struct Row {
        const char* intent;
        std::string buffer;
        bool found;
        size_t block, head;
    };
    const Row rows[] = {
        {"CRLF CRLF", "A:b\r\n\r\nbody", true, 3, 7},
        {"LF LF", "A:b\n\nbody", true, 3, 5},
        {"several lines", "A:b\r\nC:d\r\n\r\n", true, 8, 12},
        {"the earlier terminator wins", "A:b\n\nC:d\r\n\r\n", true, 3, 5},
        {"LF then CRLF is no terminator", "A:b\n\r\nx", false, 0, 0},
        {"one line break only", "A:b\r\n", false, 0, 0},
        {"half a terminator", "A:b\r\n\r", false, 0, 0},
        {"a head without header lines", "\r\nbody\n\nmore", true, 0, 2},
        {"a head without header lines, LF only", "\nbody", true, 0, 1},
        {"empty buffer", "", false, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.intent);
        const std::optional<HeadEnd> end = FindHeadEnd(row.buffer);
        EXPECT_EQ(end.has_value(), row.found);
        EXPECT_EQ(HeaderEndFound(row.buffer), row.found);
        if (end && row.found) {
            EXPECT_EQ(end->blockLength, row.block);
            EXPECT_EQ(end->headLength, row.head);
        }
    }
}

// ---- Header block ------------------------------------------------------------

struct HeaderRow {
    const char* intent;
    std::string block;
    bool ok;
    const char* location;
    bool typeValid;
    MediaTopType top;
    const char* subtype;
};

const HeaderRow kHeaderRows[] = {
    {"media type", "Content-Type: text/html", true, "", true, MediaText, "HTML"},
    {"name in any case, parameter", "content-TYPE: text/html; charset=Shift_JIS", true, "", true, MediaText,
        "HTML"},
    {"picture type", "Server: x\r\nContent-Type: image/gif\r\nX: y", true, "", true, MediaImage, "GIF"},
    {"unknown type is still valid", "Content-Type: foo/bar", true, "", true, MediaUnknown, "BAR"},
    {"several parameters", "Content-Type: text/plain ; a=b;c=d \r\nLocation: /x", true, "/x", true, MediaText,
        "PLAIN"},
    {"parameter without semicolon", "Content-Type: text/html a=b", true, "", true, MediaText, "HTML"},
    {"parameter without value", "Content-Type: text/html; charset", false, "", false, MediaText, "HTML"},
    {"empty parameter", "Content-Type: text/html;", false, "", false, MediaText, "HTML"},
    {"quoted value is no token", "Content-Type: text/html; charset=\"x\"", false, "", false, MediaText, "HTML"},
    {"type without subtype", "Content-Type: text", false, "", false, MediaText, ""},
    {"location up to a space", "Location: http://x/a b", true, "http://x/a", false, MediaUnknown, ""},
    {"location as the last line", "Server: z\r\nLocation: http://x/last", true, "http://x/last", false,
        MediaUnknown, ""},
    {"location of 16 KB (a redirect with a long query)", "Location: " + std::string(16 * 1024, 'l'), true, nullptr,
        false, MediaUnknown, ""},
    {"location of 16 KB and one byte", "Location: " + std::string(16 * 1024 + 1, 'l'), false, "", false,
        MediaUnknown, ""},
    {"location starting with a tab", "Location:\tx", false, "", false, MediaUnknown, ""},
    {"nothing after the colon", "Location:", false, "", false, MediaUnknown, ""},
    {"only blanks after the colon", "Location:  \r\n", false, "", false, MediaUnknown, ""},
    {"good date is dropped", "Date: Sun, 06 Nov 1994 08:49:37 GMT\r\nLocation: x", true, "x", false,
        MediaUnknown, ""},
    {"bad date stops the parse", "Location: a\r\nDate: never\r\nLocation: b", false, "a", false, MediaUnknown,
        ""},
    {"bad date hides what follows", "Date: never\r\nLocation: b", false, "", false, MediaUnknown, ""},
    {"unknown fields are skipped", "X-Unknown: what ever\r\nContent-Type: text/plain", true, "", true,
        MediaText, "PLAIN"},
    {"space inside a name", "Bad Name: x", false, "", false, MediaUnknown, ""},
    {"empty name", ": x", false, "", false, MediaUnknown, ""},
    {"8-bit name", "\xff: x", false, "", false, MediaUnknown, ""},
    {"name of 1024 bytes", std::string(1024, 'N') + ": x", false, "", false, MediaUnknown, ""},
    {"blank line ends the block", "\r\n\r\nContent-Type: text/html", true, "", false, MediaUnknown, ""},
    {"a NUL ends the block", "Content-Type: text/html\0Location: x"s, true, "", true, MediaText, "HTML"},
    {"LF-only lines", "Location: y\nContent-Type: audio/basic\n", true, "y", true, MediaAudio, "BASIC"},
};

TEST(CHttpHeaderParse, FillsResultsUpToTheFirstError)
{
    CHttpHeader header;
    for (const HeaderRow& row : kHeaderRows) {
        SCOPED_TRACE(row.intent);
        EXPECT_EQ(header.ParseHeaders(row.block), row.ok);
        EXPECT_EQ(header.error() < 0, !row.ok);
        if (row.location) {
            EXPECT_EQ(header.location(), row.location);
        } else {
            EXPECT_EQ(header.location().size(), CHttpHeader::kMaxLocationLength);
        }
        EXPECT_EQ(header.contentTypeValid(), row.typeValid);
        EXPECT_EQ(header.mediaTopType(), row.top);
        EXPECT_EQ(header.mediaSubtype(), row.subtype);
        EXPECT_FALSE(header.lastModifiedValid());
    }
}

struct DateRow {
    const char* intent;
    std::string text;
    bool ok;
    HttpDate date;
};

const DateRow kDates[] = {
    {"RFC 1123", "Sun, 06 Nov 1994 08:49:37 GMT", true, {1994, 11, 6, 8, 49, 37}},
    {"RFC 850", "Sunday, 06-Nov-94 08:49:37 GMT", true, {94, 11, 6, 8, 49, 37}},
    {"asctime", "Sun Nov  6 08:49:37 1994", true, {1994, 11, 6, 8, 49, 37}},
    {"JMT zone", "Thu, 01 Jan 1970 00:00:00 JMT", true, {1970, 1, 1, 0, 0, 0}},
    {"extra spaces and single digits", "   Sun,   6 Dec  1994 8:9:7   GMT", true, {1994, 12, 6, 8, 9, 7}},
    {"trailing text ignored", "Sat, 01 Feb 2003 04:05:06 GMT; x", true, {2003, 2, 1, 4, 5, 6}},
    {"asctime with a short year", "Mon Jan 2 03:04:05 94", true, {94, 1, 2, 3, 4, 5}},
    {"day name case matters", "sun, 06 Nov 1994 08:49:37 GMT", false, {}},
    {"month name case matters", "Sun, 06 NOV 1994 08:49:37 GMT", false, {}},
    {"other zone", "Sun, 06 Nov 1994 08:49:37 UTC", false, {}},
    {"zone missing", "Sun, 06 Nov 1994 08:49:37", false, {}},
    {"seconds missing", "Sun, 06 Nov 1994 08:49 GMT", false, {}},
    {"three-digit day", "Sun, 006 Nov 1994 08:49:37 GMT", false, {}},
    {"five-digit year", "Sun, 06 Nov 19945 08:49:37 GMT", false, {}},
    {"short day name in the RFC 850 form", "Sun, 06-Nov-94 08:49:37 GMT", false, {}},
    {"asctime without a year", "Sun Nov  6 08:49:37", false, {}},
    {"empty", "", false, {}},
};

TEST(HttpDates, ThreeFormsAreAccepted)
{
    for (const DateRow& row : kDates) {
        SCOPED_TRACE(row.intent);
        HttpDate date;
        EXPECT_EQ(ParseHttpDate(row.text, date), row.ok);
        if (row.ok) {
            EXPECT_EQ(date, row.date);
        }
    }
}

TEST(CHttpHeaderParse, LastModifiedKeepsItsFields)
{
    CHttpHeader header;
    for (const DateRow& row : kDates) {
        SCOPED_TRACE(row.intent);
        EXPECT_EQ(header.ParseHeaders("Last-Modified: " + row.text + "\r\nLocation: l"), row.ok);
        EXPECT_EQ(header.lastModifiedValid(), row.ok);
        if (row.ok) {
            EXPECT_EQ(header.lastModified(), row.date);
            EXPECT_EQ(header.location(), "l");
        }
    }
}

TEST(HttpDateToTime, TakesTwoDigitYearsAndRefusesFieldsOutOfRange)
{
    const std::pair<HttpDate, std::optional<int64_t>> rows[] = {
        {{1994, 11, 6, 8, 49, 37}, 784111777},
        {{94, 11, 6, 8, 49, 37}, 784111777},
        {{5, 1, 1, 0, 0, 0}, 1104537600},
        {{2000, 2, 29, 0, 0, 0}, 951782400},
        {{1970, 1, 1, 0, 0, 0}, 0},
        {{1969, 12, 31, 23, 59, 59}, std::nullopt},
        {{1994, 13, 1, 0, 0, 0}, std::nullopt},
        {{1994, 0, 1, 0, 0, 0}, std::nullopt},
        {{1994, 4, 31, 0, 0, 0}, std::nullopt},
        {{1994, 1, 1, 24, 0, 0}, std::nullopt},
        {{1994, 1, 1, 0, 60, 0}, std::nullopt},
    };
    for (const auto& [date, time] : rows)
        EXPECT_EQ(HttpDateToTime(date), time) << date.year << "-" << date.month << "-" << date.day;
}

TEST(CHttpHeaderParse, EtagIsKeptAsSentWhenItIsOneVisibleToken)
{
    const std::pair<std::string, std::string> rows[] = {
        {"ETag: \"5e0c-1a\"\r\nLocation: l", "\"5e0c-1a\""},
        {"etag:W/\"x\"  \r\n", "W/\"x\""},
        {"ETag: \"a b\"\r\n", ""},
        {"ETag: \"\x82\"\r\n", ""},
        {"Server: x\r\n", ""},
    };
    CHttpHeader header;
    for (const auto& [block, etag] : rows) {
        header.ParseHeaders(block);
        EXPECT_EQ(header.etag(), etag) << block;
    }
}

TEST(RawHeaderValue, ReadsTheWholeValue)
{
    struct Row {
        const char* intent;
        std::string block;
        std::optional<std::string> value;
        int64_t contentLength;
    };
    const Row rows[] = {
        {"spaces and CR stay in the value", "Server: x\r\nContent-Length:   1234\r\nDate: y", "   1234\r", 1234},
        {"name in any case", "content-length: 12", " 12", 12},
        {"leading spaces before the name", "   Content-Length: 5", " 5", 5},
        {"value starting with a letter", "Content-Length: a5", " a5", 0},
        {"no such field", "Server: x\r\nDate: y", std::nullopt, 0},
        {"line without a colon is skipped", "Junk line\r\nContent-Length: 7", " 7", 7},
        {"no colon left gives up", "Content-Type: x\r\njunk", std::nullopt, 0},
        {"space before the colon", "Content-Length : 5", std::nullopt, 0},
        {"after a long policy line", "Content-Security-Policy: " + std::string(30000, 'a') + "\r\nContent-Length: 5",
            " 5", 5},
        {"beyond 64 KB", "X: " + std::string(64 * 1024, 'a') + "\r\nContent-Length: 5", std::nullopt, 0},
        {"empty value", "Content-Length:", "", 0},
        {"huge number saturates", "Content-Length: 99999999999999999999999", " 99999999999999999999999",
            INT64_MAX},
        {"a NUL ends the block", "Server: x\0\r\nContent-Length: 5"s, std::nullopt, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.intent);
        const std::optional<std::string_view> value = RawHeaderValue(row.block, RawContentLength);
        EXPECT_EQ(value.has_value(), row.value.has_value());
        if (value && row.value) {
            EXPECT_EQ(*value, *row.value);
        }
        EXPECT_EQ(ContentLength(row.block), row.contentLength);
    }
    EXPECT_EQ(RawHeaderValue("A: b\r\nLocation: http://x/\r\n", RawLocation), " http://x/\r");
    EXPECT_EQ(RawHeaderValue("A: b", RawNone), std::nullopt);
}

// ---- Conditional date ----------------------------------------------------------

TEST(FormatHttpDate, WritesRfc1123InUtc)
{
    const std::pair<int64_t, const char*> rows[] = {
        {784111777, "Sun, 06 Nov 1994 08:49:37 GMT"},
        {0, "Thu, 01 Jan 1970 00:00:00 GMT"},
        {951782400, "Tue, 29 Feb 2000 00:00:00 GMT"},
        {-1, "Wed, 31 Dec 1969 23:59:59 GMT"},
        {4102444800, "Fri, 01 Jan 2100 00:00:00 GMT"},
    };
    for (const auto& [time, text] : rows)
        EXPECT_EQ(FormatHttpDate(time), text) << time;
}

TEST(FormatHttpDate, AgreesWithTheCalendarAndParsesBack)
{
    std::mt19937_64 random(11);
    for (int i = 0; i < 5000; ++i) {
        const auto time = static_cast<int64_t>(random() % (int64_t(1) << 35));
        const std::time_t t = time;
        std::tm tm{};
        ASSERT_NE(gmtime_r(&t, &tm), nullptr);
        HttpDate date;
        const std::string text = FormatHttpDate(time);
        ASSERT_TRUE(ParseHttpDate(text, date)) << text;
        const HttpDate expected{static_cast<int16_t>(tm.tm_year + 1900), static_cast<int16_t>(tm.tm_mon + 1),
            static_cast<int16_t>(tm.tm_mday), static_cast<int16_t>(tm.tm_hour), static_cast<int16_t>(tm.tm_min),
            static_cast<int16_t>(tm.tm_sec)};
        ASSERT_EQ(date, expected) << text;
        ASSERT_EQ(HttpDateToTime(date), time) << text;
        static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
        ASSERT_EQ(text.substr(0, 3), days[tm.tm_wday]) << text;
    }
}

TEST(FormatHttpDate, SameBytesWhateverLocaleAndZone)
{
    const std::string before = FormatHttpDate(784111777);
    const std::string savedLocale = std::setlocale(LC_ALL, nullptr);
    const char* savedZone = std::getenv("TZ");
    const std::string zoneCopy = savedZone ? savedZone : "";

    const char* const locales[] = {"de_DE.UTF-8", "ja_JP.UTF-8", "fr_FR.UTF-8", "C.UTF-8", "C"};
    const char* const zones[] = {"Asia/Tokyo", "America/Los_Angeles", "JST-9", "UTC"};
    for (const char* locale : locales) {
        if (!std::setlocale(LC_ALL, locale))
            continue;  // not installed here
        for (const char* zone : zones) {
            setenv("TZ", zone, 1);
            tzset();
            EXPECT_EQ(FormatHttpDate(784111777), before) << locale << " " << zone;
        }
    }
    std::setlocale(LC_ALL, savedLocale.c_str());
    if (savedZone)
        setenv("TZ", zoneCopy.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

} // namespace
