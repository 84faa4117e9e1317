#pragma once
// HTTP message layer: the numbered header tables, the request built from the
// slots of CHttpHeader, and the parsers of the response head. Nothing here
// does input or output; the transfer feeds it bytes and sends what it builds.
//
// Every function takes arbitrary bytes and treats them as a NUL-terminated
// text: a NUL inside a view ends it. No scan reads past its input.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ormbrook {

// Request slots and recognised response fields. The id is the request slot,
// so the order here is also the order of the lines in every request.
enum HeaderId : int {
    HeaderNone = 0,
    HeaderCacheControl = 1,
    HeaderConnection,
    HeaderDate,
    HeaderPragma,
    HeaderTransferEncoding,
    HeaderUpgrade,
    HeaderVia,
    HeaderAccept,
    HeaderAcceptCharset,
    HeaderAcceptEncoding,
    HeaderAcceptLanguage,
    HeaderAuthorization,
    HeaderFrom,
    HeaderHost,
    HeaderIfModifiedSince,
    HeaderIfMatch,
    HeaderIfNoneMatch,
    HeaderIfRange,
    HeaderIfUnmodifiedSince,
    HeaderMaxForwards,
    HeaderProxyAuthorization,
    HeaderRange,
    HeaderReferer,
    HeaderUserAgent,
    HeaderAge,
    HeaderLocation,
    HeaderProxyAuthenticate,
    HeaderPublic,
    HeaderRetryAfter,
    HeaderServer,
    HeaderVary,
    HeaderWarning,
    HeaderWwwAuthenticate,
    HeaderAllow,
    HeaderContentBase,
    HeaderContentEncoding,
    HeaderContentLanguage,
    HeaderContentLength,
    HeaderContentLocation,
    HeaderContentMd5,
    HeaderContentRange,
    HeaderContentType,
    HeaderEtag,
    HeaderExpires,
    HeaderLastModified, // recognised in responses; has no request slot
};

// The table of the raw header lookup (RawHeaderValue).
enum RawHeaderId : int {
    RawNone = 0,
    RawDate = 1,
    RawForwarded,
    RawMessageId,
    RawMimeVersion,
    RawAccept,
    RawAcceptCharset,
    RawAcceptEncoding,
    RawAcceptLanguage,
    RawAuthorization,
    RawFrom,
    RawIfModifiedSince,
    RawPragma,
    RawReferer,
    RawUserAgent,
    RawPublic,
    RawRetryAfter,
    RawServer,
    RawWwwAuthenticate,
    RawAllow,
    RawContentEncoding,
    RawContentLanguage,
    RawContentLength,
    RawContentTransferEncoding,
    RawContentType,
    RawDerivedFrom,
    RawExpires,
    RawLastModified,
    RawLink,
    RawLocation,
    RawTitle,
    RawUriHeader,
    RawVersion,
};

enum MediaTopType : int16_t {
    MediaUnknown = 0,
    MediaText = 1,
    MediaImage,
    MediaAudio,
    MediaVideo,
    MediaApplication,
    MediaMessage,
    MediaMultipart,
};

// Lookups in the ordered tables; names must already be upper case.
HeaderId LookupHeaderId(std::string_view upperName);
RawHeaderId LookupRawHeaderId(std::string_view upperName);
MediaTopType LookupMediaTopType(std::string_view upperName);
// The wire name of a header id ("" for HeaderNone and ids out of range).
std::string_view HeaderName(HeaderId id);

enum HttpHeaderError : int16_t {
    HttpHeaderOk = 0,
    HttpHeaderOutOfMemory = -1,
    HttpHeaderMalformed = -2,       // ParseHeaders met a malformed line
    HttpHeaderRequestTooLong = -3,  // BuildRequest: the text would exceed 32,767 bytes
    HttpHeaderNoSlot = -4,          // SetField with an id that has no request slot
};

enum class RequestMethod { Get, Head };
// "HTTP/1.0" is the request line this program has always sent; "HTTP/1.1"
// the one of a persistent connection.
enum class RequestVersion { Http10, Http11 };

// The longest response head read (status line and header lines), and the
// longest line in it.
constexpr size_t kMaxResponseHead = 64 * 1024;
constexpr size_t kMaxHeadLine = 16 * 1024;

// A date of a response field, as written (no range check): month 1-12.
struct HttpDate {
    int16_t year = 0;
    int16_t month = 0;
    int16_t day = 0;
    int16_t hour = 0;
    int16_t minute = 0;
    int16_t second = 0;

