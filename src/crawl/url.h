#pragma once
// CUrl: parser and normaliser of URL texts. Its canonical text (url()) is
// what the whole crawler compares, stores and names mirror files by, so two
// ways of writing one address must come out byte-identical.
//
// Texts are bytes (UTF-8 or Shift-JIS may occur); nothing is converted.
// Every input is treated as a NUL-terminated text: a NUL inside the view ends
// it, and reading past the end yields NUL.

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
};

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

class CUrl {
public:
    // Parses a URL; true on success. On failure only error() and scheme()
    // are meaningful. Any number of parses may reuse one object.
    bool Parse(std::string_view text);

    int error() const { return error_; }
    SchemeId scheme() const { return scheme_; }
    const std::string& host() const { return host_; }
    bool hasPort() const { return hasPort_; }
    const std::string& port() const { return port_; }          // digits as written, may be empty
    const std::string& path() const { return path_; }          // "/" when no segment is left
    const std::string& directory() const { return directory_; }
    bool hasFileName() const { return hasFileName_; }
    const std::string& fileName() const { return fileName_; }
    bool hasExtension() const { return hasExtension_; }
    const std::string& extension() const { return extension_; } // lower case
    FileKind fileKind() const { return fileKind_; }
    const std::string& site() const { return site_; }
    const std::string& siteDirectory() const { return siteDirectory_; }
    const std::string& urlNoQuery() const { return urlNoQuery_; }
    bool hasQuery() const { return hasQuery_; }
    const std::string& query() const { return query_; }
    bool hasFragment() const { return hasFragment_; }
    const std::string& fragment() const { return fragment_; }
    const std::string& url() const { return url_; }            // the canonical URL

    // Turns a link found in a page into an absolute canonical URL, or nothing
    // when it can't be followed. base is the URL of the page holding the link.
    static std::optional<std::string> ResolveLink(std::string_view base, std::string_view link);

private:
    void Clear();
    bool Fail(int error);
    bool ParseText(std::string_view text);

    int error_ = UrlOk;
    SchemeId scheme_ = SchemeNone;
    std::string host_;
    bool hasPort_ = false;
    std::string port_;
    std::string path_;
    std::string directory_;
    bool hasFileName_ = false;
    std::string fileName_;
    bool hasExtension_ = false;
    std::string extension_;
    FileKind fileKind_ = FileKindNone;
    std::string site_;
    std::string siteDirectory_;
    std::string urlNoQuery_;
    bool hasQuery_ = false;
    std::string query_;
    bool hasFragment_ = false;
    std::string fragment_;
    std::string url_;

    // Working space of a parse, kept so that reparsing does not allocate.
    std::string scratch_;
    std::vector<size_t> segmentStarts_; // offsets of the kept path segments in scratch_
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
    std::optional<std::string> Resolve(std::string_view link);
    // The parse of the URL Resolve returned last; its error() is not UrlOk
    // when that was a link kept as written.
    const CUrl& resolved() const { return scratch_; }

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
