#pragma once
// CHtmlScanner: finds and rewrites the links of a saved HTML page.
//
// This is not an HTML parser. One byte-level tokenizer recognises a fixed
// table of tag and attribute names, reads attribute values (decoding their
// character references) and skips the rest; scripts are not looked into,
// style sheets only for their url() and @import. It serves two passes:
//  - collect: the links the crawl may follow (with their kind), the title and
//    the META ROBOTS instruction not to follow links;
//  - rewrite: the page byte for byte, with every link value replaced by a
//    local relative path or an absolute URL.
// Names are kept to 144 bytes and values to 2047 bytes, as the crawl has
// always done.

#include "common/url.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace ormbrook {

class CMirror;

enum LinkKind : std::uint16_t {
    LinkKindAnchor = 1,      // A HREF
    LinkKindArea = 2,        // AREA HREF
    LinkKindBackground = 3,  // BODY BACKGROUND
    LinkKindFrame = 4,       // FRAME SRC
    LinkKindImage = 6,       // IMG SRC
    LinkKindUsemap = 7,      // IMG USEMAP, never followed
    LinkKindRedirect = 8,    // target of an HTTP redirect (made by the crawl)
    // The page's requisites: what it needs to look as it does. None of them
    // is a level deeper than the page.
    LinkKindStyleSheet = 9,  // LINK HREF with a rel of a style sheet or an icon
    LinkKindScript = 10,     // SCRIPT SRC
    LinkKindInlineFrame = 11, // IFRAME SRC
    LinkKindSrcset = 12,     // each candidate of IMG and SOURCE SRCSET
    LinkKindMedia = 13,      // VIDEO, AUDIO and SOURCE SRC, VIDEO POSTER
    LinkKindInputImage = 14, // INPUT TYPE=IMAGE SRC
    LinkKindCssUrl = 15,     // url() in a style sheet, a STYLE element or a style attribute
    LinkKindCssImport = 16,  // @import of a style sheet
};

struct LinkRef {
    std::string url;  // canonical
    LinkKind kind;

    bool operator==(const LinkRef&) const = default;
};

enum HtmlScanError : int {
    HtmlScanOk = 0,
    HtmlScanOutOfMemory = -1,
    HtmlScanNoOutput = -2,   // the output file could not be opened, or there is no local path
    HtmlScanFileError = -3,  // reading or writing failed
    HtmlScanEmptyInput = -4,
};

class CHtmlScanner {
public:
    CHtmlScanner() = default;
    ~CHtmlScanner();
    CHtmlScanner(const CHtmlScanner&) = delete;
    CHtmlScanner& operator=(const CHtmlScanner&) = delete;

    // Reads the page file and collects its links in document order, resolved
    // against pageUrl (the canonical URL it was downloaded from). title is
    // left absent when the page has none.
    bool CollectLinks(std::string_view pageUrl, const std::string& filePath,
                      std::vector<LinkRef>& links, std::optional<std::string>& title);
    // The same over bytes already in memory.
    bool CollectLinksFromBytes(std::string_view pageUrl, std::string_view page,
                               std::vector<LinkRef>& links, std::optional<std::string>& title);
    // The url() and @import links of a style sheet, resolved against its URL.
    bool CollectStyleSheetLinks(std::string_view sheetUrl, std::string_view css, std::vector<LinkRef>& links);
    // A stored file that is a page or a style sheet (LooksLikeStyleSheet
    // tells which): its links.
    bool CollectStoredLinks(std::string_view url, const std::string& filePath, std::vector<LinkRef>& links,
                            std::optional<std::string>& title);

    // Rewrites the saved page (or style sheet: see LooksLikeStyleSheet) in
    // place: through "tmp.html" in the project's
    // mirror directory, which replaces the page only when the pass succeeded.
    // savedInfo: a stat of the saved page just made, if there is one. A page
    // changed after rewrittenAfter (its change time) was rewritten already:
    // it is left as it is (and true returned). The page keeps its
    // modification time and entity tag.
    bool RewriteLinks(std::string_view pageUrl, std::string_view folderPath, const std::string& savedFile,
                      const CMirror& mirror, bool localizeAll, const struct stat* savedInfo = nullptr,
                      std::chrono::system_clock::time_point rewrittenAfter =
                          std::chrono::system_clock::time_point::max());
    // Removes "tmp.html", which a rewrite may leave behind for the next one.
    void RemoveTemporary(const CMirror& mirror);
    // The rewrite over bytes in memory; out receives the new page.
    bool RewriteBytes(std::string_view pageUrl, std::string_view folderPath, std::string_view page,
                      const CMirror& mirror, bool localizeAll, std::string& out);

    int error() const { return error_; }
    // After a rewrite that failed to write: the errno and the path (0 and
    // empty otherwise).
    int writeError() const { return writeError_; }
    const std::string& writeErrorPath() const { return writeErrorPath_; }
    // Set when the collect pass met META ROBOTS with NOFOLLOW or NONE.
    bool stopped() const { return stopped_; }

private:
    enum class Placed { Exchanged, Renamed, Failed };
    static Placed PutInPlace(const std::string& temporary, const std::string& savedFile, bool reuseOld);
    void ForgetTemporary();

    int error_ = HtmlScanOk;
    bool stopped_ = false;
    int writeError_ = 0;
    std::string writeErrorPath_;
    // Reused from page to page (each pass bases it on its page's URL).
    LinkResolver resolver_;
    // Working room of the rewrite pass, kept from page to page.
    std::string value_;
    std::string candidate_;
    // The temporary the last rewrite left: its path, the file kept open
    // for the next rewrite (or -1), and its size when known.
    std::string temporaryPath_;
    int temporaryFd_ = -1;
    std::optional<size_t> temporarySize_;
};

// Code of a tag name, attribute name or META keyword (already upper case);
// 0 for names not in the table.
int LookupHtmlName(std::string_view upperName);

} // namespace ormbrook