    bool operator==(const HttpDate&) const = default;
};

// Parses an HTTP date in the RFC 1123, RFC 850 or asctime form, in that
// order; leading spaces allowed, trailing text ignored.
bool ParseHttpDate(std::string_view text, HttpDate& date);

// The calendar time (seconds since 1970, UTC) of a parsed date; nothing when
// a field is out of its range. A two-digit year (RFC 850) below 70 is taken
// as 20xx, else as 19xx.
std::optional<int64_t> HttpDateToTime(const HttpDate& date);

class CHttpHeader {
public:
    static constexpr int kSlotCount = 45;
    static constexpr size_t kMaxRequestLength = 32767;  // counted in a signed 16-bit number
    static constexpr size_t kMaxLocationLength = kMaxHeadLine;
    static constexpr size_t kMaxTokenLength = 1023;

    // Stores "NAME:value" in slot id (1-44), replacing what was there.
    bool SetField(HeaderId id, std::string_view value);
    // Slot 0 := "GET <uri> HTTP/1.0" or "HEAD <uri> HTTP/1.0" (HTTP/1.1 as
    // asked).
    bool SetRequestLine(RequestMethod method, std::string_view requestUri,
                        RequestVersion version = RequestVersion::Http10);
    // Writes the request text into request (reusing its capacity). Over
    // 32,767 bytes nothing is sent: request is left empty, error() is
    // HttpHeaderRequestTooLong and the answer is false.
    bool BuildRequest(std::string& request);
    const std::string& slot(int index) const;
    void ClearSlots();

    // Fills the parse results from a header block; false at the first
    // malformed line, keeping what was found before it.
    bool ParseHeaders(std::string_view block);

    int16_t error() const { return error_; }
    const std::string& location() const { return location_; }
    bool contentTypeValid() const { return contentTypeValid_; }
    MediaTopType mediaTopType() const { return mediaTopType_; }
    const std::string& mediaSubtype() const { return mediaSubtype_; }
    bool lastModifiedValid() const { return lastModifiedValid_; }
    const HttpDate& lastModified() const { return lastModified_; }
    // The ETAG value as sent (quotes and a "W/" included), empty when there
    // is none or it is not one token of visible bytes.
    const std::string& etag() const { return etag_; }

private:
    bool ParseMediaType(std::string_view block, size_t& pos);

    std::array<std::string, kSlotCount> slots_;
    int16_t error_ = HttpHeaderOk;
    std::string location_;
    bool contentTypeValid_ = false;
    MediaTopType mediaTopType_ = MediaUnknown;
    std::string mediaSubtype_;
    bool lastModifiedValid_ = false;
    HttpDate lastModified_;
    std::string etag_;
};

// Version and status code of a response's first line.
struct StatusLine {
    int major = 0;
    int minor = 0;
    int statusCode = 0;
};

// Parses the status line (the text before the first "\n"; a CR stays in
// it). False when the first token is not "HTTP/<digits>.<digits>".
bool ParseStatusLine(std::string_view line, StatusLine& status);

// Where the head ends in a receive buffer from which the status line has
// been removed: the header block is buffer[0, blockLength), and
// buffer[0, headLength) goes with its terminator.
struct HeadEnd {
    size_t blockLength = 0;
    size_t headLength = 0;
};
std::optional<HeadEnd> FindHeadEnd(std::string_view buffer);
inline bool HeaderEndFound(std::string_view buffer) { return FindHeadEnd(buffer).has_value(); }

// The value of the first line whose name has the given raw id: the text
// after the ":" to the end of the line, leading spaces and a trailing CR
// included. Looks at no more than the first kMaxResponseHead bytes.
std::optional<std::string_view> RawHeaderValue(std::string_view block, RawHeaderId id);

// The value of the first field of that name (any case; upperName in upper
// case), without the spaces and tabs around it; nothing when there is none.
std::optional<std::string_view> FieldValue(std::string_view block, std::string_view upperName);
// Whether a field of that name lists the token (a comma-separated list, as
// CONNECTION and TRANSFER-ENCODING are; compared in any case); with last,
// whether the token ends the list.
bool FieldHasToken(std::string_view block, std::string_view upperName, std::string_view token, bool last = false);

// The CONTENT-LENGTH value; 0 when there is none or it has no digit.
int64_t ContentLength(std::string_view block);

// "Sun, 06 Nov 1994 08:49:37 GMT" for a calendar time, always in UTC and
// English, whatever the locale and time zone of the process.
std::string FormatHttpDate(int64_t time);

} // namespace ormbrook
