#pragma once
// CUrl: parser and normaliser of URL texts. Its canonical text (url()) is
// what the whole crawler compares, stores and names mirror files by, so two
// ways of writing one address must come out byte-identical.
//
// Texts are bytes (UTF-8 or Shift-JIS may occur); nothing is converted,
// except a host written in Unicode, which takes its ASCII form (common/idn.h).
// Every input is treated as a NUL-terminated text: a NUL inside the view ends
// it, and reading past the end yields NUL.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ormbrook {

enum UrlError : int {
    UrlOk = 0,
    UrlOutOfMemory = -1,
    UrlSyntaxError = -2,
    UrlSchemeNotSupported = -3,
    UrlPartTooLong = -4,
    UrlAboveRoot = -5,
};

enum SchemeId : int {
    SchemeNone = 0,
    SchemeFile = 2,
    SchemeFtp = 3,
    SchemeGopher = 4,
    SchemeHttp = 5,
    SchemeMailto = 6,
    SchemeNews = 7,
    SchemeNntp = 8,
    SchemeProspero = 9,
    SchemeTelnet = 10,
    SchemeWais = 11,
    SchemeHttps = 12,
};

// The schemes the crawl fetches: their URLs share one grammar (ports,
// queries, fragments, escaped segments) and differ only in the transport.
// A link that names any other scheme is not followed (ResolveLink gives
// nothing for it), and a queue entry with one is dropped unfetched.
inline bool IsWebScheme(SchemeId scheme) { return scheme == SchemeHttp || scheme == SchemeHttps; }

enum FileKind : int {
    FileKindNone = 0,   // no extension
    FileKindGif = 1,
    FileKindHtml = 2,
    FileKindJpeg = 3,
    FileKindOther = 4,
};

// Lookups in the two ordered tables; the text must already be lower case.
SchemeId LookupScheme(std::string_view lowerScheme);
FileKind LookupFileKind(std::string_view lowerExtension);

// Whether a link starts with a scheme name and its ":" (a letter, then
// letters, digits, "+", "-" or "."), and so names its scheme. Any other
// link is relative, even with a ":" further on ("a/b:c.html", "./x:y").
bool StartsWithScheme(std::string_view link);

class CUrl {
public:
    // Parses a URL; true on success. On failure only error() and scheme()
    // are meaningful. Any number of parses may reuse one object.
    bool Parse(std::string_view text);

    // Every part is a piece of the canonical text: the views stay valid until
    // the next parse of this object.
    int error() const { return error_; }
    SchemeId scheme() const { return scheme_; }
    std::string_view host() const { return part(prefixLength_, hostLength_); }
    bool hasPort() const { return hasPort_; }
    std::string_view port() const                              // digits as written, may be empty
    {
        return hasPort_ ? part(prefixLength_ + hostLength_ + 1, siteLength_ - prefixLength_ - hostLength_ - 1)
                        : std::string_view();
    }
    // The port to connect to: the one written, else the scheme's own (80 for
    // http, 443 for https); 0 when the written one is out of range.
    uint16_t portNumber() const;
    std::string_view path() const { return part(siteLength_, pathLength_); } // "/" when no segment is left
    std::string_view directory() const { return part(siteLength_, directoryLength_); }
    bool hasFileName() const { return hasFileName_; }
    std::string_view fileName() const
    {
        return hasFileName_ ? part(siteLength_ + directoryLength_ + 1, pathLength_ - directoryLength_ - 1)
                            : std::string_view();
    }
    bool hasExtension() const { return hasExtension_; }
    std::string_view extension() const                         // lower case
    {
        if (!hasExtension_)
            return {};
        return extensionLowered_ ? std::string_view(loweredExtension_) : part(extensionStart_, extensionLength_);
    }
    FileKind fileKind() const { return fileKind_; }
    std::string_view site() const { return part(0, siteLength_); }
    std::string_view siteDirectory() const { return part(0, siteLength_ + directoryLength_); }
    std::string_view urlNoQuery() const { return part(0, siteLength_ + pathLength_); }
    bool hasQuery() const { return hasQuery_; }
    std::string_view query() const { return hasQuery_ ? tail() : std::string_view(); }
    bool hasFragment() const { return hasFragment_; }
    std::string_view fragment() const { return hasFragment_ ? tail() : std::string_view(); }
    const std::string& url() const { return url_; }            // the canonical URL
    // The canonical URL without its fragment: what names one resource. A
    // query and a fragment never come together, so with a query it is url().
    std::string_view urlNoFragment() const { return hasFragment_ ? urlNoQuery() : std::string_view(url_); }

