#include "engine/http_header.h"

#include "common/name_index.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <new>

namespace ormbrook {

namespace {

struct NameId {
    std::string_view name; // compared by length first
    int id;
};

// Ordered tables ended by the empty name (id 0). The odd spellings are the
// ones this program has always used; they never match a real response field.
constexpr NameId kHeaderIds[] = {
    {"CACHE-CONTROL", 1}, {"CONNECTION", 2}, {"DATE", 3}, {"PRAGMA", 4}, {"TRANSFERE-ENCODING", 5},
    {"UPGRADE", 6}, {"VIA", 7}, {"ACCEPT", 8}, {"ACCEPT-CHARSET", 9}, {"ACCEPT-ENCODING", 10},
    {"ACCEPT-LANGUAGE", 11}, {"AUTHORIZATION", 12}, {"FROM", 13}, {"HOST", 14}, {"IF-MODIFIED-SINCE", 15},
    {"IF-MATCH", 16}, {"IF-NONE-MATCH", 17}, {"IF-RANGE", 18}, {"IF-UNMODIFIED_SINCE", 19},
    {"MAX-FORWARDS", 20}, {"PROXY-AUTHORIZATION", 21}, {"RANGE", 22}, {"REFERER", 23}, {"USER-AGENT", 24},
    {"AGE", 25}, {"LOCATION", 26}, {"PROXY-AUTHENTICATE", 27}, {"PUBLIC", 28}, {"RETRY-AFTER", 29},
    {"SERVER", 30}, {"VARY", 31}, {"WARNING", 32}, {"WWW-AUTHENTICATE", 33}, {"ALLOW", 34},
    {"CONTENT-BASE", 35}, {"CONTENT-ENCODING", 36}, {"CONTENT-LANGUAGE", 37}, {"CONTENT-LENGTH", 38},
    {"CONTENT-LOCATION", 39}, {"CONTENT-MD5", 40}, {"CONTENT-RANGE", 41}, {"CONTENT-TYPE", 42},
    {"ETAG", 43}, {"EXPIRES", 44}, {"LAST-MODIFIED", 45}, {"", 0},
};

constexpr NameId kRawHeaderIds[] = {
    {"DATE", 1}, {"FORWARDED", 2}, {"MESSAGE-ID", 3}, {"MIME-VERSION", 4}, {"ACCEPT", 5},
    {"ACCEPT-CHARSET", 6}, {"ACCEPT-ENCODING", 7}, {"ACCEPT-LANGUAGE", 8}, {"AUTHORIZATION", 9},
    {"FROM", 10}, {"IF-MODIFIED-SINCE", 11}, {"PRAGMA", 12}, {"REFERER", 13}, {"USER-AGENT", 14},
    {"PUBLIC", 15}, {"RETRY-AFTER", 16}, {"SERVER", 17}, {"WWW-AUTHENTICATE", 18}, {"ALLOW", 19},
    {"CONTENT-ENCODING", 20}, {"CONTENT-LANGUAGE", 21}, {"CONTENT-LENGTH", 22},
    {"CONTENT-TRANSFER_ENCODING", 23}, {"CONTENT-TYPE", 24}, {"DERIVED-FROM", 25}, {"EXPIRES", 26},
    {"LAST-MODIFIED", 27}, {"LINK", 28}, {"LOCATION", 29}, {"TITLE", 30}, {"URI-HEADER", 31},
    {"VERSION", 32}, {"", 0},
};

constexpr NameId kMediaTopTypes[] = {
    {"TEXT", 1}, {"IMAGE", 2}, {"AUDIO", 3}, {"VIDEO", 4}, {"APPLICATION", 5}, {"MESSAGE", 6},
    {"MULTIPART", 7}, {"", 0},
};

static_assert(std::size(kHeaderIds) == 46 && kHeaderIds[44].id == HeaderLastModified);
static_assert(std::size(kRawHeaderIds) == 33 && kRawHeaderIds[21].id == RawContentLength);

// The end mark is left out of each index.
static_assert(std::size(kHeaderIds) - 1 <= 64 && std::size(kRawHeaderIds) - 1 <= 64);
constexpr NameIndex kHeaderIndex = MakeNameIndex(kHeaderIds, std::size(kHeaderIds) - 1);
constexpr NameIndex kRawHeaderIndex = MakeNameIndex(kRawHeaderIds, std::size(kRawHeaderIds) - 1);
constexpr NameIndex kMediaTopTypeIndex = MakeNameIndex(kMediaTopTypes, std::size(kMediaTopTypes) - 1);

template <size_t N>
int Lookup(const NameId (&table)[N], const NameIndex& index, std::string_view name)
{
    const NameId* entry = FindByName(table, index, name);
    return entry ? entry->id : 0;
}

// Longest name in the raw table; a longer name can't match and isn't folded.
constexpr size_t kMaxRawNameLength = 25;

// The longest head bounds every scan of one.
constexpr size_t kHeadLimit = kMaxResponseHead;

std::string_view UpToNul(std::string_view text)
{
    if (text.empty())
        return text;  // its data() may be null, which memchr must not see
    const void* nul = std::memchr(text.data(), '\0', text.size());
    return nul ? text.substr(0, static_cast<const char*>(nul) - text.data()) : text;
}

inline char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c; }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Accumulates a decimal digit, saturating instead of overflowing.
template <typename T>
T AddDigit(T value, char digit, T limit)
{
    const T d = digit - '0';
    return value > (limit - d) / 10 ? limit : static_cast<T>(value * 10 + d);
}

// Token bytes: 7-bit, not control, not a separator.
constexpr std::array<bool, 256> MakeTokenBytes()
{
    std::array<bool, 256> table{};
    for (int c = 33; c < 127; ++c)
        table[c] = true;
    for (const char* separator = "()<>@,;:\\\"/[]?={}"; *separator; ++separator)
        table[static_cast<unsigned char>(*separator)] = false;
    return table;
}
constexpr std::array<bool, 256> kTokenBytes = MakeTokenBytes();

inline bool IsTokenByte(char c) { return kTokenBytes[static_cast<unsigned char>(c)]; }

// Reads a bounded text with a cursor; past the end it yields NUL.
struct Cursor {
    std::string_view text;
    size_t pos = 0;

