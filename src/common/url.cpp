#include "common/url.h"

#include "common/idn.h"

#include <arpa/inet.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <new>

namespace ormbrook {

namespace {

// Byte classes, "C" locale. One table lookup per byte keeps the parse loop tight.
enum : uint8_t {
    kAlnum = 1 << 0,
    kUnreserved = 1 << 1,  // alnum, safe or extra
    kHex = 1 << 2,
    kSchemeByte = 1 << 3,  // alnum + - .
    kHostByte = 1 << 4,    // alnum . -
    kHttpKeep = 1 << 5,    // copied unchanged into an http segment or query
    kFileKeep = 1 << 6,    // allowed in a file segment
};

constexpr std::array<uint8_t, 256> MakeClasses()
{
    std::array<uint8_t, 256> t{};
    auto add = [&t](const char* bytes, uint8_t flags) {
        for (; *bytes; ++bytes)
            t[static_cast<unsigned char>(*bytes)] |= flags;
    };
    for (int c = '0'; c <= '9'; ++c)
        t[c] |= kAlnum | kHex;
    for (int c = 'a'; c <= 'z'; ++c)
        t[c] |= kAlnum;
    for (int c = 'A'; c <= 'Z'; ++c)
        t[c] |= kAlnum;
    add("abcdefABCDEF", kHex);
    for (int c = 0; c < 256; ++c) {
        if (t[c] & kAlnum)
            t[c] |= kUnreserved | kSchemeByte | kHostByte;
    }
    add("$-_.+", kUnreserved);      // safe
    add("!*'(),", kUnreserved);     // extra
    add("+-.", kSchemeByte);
    add(".-", kHostByte);
    for (int c = 0; c < 256; ++c) {
        if (t[c] & kUnreserved)
            t[c] |= kHttpKeep | kFileKeep;
    }
    add("&:;=@", kHttpKeep);
    add("&:=?@", kFileKeep);
    return t;
}

constexpr std::array<uint8_t, 256> kClasses = MakeClasses();

inline bool Is(unsigned char c, uint8_t cls) { return (kClasses[c] & cls) != 0; }

inline char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

constexpr char kHexDigits[] = "0123456789abcdef";

struct NameValue {
    std::string_view text; // compared by length first
    int value;
};

// Ordered tables ended by the empty text, whose value answers "no match".
constexpr NameValue kSchemes[] = {
    {"ftp", SchemeFtp},       {"file", SchemeFile},       {"gopher", SchemeGopher},
    {"http", SchemeHttp},     {"https", SchemeHttps},     {"mailto", SchemeMailto},   {"news", SchemeNews},
    {"nntp", SchemeNntp},     {"prospero", SchemeProspero}, {"telnet", SchemeTelnet},
    {"wais", SchemeWais},     {"", SchemeNone},
};

constexpr NameValue kFileKinds[] = {
    {"gif", FileKindGif},   {"htm", FileKindHtml},   {"html", FileKindHtml},
    {"shtm", FileKindHtml}, {"shtml", FileKindHtml}, {"jpg", FileKindJpeg},
    {"jpeg", FileKindJpeg}, {"", FileKindOther},
};

template <size_t N>
int LookupTable(const NameValue (&table)[N], std::string_view name)
{
    for (const NameValue& entry : table) {
        if (entry.text.empty() || name == entry.text)
            return entry.value;
    }
    return table[N - 1].value;
}

// The longest known scheme name; anything longer can't match and needn't be folded.
constexpr size_t kMaxSchemeLength = 8;

// A segment (with its leading "/"), a query or a fragment is at most 8 KB
// less a byte: as long as servers take request lines (nginx's 8 KB), and
// far beyond the 1 KB of tracking queries and long file names today's
// pages hold.
constexpr size_t kMaxPartLength = 8191;

enum class HttpPart { Segment, Query, Fragment };

std::string_view UpToNul(std::string_view text)
{
    if (text.empty())
        return text;  // its data() may be null, which memchr must not see
    const void* nul = std::memchr(text.data(), '\0', text.size());
    return nul ? text.substr(0, static_cast<const char*>(nul) - text.data()) : text;
}

// Collects an http segment, query or fragment starting at text[pos], escaping
// what must be escaped, and appends it to out[length..]. The part (with the
// "/" already in out for a segment) must stay within kMaxPartLength bytes.
// Returns 0 or a UrlError.
int CollectHttp(std::string_view text, size_t& pos, HttpPart part, char* out, size_t& length)
{
    const size_t n = text.size();
    const char* s = text.data();
    size_t len = length;
    while (pos < n) {
        // Most bytes are kept as they are: a run of them is copied at once.
        size_t run = pos;
        while (run < n && Is(static_cast<unsigned char>(s[run]), kHttpKeep))
            ++run;
        if (run > pos) {
            if (len + (run - pos) > kMaxPartLength)
                return UrlPartTooLong;
            std::memcpy(out + len, s + pos, run - pos);
            len += run - pos;
            pos = run;
            if (pos >= n)
                break;
        }
        const auto c = static_cast<unsigned char>(s[pos]);
        if (part == HttpPart::Segment && (c == '#' || c == '/' || c == '?'))
            break;
        if (c == '%') {
            if (pos + 2 >= n || !Is(static_cast<unsigned char>(s[pos + 1]), kHex)
                || !Is(static_cast<unsigned char>(s[pos + 2]), kHex))
                return UrlSyntaxError;
            if (len + 3 > kMaxPartLength)
                return UrlPartTooLong;
            out[len++] = '%';
            out[len++] = s[pos + 1];
            out[len++] = s[pos + 2];
            pos += 3;
            continue;
        }
        if (Is(c, kHttpKeep) || (c == '#' && part == HttpPart::Query)) {
            if (len + 1 > kMaxPartLength)
                return UrlPartTooLong;
            out[len++] = static_cast<char>(c);
        } else {
            if (len + 3 > kMaxPartLength)
                return UrlPartTooLong;
            out[len++] = '%';
            out[len++] = kHexDigits[c >> 4];
            out[len++] = kHexDigits[c & 15];
        }
        ++pos;
    }
    length = len;
    return UrlOk;
}

// Host whose last label starts with a letter: labels of letters, digits and
// inner hyphens, separated by single dots.
bool CheckDomain(std::string_view host)
{
    enum { Start, Letter, Digit, Hyphen, Dot } state = Start;
    for (const char c : host) {
        if (c == '-') {
            if (state == Start || state == Dot)
                return false;
            state = Hyphen;
        } else if (c == '.') {
            if (state != Letter && state != Digit)
                return false;
            state = Dot;
        } else {
            state = (c >= '0' && c <= '9') ? Digit : Letter;
        }
    }
    return state == Letter || state == Digit;
}

// Host whose last label starts with a digit: digits and single dots. The
// number of labels and their values are left to the resolver.
bool CheckNumericHost(std::string_view host)
{
    char previous = '.';
    for (const char c : host) {
        if (c == '.') {
            if (previous == '.')
                return false;
        } else if (!(c >= '0' && c <= '9')) {
            return false;
        }
        previous = c;
    }
    return previous != '.';
}

} // namespace

SchemeId LookupScheme(std::string_view lowerScheme)
{
    return static_cast<SchemeId>(LookupTable(kSchemes, lowerScheme));
}

FileKind LookupFileKind(std::string_view lowerExtension)
{
    return static_cast<FileKind>(LookupTable(kFileKinds, lowerExtension));
}


void CUrl::Clear()
{
    error_ = UrlOk;
    scheme_ = SchemeNone;
    hasPort_ = false;
    hasFileName_ = false;
    hasExtension_ = false;
    extensionLowered_ = false;
    hasQuery_ = false;
    hasFragment_ = false;
    fileKind_ = FileKindNone;
    prefixLength_ = 7;
    hostLength_ = 0;
    siteLength_ = 0;
    pathLength_ = 0;
    directoryLength_ = 0;
    extensionStart_ = 0;
    extensionLength_ = 0;
    url_.clear(); // keeps its capacity, so a reused object stops allocating
}

bool CUrl::Fail(int error)
{
    const SchemeId scheme = scheme_;
    Clear();
    scheme_ = scheme;
    error_ = error;
    return false;
}

bool CUrl::Parse(std::string_view input)
{
    try {
        input = UpToNul(input);
        // The canonical text is built in place: a text that lies in it is copied first.
        const auto at = reinterpret_cast<uintptr_t>(input.data());
        const auto own = reinterpret_cast<uintptr_t>(url_.data());
        if (!input.empty() && at >= own && at <= own + url_.capacity()) {
            const std::string copy(input);
            return ParseText(copy);
        }
        return ParseText(input);
    } catch (const std::bad_alloc&) {
        return Fail(UrlOutOfMemory);
    }
}

bool CUrl::ParseText(std::string_view text)
{
    Clear();
    const char* s = text.data();
    const size_t n = text.size();
    size_t pos = 0;

    // Scheme.
    while (pos < n && s[pos] != ':') {
        if (!Is(static_cast<unsigned char>(s[pos]), kSchemeByte))
            return Fail(UrlSyntaxError);
        ++pos;
    }
    if (pos >= n)
        return Fail(UrlSyntaxError);
    if (pos <= kMaxSchemeLength) {
        char lower[kMaxSchemeLength];
        for (size_t i = 0; i < pos; ++i)
            lower[i] = Lower(s[i]);
        scheme_ = LookupScheme(std::string_view(lower, pos));
    }
    if (!IsWebScheme(scheme_) && scheme_ != SchemeFile)
        return Fail(UrlSchemeNotSupported);
    const bool http = IsWebScheme(scheme_);
    ++pos;
    if (pos + 1 >= n || s[pos] != '/' || s[pos + 1] != '/')
        return Fail(UrlSyntaxError);
    pos += 2;

    // Host.
    const size_t hostStart = pos;
    std::string_view host;
    char literal[INET6_ADDRSTRLEN + 2];
    if (http && pos < n && s[pos] == '[') {
        // An IPv6 address in brackets: kept in its one canonical form (RFC
        // 5952: lower case, the longest run of zeros shortened), so that
        // every way of writing it names one site and one mirror folder.
        const size_t close = text.find(']', pos);
        if (close == std::string_view::npos || close - pos - 1 >= INET6_ADDRSTRLEN)
            return Fail(UrlSyntaxError);
        char inner[INET6_ADDRSTRLEN];
        std::memcpy(inner, s + pos + 1, close - pos - 1);
        inner[close - pos - 1] = '\0';
        in6_addr address;
        if (::inet_pton(AF_INET6, inner, &address) != 1)
            return Fail(UrlSyntaxError);
        literal[0] = '[';
        if (!::inet_ntop(AF_INET6, &address, literal + 1, INET6_ADDRSTRLEN))
            return Fail(UrlSyntaxError);
        const size_t length = std::strlen(literal);
        literal[length] = ']';
        host = std::string_view(literal, length + 1);
        pos = close + 1;
        if (pos < n && s[pos] != '/' && s[pos] != ':')
            return Fail(UrlSyntaxError);
    } else {
        bool unicodeHost = false;
        for (; pos < n; ++pos) {
            const auto c = static_cast<unsigned char>(s[pos]);
            if (c >= 0x80)
                unicodeHost = true;
            else if (!Is(c, kHostByte))
                break;
        }
        if (pos < n && s[pos] != '/' && s[pos] != ':')
            return Fail(UrlSyntaxError);
        host = std::string_view(s + hostStart, pos - hostStart);
        // A host in Unicode is known by its ASCII form from here on, which
        // then passes the same checks as any host.
        if (unicodeHost) {
            if (!ToAsciiHost(host, asciiHost_))
                return Fail(UrlSyntaxError);
            host = asciiHost_;
        }
    }
    if (!host.empty() && host.front() != '[') {
        const size_t lastDot = host.rfind('.');
        const size_t labelStart = lastDot == std::string_view::npos ? 0 : lastDot + 1;
        const char first = labelStart < host.size() ? host[labelStart] : '\0';
        const bool valid = (Is(static_cast<unsigned char>(first), kAlnum) && !(first >= '0' && first <= '9'))
            ? CheckDomain(host)
            : (first >= '0' && first <= '9') ? CheckNumericHost(host) : false;
        if (!valid)
            return Fail(UrlSyntaxError);
    }

    // Port.
    size_t portStart = 0;
    size_t portLength = 0;
    if (pos < n && s[pos] == ':') {
        if (!http)
            return Fail(UrlSyntaxError);
        ++pos;
        portStart = pos;
        while (pos < n && s[pos] != '/') {
            if (!(s[pos] >= '0' && s[pos] <= '9'))
                return Fail(UrlSyntaxError);
            ++pos;
        }
        portLength = pos - portStart;
        hasPort_ = true;
    }

    return ParseRest(text, pos, host, portStart, portLength);
}

bool CUrl::ParseBelow(const CUrl& base, std::string_view text)
{
    try {
        Clear();
        scheme_ = base.scheme_;
        hasPort_ = base.hasPort_;
        const size_t portStart = base.prefixLength_ + base.hostLength_ + 1;
        const size_t portLength = hasPort_ ? base.siteLength_ - portStart : 0;
        return ParseRest(text, base.siteLength_, text.substr(base.prefixLength_, base.hostLength_), portStart,
                         portLength);
    } catch (const std::bad_alloc&) {
        return Fail(UrlOutOfMemory);
    }
}

bool CUrl::ParseRest(std::string_view text, size_t pos, std::string_view host, size_t portStart, size_t portLength)
{
    const char* s = text.data();
    const size_t n = text.size();
    const bool http = IsWebScheme(scheme_);

    // The site goes first into the canonical text; the path and what follows
    // it are built right behind. An escape triples a byte, so three times the
    // rest of the input always suffices.
    const std::string_view prefix =
        scheme_ == SchemeHttps ? std::string_view("https://") : http ? "http://" : "file://";
    prefixLength_ = prefix.size();
    const size_t siteLength = prefixLength_ + host.size() + (hasPort_ ? 1 + portLength : 0);
    url_.resize(siteLength + 3 * (n - pos) + 8);
    char* site = url_.data();
    std::memcpy(site, prefix.data(), prefixLength_);
    if (!host.empty())
        std::memcpy(site + prefixLength_, host.data(), host.size());
    if (hasPort_) {
        site[prefixLength_ + host.size()] = ':';
        if (portLength)
            std::memcpy(site + prefixLength_ + host.size() + 1, s + portStart, portLength);
    }
    char* out = site + siteLength;
    size_t pathLength = 0;
    segmentStarts_.clear();

    if (http && pos >= n) {
        // "http://host" names the root.
        out[0] = '/';
        pathLength = 1;
        segmentStarts_.push_back(0);
    } else if (pos >= n || s[pos] != '/') {
        return Fail(UrlSyntaxError);
    }

    while (pos < n && s[pos] == '/') {
        ++pos;
        const size_t start = pathLength;
        size_t length = 1;
        out[start] = '/';
        if (http) {
            if (const int error = CollectHttp(text, pos, HttpPart::Segment, out + start, length))
                return Fail(error);
        } else {
            while (pos < n && s[pos] != '/') {
                const auto c = static_cast<unsigned char>(s[pos]);
                if (c == '%') {
                    if (pos + 2 >= n || !Is(static_cast<unsigned char>(s[pos + 1]), kHex)
                        || !Is(static_cast<unsigned char>(s[pos + 2]), kHex))
                        return Fail(UrlSyntaxError);
                    out[start + length++] = s[pos++];
                    out[start + length++] = s[pos++];
                    out[start + length++] = s[pos++];
                    continue;
                }
                if (!Is(c, kFileKeep))
                    return Fail(UrlSyntaxError);
                out[start + length++] = static_cast<char>(c);
                ++pos;
            }
        }
        const char* seg = out + start;
        if (length == 2 && seg[1] == '.')
            continue;
        if (length == 1 && http && pos < n && s[pos] == '/')
            continue;
        if (length == 3 && seg[1] == '.' && seg[2] == '.') {
            if (segmentStarts_.empty()) {
                if (http)
                    return Fail(UrlAboveRoot);
                continue;
            }
            pathLength = segmentStarts_.back();
            segmentStarts_.pop_back();
            continue;
        }
        segmentStarts_.push_back(start);
        pathLength = start + length;
    }
    if (segmentStarts_.empty()) {
        out[0] = '/'; // no segment left: the root
        pathLength = 1;
    }

    // Query or fragment (http only; a file segment runs to the end).
    size_t tailLength = 0;
    if (http && pos < n) {
        const bool isQuery = s[pos] == '?';
        out[pathLength] = s[pos];
        ++pos;
        if (const int error = CollectHttp(text, pos,
                isQuery ? HttpPart::Query : HttpPart::Fragment, out + pathLength + 1, tailLength))
            return Fail(error);
        (isQuery ? hasQuery_ : hasFragment_) = true;
    }

    if (host.empty())
        return Fail(UrlSyntaxError);

    hostLength_ = host.size();
    siteLength_ = siteLength;
    pathLength_ = pathLength;
    url_.resize(siteLength + pathLength + (hasQuery_ || hasFragment_ ? 1 + tailLength : 0));

    if (!segmentStarts_.empty()) {
        const size_t lastStart = segmentStarts_.back();
        directoryLength_ = lastStart;
        const std::string_view last(out + lastStart, pathLength - lastStart);
        hasFileName_ = last.size() > 1;
        const size_t dot = last.rfind('.');
        if (dot != std::string_view::npos) {
            hasExtension_ = true;
            extensionStart_ = siteLength + lastStart + dot + 1;
            extensionLength_ = last.size() - dot - 1;
            const std::string_view written = last.substr(dot + 1);
            for (const char c : written) {
                if (c >= 'A' && c <= 'Z') {
                    extensionLowered_ = true;
                    break;
                }
            }
            if (extensionLowered_) {
                loweredExtension_.assign(written);
                for (char& c : loweredExtension_)
                    c = Lower(c);
            }
            fileKind_ = LookupFileKind(extension());
        }
    }
    return true;
}

uint16_t CUrl::portNumber() const
{
    const std::string_view digits = port();
    if (digits.empty()) // "http://site:/" as "http://site/"
        return scheme_ == SchemeHttps ? 443 : 80;
    unsigned value = 0;
    for (const char c : digits) {
        value = value * 10 + unsigned(c - '0');
        if (value > 65535)
            return 0;
    }
    return uint16_t(value);
}

std::optional<std::string> CUrl::ResolveLink(std::string_view baseText, std::string_view linkText)
{
    try {
        LinkResolver resolver(baseText);
        if (const std::optional<std::string_view> resolved = resolver.Resolve(linkText))
            return std::string(*resolved);
        return std::nullopt;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

void LinkResolver::Rebase(std::string_view baseText)
{
    baseParsed_ = base_.Parse(UpToNul(baseText));
}

bool StartsWithScheme(std::string_view text)
{
    if (text.empty() || !Is(static_cast<unsigned char>(text[0]), kAlnum) || (text[0] >= '0' && text[0] <= '9'))
        return false;
    size_t pos = 1;
    while (pos < text.size() && Is(static_cast<unsigned char>(text[pos]), kSchemeByte))
        ++pos;
    return pos < text.size() && text[pos] == ':';
}

std::optional<std::string_view> LinkResolver::Resolve(std::string_view linkText)
{
    const std::string_view link = UpToNul(linkText);
    // Most links of a page are relative; they need no parse of their own.
    if (StartsWithScheme(link)) {
        scratch_.Parse(link);
        // Pages link to much the crawl can't fetch (javascript:, mailto:,
        // data:, tel:, ...). Such a link is no page of this site: it is not
        // followed, and stays as written when the page is localised.
        if (!IsWebScheme(scratch_.scheme()))
            return std::nullopt;
        if (scratch_.error() == UrlOk)
            return scratch_.url();
        return link; // callers that queue URLs parse them again and drop this one
    }

    // A relative link needs a base that parsed: its parts are undefined otherwise.
    if (!baseParsed_)
        return std::nullopt;
    candidate_.clear();
    if (!link.empty() && link.front() == '/')
        candidate_.append(base_.site()).append(link);
    else
        candidate_.append(base_.siteDirectory()).append(1, '/').append(link);
    if (scratch_.ParseBelow(base_, candidate_))
        return scratch_.url();
    if (scratch_.error() != UrlAboveRoot)
        return std::nullopt;

    // A link that climbs above the site root is taken as naming a host.
    std::string_view rest = link;
    while (rest.substr(0, 3) == "../")
        rest.remove_prefix(3);
    candidate_.assign("http://").append(rest);
    if (scratch_.Parse(candidate_))
        return scratch_.url();
    return std::nullopt;
}

std::string TrailingSlash(std::string_view text)
{
    text = UpToNul(text);
    std::string result;
    result.reserve(text.size() + 1);
    result.assign(text);
    if (result.empty() || result.back() != '/')
        result.push_back('/');
    return result;
}

void ForwardSlashes(std::string& text)
{
    const size_t n = text.size();
    for (size_t i = 0; i < n && text[i] != '\0'; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xEF)) {
            // The trail byte may be 0x5C, the backslash; a lead byte that
            // ends the text has no trail byte to skip.
            if (i + 1 >= n || text[i + 1] == '\0')
                break;
            ++i;
        } else if (c == '\\') {
            text[i] = '/';
        }
    }
}

} // namespace ormbrook