    // Turns a link found in a page into an absolute canonical URL, or nothing
    // when it can't be followed. base is the URL of the page holding the link.
    // A link that starts with a scheme name and ":" names that scheme; one the
    // crawl does not fetch (javascript:, mailto:, data:, ...) gives nothing.
    static std::optional<std::string> ResolveLink(std::string_view base, std::string_view link);

private:

    void Clear();
    bool Fail(int error);
    bool ParseText(std::string_view text);
    // Parses text from pos on, the site (scheme, host, port) being known.
    bool ParseRest(std::string_view text, size_t pos, std::string_view host, size_t portStart, size_t portLength);
    // Parses a text that starts with base's site, as a resolved relative link
    // does: the site is taken as base parsed it. Same result as Parse.
    bool ParseBelow(const CUrl& base, std::string_view text);
    friend class LinkResolver;
    std::string_view part(size_t start, size_t length) const
    {
        return start <= url_.size() ? std::string_view(url_).substr(start, length) : std::string_view();
    }
    std::string_view tail() const { return part(siteLength_ + pathLength_ + 1, std::string_view::npos); }

    int error_ = UrlOk;
    SchemeId scheme_ = SchemeNone;
    bool hasPort_ = false;
    bool hasFileName_ = false;
    bool hasExtension_ = false;
    bool extensionLowered_ = false; // the extension had upper case: see loweredExtension_
    bool hasQuery_ = false;
    bool hasFragment_ = false;
    FileKind fileKind_ = FileKindNone;
    size_t prefixLength_ = 7;    // "http://" or "file://", 8 for "https://"
    // The canonical text is site, path, then "?" query or "#" fragment.
    size_t hostLength_ = 0;
    size_t siteLength_ = 0;      // "http://", host, ":" and port
    size_t pathLength_ = 0;
    size_t directoryLength_ = 0; // the path up to its last segment's "/"
    size_t extensionStart_ = 0;
    size_t extensionLength_ = 0;
    std::string loweredExtension_;
    std::string asciiHost_; // the ASCII form of a host written in Unicode
    std::string url_;

    // Working space of a parse, kept so that reparsing does not allocate.
    std::vector<size_t> segmentStarts_; // offsets of the kept path segments in url_
};

// The same resolution for the many links of one page: the page's URL is
// parsed once, and the objects used for each link are reused. May throw
// std::bad_alloc (ResolveLink does not).
class LinkResolver {
public:
    LinkResolver() = default;
    explicit LinkResolver(std::string_view base) { Rebase(base); }
    // Resolves against another base from now on (the next page).
    void Rebase(std::string_view base);
    // The view stays valid until the next Resolve or Rebase (it is the link
    // itself when the link is kept as written).
    std::optional<std::string_view> Resolve(std::string_view link);
    // The parse of the URL Resolve returned last; its error() is not UrlOk
    // when that was a link kept as written.
    const CUrl& resolved() const { return scratch_; }
    // The parsed base, or nothing when it did not parse.
    const CUrl* base() const { return baseParsed_ ? &base_ : nullptr; }

private:
    CUrl base_;
    bool baseParsed_ = false;
    CUrl scratch_;
    std::string candidate_;
};

// A copy of a directory path that ends in "/".
std::string TrailingSlash(std::string_view text);

// Replaces every "\" by "/" in place, leaving the second byte of a Shift-JIS
// double-byte character alone.
void ForwardSlashes(std::string& text);

} // namespace ormbrook