    char at(size_t offset = 0) const { return pos + offset < text.size() ? text[pos + offset] : '\0'; }
    void skipSpaces()
    {
        while (at() == ' ')
            ++pos;
    }
    bool expect(char c)
    {
        if (at() != c)
            return false;
        ++pos;
        return true;
    }
    // One to maxDigits decimal digits.
    bool number(int maxDigits, int16_t& value)
    {
        int v = 0;
        int count = 0;
        while (count < maxDigits && IsDigit(at())) {
            v = v * 10 + (at() - '0');
            ++pos;
            ++count;
        }
        value = static_cast<int16_t>(v);
        return count > 0;
    }
    // One of names, matched exactly; value is its position.
    template <size_t N>
    bool oneOf(const char* const (&names)[N], int16_t& value)
    {
        for (size_t i = 0; i < N; ++i) {
            const size_t length = std::strlen(names[i]);
            if (text.substr(pos).substr(0, length) == names[i]) {
                pos += length;
                value = static_cast<int16_t>(i);
                return true;
            }
        }
        return false;
    }
};

constexpr const char* kShortDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr const char* kLongDays[] = {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kZones[] = {"GMT", "JMT"};

bool ParseTime(Cursor& c, HttpDate& date)
{
    return c.number(2, date.hour) && c.expect(':') && c.number(2, date.minute) && c.expect(':')
        && c.number(2, date.second);
}

bool ParseMonth(Cursor& c, HttpDate& date)
{
    if (!c.oneOf(kMonths, date.month))
        return false;
    ++date.month;
    return true;
}

// "Sun, 06 Nov 1994 08:49:37 GMT"
bool ParseRfc1123(Cursor c, HttpDate& date)
{
    int16_t ignored = 0;
    c.skipSpaces();
    if (!c.oneOf(kShortDays, ignored) || !c.expect(','))
        return false;
    c.skipSpaces();
    if (!c.number(2, date.day))
        return false;
    c.skipSpaces();
    if (!ParseMonth(c, date))
        return false;
    c.skipSpaces();
    if (!c.number(4, date.year))
        return false;
    c.skipSpaces();
    if (!ParseTime(c, date))
        return false;
    c.skipSpaces();
    return c.oneOf(kZones, ignored);
}

// "Sunday, 06-Nov-94 08:49:37 GMT"
bool ParseRfc850(Cursor c, HttpDate& date)
{
    int16_t ignored = 0;
    c.skipSpaces();
    if (!c.oneOf(kLongDays, ignored) || !c.expect(','))
        return false;
    c.skipSpaces();
    if (!c.number(2, date.day) || !c.expect('-') || !ParseMonth(c, date) || !c.expect('-')
        || !c.number(2, date.year))
        return false;
    c.skipSpaces();
    if (!ParseTime(c, date))
        return false;
    c.skipSpaces();
    return c.oneOf(kZones, ignored);
}

// "Sun Nov  6 08:49:37 1994"
bool ParseAsctime(Cursor c, HttpDate& date)
{
    int16_t ignored = 0;
    c.skipSpaces();
    if (!c.oneOf(kShortDays, ignored))
        return false;
    c.skipSpaces();
    if (!ParseMonth(c, date))
        return false;
    c.skipSpaces();
    if (!c.number(2, date.day))
        return false;
    c.skipSpaces();
    if (!ParseTime(c, date))
        return false;
    c.skipSpaces();
    return c.number(4, date.year);
}

} // namespace

HeaderId LookupHeaderId(std::string_view upperName) { return static_cast<HeaderId>(Lookup(kHeaderIds, kHeaderIndex, upperName)); }

RawHeaderId LookupRawHeaderId(std::string_view upperName)
{
    return static_cast<RawHeaderId>(Lookup(kRawHeaderIds, kRawHeaderIndex, upperName));
}

MediaTopType LookupMediaTopType(std::string_view upperName)
{
    return static_cast<MediaTopType>(Lookup(kMediaTopTypes, kMediaTopTypeIndex, upperName));
}

std::string_view HeaderName(HeaderId id)
{
    if (id < HeaderCacheControl || id > HeaderLastModified)
        return {};
    return kHeaderIds[id - 1].name;
}

bool ParseHttpDate(std::string_view text, HttpDate& date)
{
    const Cursor cursor{UpToNul(text), 0};
    HttpDate parsed;
    if (ParseRfc1123(cursor, parsed) || (parsed = HttpDate(), ParseRfc850(cursor, parsed))
        || (parsed = HttpDate(), ParseAsctime(cursor, parsed))) {
        date = parsed;
        return true;
    }
    return false;
}

// ---- Request --------------------------------------------------------------

bool CHttpHeader::SetField(HeaderId id, std::string_view value)
{
    error_ = HttpHeaderOk;
    if (id < HeaderCacheControl || id >= kSlotCount) {
        error_ = HttpHeaderNoSlot;
        return false;
    }
    std::string& slot = slots_[id];
    try {
        const std::string_view name = HeaderName(id);
        value = UpToNul(value);
        slot.clear();
        slot.reserve(name.size() + 1 + value.size());
        slot.append(name).append(1, ':').append(value);
    } catch (const std::bad_alloc&) {
        slot = std::string();
        error_ = HttpHeaderOutOfMemory;
        return false;
    }
    return true;
}

bool CHttpHeader::SetRequestLine(RequestMethod method, std::string_view requestUri, RequestVersion version)
{
    error_ = HttpHeaderOk;
    std::string& line = slots_[0];
    try {
        requestUri = UpToNul(requestUri);
        line.assign(method == RequestMethod::Head ? "HEAD " : "GET ");
        line.append(requestUri).append(version == RequestVersion::Http11 ? " HTTP/1.1" : " HTTP/1.0");
    } catch (const std::bad_alloc&) {
        line = std::string();
        error_ = HttpHeaderOutOfMemory;
        return false;
    }
    return true;
}

bool CHttpHeader::BuildRequest(std::string& request)
{
    error_ = HttpHeaderOk;
    request.clear();
    size_t length = slots_[0].size() + 2 + 2;
    for (int i = 1; i < kSlotCount; ++i) {
        if (!slots_[i].empty())
            length += slots_[i].size() + 2;
    }
    if (length > kMaxRequestLength) {
        error_ = HttpHeaderRequestTooLong;
        return false;
    }
    try {
        request.reserve(length);
        request.append(slots_[0]).append("\r\n");
        for (int i = 1; i < kSlotCount; ++i) {
            if (!slots_[i].empty())
                request.append(slots_[i]).append("\r\n");
        }
        request.append("\r\n");
    } catch (const std::bad_alloc&) {
        request.clear();
        error_ = HttpHeaderOutOfMemory;
        return false;
    }
    return true;
}

const std::string& CHttpHeader::slot(int index) const
{
    static const std::string empty;
    return index >= 0 && index < kSlotCount ? slots_[index] : empty;
}

void CHttpHeader::ClearSlots()
{
    for (std::string& slot : slots_)
        slot.clear();
}

// ---- Response ---------------------------------------------------------------

namespace {

// The header block ends at its NUL (the end of the view), or at a blank line.
bool AtBlockEnd(const Cursor& c)
{
    const char ch = c.at();
    return ch == '\0' || (ch == '\r' && c.at(1) == '\n' && c.at(2) == '\r' && c.at(3) == '\n')
        || (ch == '\n' && c.at(1) == '\n');
}

void SkipBlanks(Cursor& c)
{
    while (!AtBlockEnd(c) && (c.at() == ' ' || c.at() == '\r' || c.at() == '\n'))
        ++c.pos;
}

void SkipSpacesAndTabs(Cursor& c)
{
    while (c.at() == ' ' || c.at() == '\t')
        ++c.pos;
}

bool AtLineEnd(const Cursor& c)
{
    return c.at() == '\0' || c.at() == '\n' || (c.at() == '\r' && c.at(1) == '\n');
}

// Reads a token folded to upper case into out; false when empty or too long.
bool ReadToken(Cursor& c, std::string& out)
{
    const size_t start = c.pos;
    bool tooLong = false;
    while (IsTokenByte(c.at())) {
        if (c.pos - start == CHttpHeader::kMaxTokenLength) {
            tooLong = true;
            break;
        }
        ++c.pos;
    }
    out.assign(c.text.substr(start, c.pos - start));
    for (char& ch : out)
        ch = Upper(ch);
    return !tooLong && !out.empty();
}

} // namespace

bool CHttpHeader::ParseHeaders(std::string_view blockText)
{
    error_ = HttpHeaderOk;
    location_.clear();
    contentTypeValid_ = false;
    mediaTopType_ = MediaUnknown;
    mediaSubtype_.clear();
    lastModifiedValid_ = false;
    lastModified_ = HttpDate();
    etag_.clear();

    try {
        Cursor c{UpToNul(blockText), 0};
        std::string token;
        token.reserve(64);
        for (;;) {
            SkipBlanks(c);
            if (AtBlockEnd(c))
                return true;
            if (!ReadToken(c, token) || !c.expect(':'))
                break;
            const HeaderId id = LookupHeaderId(token);
            SkipBlanks(c);
            if (AtBlockEnd(c))
                break;

            bool ok = true;
            HttpDate date;
            switch (id) {
            case HeaderDate:
                ok = ParseHttpDate(c.text.substr(c.pos), date);
                break;
            case HeaderLocation: {
                const size_t start = c.pos;
                while (c.at() != '\0' && c.at() != ' ' && c.at() != '\t' && c.at() != '\r' && c.at() != '\n')
                    ++c.pos;
                const size_t length = c.pos - start;
                ok = length > 0 && length <= kMaxLocationLength;
                if (ok)
                    location_.assign(c.text.substr(start, length));
                break;
            }
            case HeaderContentType:
                ok = ParseMediaType(c.text, c.pos);
                break;
            case HeaderLastModified:
                ok = ParseHttpDate(c.text.substr(c.pos), date);
                if (ok) {
                    lastModified_ = date;
                    lastModifiedValid_ = true;
                }
                break;
            case HeaderEtag: {
                // It goes back to the server as sent; anything that could not
                // stand in a header line is not kept (and not an error).
                const size_t start = c.pos;
                while (c.at() != '\0' && c.at() != '\r' && c.at() != '\n')
                    ++c.pos;
                std::string_view value = c.text.substr(start, c.pos - start);
                while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
                    value.remove_suffix(1);
                bool visible = !value.empty() && value.size() <= kMaxTokenLength;
                for (const char ch : value)
                    visible = visible && static_cast<unsigned char>(ch) > 0x20 && static_cast<unsigned char>(ch) < 0x7f;
                if (visible)
                    etag_.assign(value);
                break;
            }
            default:
                break;
            }
            if (!ok)
                break;
            while (c.at() != '\0' && c.at() != '\n')
                ++c.pos;
        }
    } catch (const std::bad_alloc&) {
        error_ = HttpHeaderOutOfMemory;
        return false;
    }
    error_ = HttpHeaderMalformed;
    return false;
}

bool CHttpHeader::ParseMediaType(std::string_view block, size_t& pos)
{
    Cursor c{block, pos};
    std::string token;
    const bool accepted = [&] {
        if (!ReadToken(c, token))
            return false;
        mediaTopType_ = LookupMediaTopType(token);
        if (!c.expect('/') || !ReadToken(c, mediaSubtype_))
            return false;
        SkipSpacesAndTabs(c);
        // Parameters are checked for form and otherwise ignored.
        while (!AtLineEnd(c)) {
            if (c.expect(';'))
                SkipSpacesAndTabs(c);
            if (!ReadToken(c, token) || !c.expect('=') || !ReadToken(c, token))
                return false;
            SkipSpacesAndTabs(c);
        }
        return true;
    }();
    pos = c.pos;
    contentTypeValid_ = accepted;
    return accepted;
}

bool ParseStatusLine(std::string_view text, StatusLine& status)
{
    text = UpToNul(text).substr(0, kHeadLimit);
    text = text.substr(0, text.find('\n'));
    status = StatusLine();

    size_t pos = 0;
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
    const size_t tokenEnd = std::min(text.find(' ', pos), text.size());
    const std::string_view token = text.substr(pos, tokenEnd - pos);
    constexpr std::string_view kPrefix = "HTTP/";
    if (token.size() < kPrefix.size())
        return false;
    for (size_t i = 0; i < kPrefix.size(); ++i) {
        if (Upper(token[i]) != kPrefix[i])
            return false;
    }
    size_t i = kPrefix.size();
    for (; i < token.size() && token[i] != '.'; ++i) {
        if (!IsDigit(token[i]))
            return false;
        status.major = AddDigit(status.major, token[i], INT_MAX);
    }
    if (i == token.size())
        return false;
    for (++i; i < token.size(); ++i) {
        if (!IsDigit(token[i]))
            return false;
        status.minor = AddDigit(status.minor, token[i], INT_MAX);
    }

    pos = tokenEnd;
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
    for (; pos < text.size() && IsDigit(text[pos]); ++pos)
        status.statusCode = AddDigit(status.statusCode, text[pos], INT_MAX);
    return true;
}

std::optional<HeadEnd> FindHeadEnd(std::string_view buffer)
{
    buffer = buffer.substr(0, kHeadLimit);
    // A head without header lines: the blank line comes first.
    if (buffer.substr(0, 2) == "\r\n")
        return HeadEnd{0, 2};
    if (buffer.substr(0, 1) == "\n")
        return HeadEnd{0, 1};
    // Every end has a line feed at its start or one byte in: from each line
    // feed, the CR LF CR LF that starts a byte before it is the earlier end.
    const char* const begin = buffer.data();
    const size_t size = buffer.size();
    size_t i = 0;
    while (i < size) {
        const void* found = std::memchr(begin + i, '\n', size - i);
        if (!found)
            break;
        i = size_t(static_cast<const char*>(found) - begin);
        if (i >= 1 && i + 2 < size && begin[i - 1] == '\r' && begin[i + 1] == '\r' && begin[i + 2] == '\n')
            return HeadEnd{i - 1, i + 3};
        if (i + 1 < size && begin[i + 1] == '\n')
            return HeadEnd{i, i + 2};
        ++i;
    }
    return std::nullopt;
}

std::optional<std::string_view> RawHeaderValue(std::string_view block, RawHeaderId id)
{
    block = UpToNul(block).substr(0, kHeadLimit);
    size_t pos = 0;
    size_t colon = 0;
    bool colonKnown = false;
    while (pos < block.size()) {
        while (pos < block.size() && block[pos] == ' ')
            ++pos;
        // The colon may lie lines ahead; remembering it keeps the scan linear.
        if (!colonKnown || colon < pos) {
            colon = block.find(':', pos);
            colonKnown = true;
        }
        if (colon == std::string_view::npos)
            return std::nullopt;
        const size_t nameLength = colon - pos;
        if (nameLength <= kMaxRawNameLength) {
            char name[kMaxRawNameLength];
            for (size_t i = 0; i < nameLength; ++i)
                name[i] = Upper(block[pos + i]);
            if (LookupRawHeaderId(std::string_view(name, nameLength)) == id && id != RawNone) {
                const size_t end = std::min(block.find('\n', colon + 1), block.size());
                return block.substr(colon + 1, end - colon - 1);
            }
        }
        const size_t lineEnd = block.find('\n', pos);
        if (lineEnd == std::string_view::npos)
            return std::nullopt;
        pos = lineEnd + 1;
    }
    return std::nullopt;
}

namespace {

inline bool SameLetters(std::string_view a, std::string_view upper)
{
    if (a.size() != upper.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Upper(a[i]) != upper[i])
            return false;
    return true;
}

std::string_view Trimmed(std::string_view v)
{
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t'))
        v.remove_prefix(1);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t' || v.back() == '\r'))
        v.remove_suffix(1);
    return v;
}

// Calls each(value) for every field of that name until it answers true.
template <typename F>
bool EachField(std::string_view block, std::string_view upperName, F each)
{
    block = UpToNul(block).substr(0, kHeadLimit);
    size_t pos = 0;
    while (pos < block.size()) {
        const size_t end = std::min(block.find('\n', pos), block.size());
        const std::string_view line = block.substr(pos, end - pos);
        const size_t colon = line.find(':');
        if (colon != std::string_view::npos && SameLetters(line.substr(0, colon), upperName)
            && each(Trimmed(line.substr(colon + 1))))
            return true;
        pos = end + 1;
    }
    return false;
}

} // namespace

std::optional<std::string_view> FieldValue(std::string_view block, std::string_view upperName)
{
    std::optional<std::string_view> found;
    EachField(block, upperName, [&](std::string_view value) {
        found = value;
        return true;
    });
    return found;
}

bool FieldHasToken(std::string_view block, std::string_view upperName, std::string_view token, bool last)
{
    std::string upperToken(token);
    for (char& c : upperToken)
        c = Upper(c);
    bool lastSeen = false;
    const bool any = EachField(block, upperName, [&](std::string_view list) {
        bool found = false;
        while (!list.empty()) {
            const size_t comma = std::min(list.find(','), list.size());
            std::string_view item = Trimmed(list.substr(0, comma));
            // "timeout=5" is a token with its parameter
            item = Trimmed(item.substr(0, std::min(item.find(';'), item.size())));
            found = SameLetters(item, upperToken);
            if (!last && found)
                return true;
            list.remove_prefix(std::min(comma + 1, list.size()));
        }
        lastSeen = found;
        return false;
    });
    return any || (last && lastSeen);
}

int64_t ContentLength(std::string_view block)
{
    const std::optional<std::string_view> value = RawHeaderValue(block, RawContentLength);
    if (!value)
        return 0;
    size_t pos = 0;
    while (pos < value->size() && (*value)[pos] == ' ')
        ++pos;
    int64_t length = 0;
    for (; pos < value->size() && IsDigit((*value)[pos]); ++pos)
        length = AddDigit<int64_t>(length, (*value)[pos], INT64_MAX);
    return length;
}

std::optional<int64_t> HttpDateToTime(const HttpDate& date)
{
    int64_t year = date.year;
    if (year >= 0 && year < 100)
        year += year < 70 ? 2000 : 1900;
    static constexpr int kDaysIn[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1970 || date.month < 1 || date.month > 12 || date.day < 1 || date.day > kDaysIn[date.month - 1]
        || date.hour > 23 || date.minute > 59 || date.second > 60 || date.hour < 0 || date.minute < 0
        || date.second < 0)
        return std::nullopt;
    // Days since 1970-01-01 of a civil date (proleptic Gregorian), the inverse
    // of what FormatHttpDate does.
    const int64_t y = year - (date.month <= 2 ? 1 : 0);
    const int64_t era = y / 400;
    const int64_t yearOfEra = y - era * 400;
    const int64_t monthFromMarch = date.month > 2 ? date.month - 3 : date.month + 9;
    const int64_t dayOfYear = (153 * monthFromMarch + 2) / 5 + date.day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const int64_t days = era * 146097 + dayOfEra - 719468;
    return days * 86400 + date.hour * 3600 + date.minute * 60 + std::min<int64_t>(date.second, 59);
}

std::string FormatHttpDate(int64_t time)
{
    // Civil date from days since 1970-01-01 (proleptic Gregorian), by hand so
    // that neither the locale nor the time zone of the process can show.
    const int64_t secondsPerDay = 86400;
    int64_t days = time / secondsPerDay;
    int64_t rest = time % secondsPerDay;
    if (rest < 0) {
        rest += secondsPerDay;
        --days;
    }
    const int weekday = static_cast<int>(((days % 7) + 7 + 3) % 7);  // 1970-01-01 was a Thursday
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t dayOfEra = z - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

    auto two = [](std::string& out, int value) {
        out.push_back(static_cast<char>('0' + value / 10));
        out.push_back(static_cast<char>('0' + value % 10));
    };
    std::string text;
    text.reserve(32);
    text.append(kShortDays[weekday]).append(", ");
    two(text, day);
    text.append(1, ' ').append(kMonths[month - 1]).append(1, ' ');
    // The date form wants a four-digit year.
    const std::string digits = std::to_string(year < 0 ? -year : year);
    if (year < 0)
        text.push_back('-');
    text.append(digits.size() < 4 ? 4 - digits.size() : 0, '0').append(digits);
    text.append(1, ' ');
    two(text, static_cast<int>(rest / 3600));
    text.push_back(':');
    two(text, static_cast<int>(rest / 60 % 60));
    text.push_back(':');
    two(text, static_cast<int>(rest % 60));
    text.append(" GMT");
    return text;
}

} // namespace ormbrook
