#include "crawl/html_scanner.h"

#include "common/name_index.h"
#include "crawl/css_scanner.h"
#include "crawl/html_values.h"
#include "crawl/mirror.h"
#include "platform/file_calls.h"
#include "common/url.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace ormbrook {

namespace {

enum NameCode : int {
    CodeNone = 0,
    CodeA = 1,
    CodeArea = 3,
    CodeBody = 5,
    CodeComment = 7,
    CodeFrame = 8,
    CodeImg = 10,
    CodeMeta = 12,
    CodeTitle = 14,
    CodeEndTitle = 15,
    CodeBackground = 16,
    CodeContent = 17,
    CodeHref = 18,
    CodeName = 20,
    CodeSrc = 21,
    CodeUsemap = 22,
    CodeNofollow = 26,
    CodeNoneKeyword = 28,
    CodeRobots = 29,
    // Beyond the table the crawl began with: the page's requisites.
    CodeLink = 30,
    CodeScript = 31,
    CodeIframe = 32,
    CodeSource = 33,
    CodeVideo = 34,
    CodeAudio = 35,
    CodeInput = 36,
    CodeTable = 37,
    CodeTd = 38,
    CodeTh = 39,
    CodeTr = 40,
    CodeStyle = 41, // the element and the attribute
    CodeBase = 42,
    CodeSrcset = 43,
    CodePoster = 44,
    CodeType = 45,
    CodeRel = 46,
};

// The attributes a tag's loop acts on, one bit per code.
using CodeSet = uint64_t;
constexpr CodeSet Bit(int code) { return CodeSet(1) << code; }

constexpr size_t kNameMax = 144;   // name buffer of 145 bytes
// The length of the bracketed IPv6 address that starts at text[at], where a
// host or a folder name starts (after "/" or at the start); 0 when there is
// none there.
size_t Ipv6LiteralAt(std::string_view text, size_t at)
{
    if (at > 0 && text[at - 1] != '/')
        return 0;
    const size_t close = text.find(']', at);
    if (close == std::string_view::npos || close - at - 1 >= INET6_ADDRSTRLEN)
        return 0;
    char inner[INET6_ADDRSTRLEN];
    const std::string_view address = text.substr(at + 1, close - at - 1);
    if (address.find(':') == std::string_view::npos)
        return 0;
    address.copy(inner, address.size());
    inner[address.size()] = '\0';
    in6_addr parsed;
    return ::inet_pton(AF_INET6, inner, &parsed) == 1 ? close - at + 1 : 0;
}

// Values are views into the page, so a generous limit costs nothing: long
// srcset lists and inline styles of today's pages run to several kilobytes.
constexpr size_t kValueMax = 64 * 1024 - 1;
constexpr size_t kLongestTableName = 10;

struct NameEntry {
    std::string_view name;
    int code;
};

constexpr NameEntry kNames[] = {
    {"A", 1}, {"/A", 2}, {"AREA", 3}, {"/AREA", 4}, {"BODY", 5}, {"/BODY", 6}, {"!--", 7},
    {"FRAME", 8}, {"/FRAME", 9}, {"IMG", 10}, {"/IMG", 11}, {"META", 12}, {"/META", 13},
    {"TITLE", 14}, {"/TITLE", 15}, {"BACKGROUND", 16}, {"CONTENT", 17}, {"HREF", 18},
    {"ISMAP", 19}, {"NAME", 20}, {"SRC", 21}, {"USEMAP", 22}, {"ALL", 23}, {"FOLLOW", 24},
    {"INDEX", 25}, {"NOFOLLOW", 26}, {"NOINDEX", 27}, {"NONE", 28}, {"ROBOTS", 29},
    {"LINK", 30}, {"SCRIPT", 31}, {"IFRAME", 32}, {"SOURCE", 33}, {"VIDEO", 34}, {"AUDIO", 35},
    {"INPUT", 36}, {"TABLE", 37}, {"TD", 38}, {"TH", 39}, {"TR", 40}, {"STYLE", 41}, {"BASE", 42},
    {"SRCSET", 43}, {"POSTER", 44}, {"TYPE", 45}, {"REL", 46},
};

static_assert(std::size(kNames) <= 64);
constexpr NameIndex kNameIndex = MakeNameIndex(kNames);

enum ByteClass : unsigned char {
    kWhite = 1,        // tab, LF, CR, space
    kNameEnd = 2,      // ends a name: white, quotes, "=", ">"
    kUnquotedEnd = 4,  // ends an unquoted value: LF, CR, space, ">", double quote
    kSkipEnd = 8,      // ends a skipped attribute: space, tab, ">"
};

constexpr std::array<unsigned char, 256> MakeClasses()
{
    std::array<unsigned char, 256> table{};
    for (unsigned char c : {'\t', '\n', '\r', ' '})
        table[c] |= kWhite | kNameEnd;
    for (unsigned char c : {'"', '\'', '=', '>'})
        table[c] |= kNameEnd;
    for (unsigned char c : {'\n', '\r', ' ', '>', '"'})
        table[c] |= kUnquotedEnd;
    for (unsigned char c : {' ', '\t', '>'})
        table[c] |= kSkipEnd;
    return table;
}

constexpr std::array<unsigned char, 256> kClass = MakeClasses();

inline unsigned char Upper(unsigned char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c;
}

// Folds and looks up a value (a META name or keyword) the way names are.
int LookupFolded(std::string_view text)
{
    if (text.size() > kLongestTableName)
        return CodeNone;
    char folded[kLongestTableName];
    for (size_t i = 0; i < text.size(); ++i)
        folded[i] = static_cast<char>(Upper(static_cast<unsigned char>(text[i])));
    return LookupHtmlName(std::string_view(folded, text.size()));
}

// The tokenizer both passes share. p_ is the current byte; Advance() fails
// at the end of the data, which ends the pass. Output for the rewrite pass
// is kept as spans of the input, so echoing costs nothing per byte.
class Tokenizer {
public:
    explicit Tokenizer(std::string_view data)
        : begin_(reinterpret_cast<const unsigned char*>(data.data())),
          p_(begin_), end_(begin_ + data.size())
    {
    }

    enum class Value { End, Absent, Present };

    bool FindTag()
    {
        if (p_ >= end_)
            return false;
        auto* lt = static_cast<const unsigned char*>(std::memchr(p_, '<', end_ - p_));
        if (!lt) {
            p_ = end_;
            return false;
        }
        p_ = lt;
        tagStart_ = p_ + 1;
        return Advance();
    }

    bool SkipWhite()
    {
        while (kClass[*p_] & kWhite) {
            if (!Advance())
                return false;
        }
        return true;
    }

    // The first byte is always taken; the name ends before the next name
    // terminator, which becomes current.
    bool ReadName()
    {
        size_t length = 0;
        bool fits = true;
        do {
            if (length < kNameMax) {
                if (length < kLongestTableName)
                    name_[length] = static_cast<char>(Upper(*p_));
                ++length;
            }
            if (!Advance())
                return false;
        } while (!(kClass[*p_] & kNameEnd));
        fits = length <= kLongestTableName;
        code_ = fits ? LookupHtmlName(std::string_view(name_, length)) : CodeNone;
        return true;
    }

    bool SkipPastGt()
    {
        auto* gt = static_cast<const unsigned char*>(std::memchr(p_, '>', end_ - p_));
        if (!gt) {
            p_ = end_;
            return false;
        }
        p_ = gt;
        return Advance();
    }

    bool SkipComment()
    {
        auto* close = static_cast<const unsigned char*>(::memmem(p_, end_ - p_, "-->", 3));
        if (!close) {
            p_ = end_;
            return false;
        }
        p_ = close + 2;
        return Advance();
    }

    bool SkipAttribute()
    {
        while (!(kClass[*p_] & kSkipEnd)) {
            if (!Advance())
                return false;
        }
        return true;
    }

    Value ReadValue()
    {
        if (!SkipWhite())
            return Value::End;
        if (*p_ != '=')
            return Value::Absent;
        if (!Advance() || !SkipWhite())
            return Value::End;
        const unsigned char quote = *p_;
        const unsigned char* start;
        const unsigned char* stop;
        if (quote == '"' || quote == '\'') {
            if (!Advance())
                return Value::End;
            start = p_;
            stop = static_cast<const unsigned char*>(std::memchr(p_, quote, end_ - p_));
            if (!stop) {
                p_ = end_;
                return Value::End;
            }
            p_ = stop;
            if (!Advance())
                return Value::End;
        } else {
            start = p_;
            while (!(kClass[*p_] & kUnquotedEnd)) {
                if (!Advance())
                    return Value::End;
            }
            stop = p_;
        }
        size_t length = static_cast<size_t>(stop - start);
        valueCut_ = length > kValueMax;
        value_ = std::string_view(reinterpret_cast<const char*>(start), valueCut_ ? kValueMax : length);
        return Value::Present;
    }

    // Whether the tag at hand (up to its ">") has an attribute named
    // "style" with a value: most tags have none, and are skipped whole.
    bool TagHasStyleAttribute() const
    {
        const auto* gt = static_cast<const unsigned char*>(std::memchr(p_, '>', end_ - p_));
        const unsigned char* stop = gt ? gt : end_;
        for (const unsigned char* q = p_; q < stop;) {
            const auto* eq = static_cast<const unsigned char*>(std::memchr(q, '=', stop - q));
            if (!eq)
                return false;
            const unsigned char* nameEnd = eq;
            while (nameEnd > p_ && (kClass[nameEnd[-1]] & kWhite))
                --nameEnd;
            if (nameEnd - p_ >= 5) {
                const unsigned char* name = nameEnd - 5;
                bool match = name == p_ || (kClass[name[-1]] & kWhite) || name[-1] == '"' || name[-1] == '\'';
                for (int i = 0; match && i < 5; ++i)
                    match = Upper(name[i]) == "STYLE"[i];
                if (match)
                    return true;
            }
            q = eq + 1;
        }
        return false;
    }

    // Where the content of a STYLE element that starts here ends: the
    // offset of its "</style", or the end of the data.
    size_t StyleContentEnd() const
    {
        for (const unsigned char* q = p_; q < end_;) {
            const auto* lt = static_cast<const unsigned char*>(std::memchr(q, '<', end_ - q));
            if (!lt)
                break;
            if (end_ - lt >= 7 && lt[1] == '/') {
                bool match = true;
                for (int i = 0; match && i < 5; ++i)
                    match = Upper(lt[2 + i]) == "STYLE"[i];
                if (match)
                    return static_cast<size_t>(lt - begin_);
            }
            q = lt + 1;
        }
        return static_cast<size_t>(end_ - begin_);
    }

    // Goes on from an offset of the data (the end when it lies beyond).
    bool JumpTo(size_t offset)
    {
        p_ = begin_ + std::min(offset, static_cast<size_t>(end_ - begin_));
        return p_ < end_;
    }

    bool Advance() { return ++p_ < end_; }
    unsigned char Current() const { return *p_; }
    size_t Offset() const { return static_cast<size_t>(p_ - begin_); }
    size_t TagOffset() const { return static_cast<size_t>(tagStart_ - begin_); }
    int Code() const { return code_; }
    std::string_view ValueText() const { return value_; }
    bool ValueCut() const { return valueCut_; }

private:
    const unsigned char* begin_;
    const unsigned char* p_;
    const unsigned char* end_;
    const unsigned char* tagStart_ = nullptr;
    char name_[kLongestTableName];
    int code_ = CodeNone;
    std::string_view value_;
    bool valueCut_ = false;
};

// Runs find tag / handle tag over the data until it ends or the pass stops.
// Pass::Tag(tokenizer, code) handles one tag positioned after its name and
// white space; it returns false when the data ended.
template <typename Pass>
void RunTokenizer(Tokenizer& t, Pass& pass)
{
    while (!pass.Done()) {
        if (!t.FindTag() || !t.SkipWhite() || !t.ReadName())
            return;
        const int tag = t.Code();
        if (tag == CodeComment) {
            if (!t.SkipComment())
                return;
            continue;
        }
        if (!t.SkipWhite() || !pass.Tag(t, tag))
            return;
    }
}

// The attribute loop of a listed tag: every attribute whose code is in
// `wanted` and that has a value goes to onValue(code, offset after the
// name's terminator, the terminator); the rest are skipped. Ends past the
// tag's ">".
template <typename OnValue>
bool AttributeLoop(Tokenizer& t, CodeSet wanted, OnValue onValue)
{
    while (t.Current() != '>') {
        if (!t.ReadName())
            return false;
        const int code = t.Code();
        if (code != CodeNone && (wanted & Bit(code))) {
            const size_t afterTerminator = t.Offset() + 1;
            const char terminator = static_cast<char>(t.Current());
            switch (t.ReadValue()) {
            case Tokenizer::Value::End:
                return false;
            case Tokenizer::Value::Absent:
                if (!t.SkipAttribute())
                    return false;
                break;
            case Tokenizer::Value::Present:
                onValue(code, afterTerminator, terminator);
                break;
            }
        } else if (!t.SkipAttribute()) {
            return false;
        }
        if (!t.SkipWhite())
            return false;
    }
    return t.Advance();
}

// What each tag's links are: the attributes that hold one URL, with the
// kind they give, and whether a srcset or a style attribute is read too.
struct TagLinks {
    int attribute1 = CodeNone;
    LinkKind kind1 = LinkKindAnchor;
    int attribute2 = CodeNone;
    LinkKind kind2 = LinkKindAnchor;
    bool srcset = false;
};

std::optional<TagLinks> LinksOfTag(int tag)
{
    switch (tag) {
    case CodeA: return TagLinks{CodeHref, LinkKindAnchor};
    case CodeArea: return TagLinks{CodeHref, LinkKindArea};
    case CodeBody:
    case CodeTable:
    case CodeTd:
    case CodeTh:
    case CodeTr: return TagLinks{CodeBackground, LinkKindBackground};
    case CodeFrame: return TagLinks{CodeSrc, LinkKindFrame};
    case CodeIframe: return TagLinks{CodeSrc, LinkKindInlineFrame};
    case CodeImg: return TagLinks{CodeSrc, LinkKindImage, CodeUsemap, LinkKindUsemap, true};
    case CodeScript: return TagLinks{CodeSrc, LinkKindScript};
    case CodeSource: return TagLinks{CodeSrc, LinkKindMedia, CodeNone, LinkKindAnchor, true};
    case CodeVideo: return TagLinks{CodeSrc, LinkKindMedia, CodePoster, LinkKindMedia};
    case CodeAudio: return TagLinks{CodeSrc, LinkKindMedia};
    default: return std::nullopt;
    }
}

CodeSet AttributesOf(const TagLinks& links)
{
    CodeSet set = Bit(CodeStyle) | Bit(links.attribute1);
    if (links.attribute2 != CodeNone)
        set |= Bit(links.attribute2);
    if (links.srcset)
        set |= Bit(CodeSrcset);
    return set;
}

// ASCII case-insensitive search of a lower-case word.
bool ContainsFolded(std::string_view text, std::string_view lowerWord)
{
    if (lowerWord.size() > text.size())
        return false;
    for (size_t i = 0; i + lowerWord.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < lowerWord.size() && static_cast<char>(std::tolower(static_cast<unsigned char>(text[i + k])))
                   == lowerWord[k])
            ++k;
        if (k == lowerWord.size())
            return true;
    }
    return false;
}

// A LINK is a requisite of the page when it brings a style sheet or an icon.
bool RequisiteRel(std::string_view rel) { return ContainsFolded(rel, "stylesheet") || ContainsFolded(rel, "icon"); }

bool EqualsFolded(std::string_view text, std::string_view lowerWord)
{
    return text.size() == lowerWord.size() && ContainsFolded(text, lowerWord);
}

class CollectPass {
public:
    CollectPass(LinkResolver& resolver, std::string_view data, std::vector<LinkRef>& links,
                std::optional<std::string>& title)
        : resolver_(resolver), data_(data), links_(links), title_(title)
    {
    }

    bool Done() const { return stopped_; }
    bool stopped() const { return stopped_; }

    bool Tag(Tokenizer& t, int tag)
    {
        if (const std::optional<TagLinks> links = LinksOfTag(tag)) {
            return AttributeLoop(t, AttributesOf(*links), [&](int code, size_t, char) {
                if (code == links->attribute1)
                    Add(t.ValueText(), links->kind1);
                else if (code == links->attribute2)
                    Add(t.ValueText(), links->kind2);
                else if (code == CodeSrcset)
                    AddSrcset(t.ValueText());
                else if (code == CodeStyle)
                    AddStyle(t.ValueText(), true);
            });
        }
        switch (tag) {
        case CodeLink:
        case CodeInput:
            return Conditional(t, tag);
        case CodeBase:
            return AttributeLoop(t, Bit(CodeHref), [&](int, size_t, char) { Base(t.ValueText()); });
        case CodeStyle: {
            if (!AttributeLoop(t, Bit(CodeStyle), [&](int, size_t, char) { AddStyle(t.ValueText(), true); }))
                return false;
            const size_t start = t.Offset();
            const size_t end = t.StyleContentEnd();
            AddStyle(data_.substr(start, end - start), false);
            return t.JumpTo(end);
        }
        case CodeMeta:
            return Meta(t);
        case CodeTitle:
            if (!t.SkipPastGt())
                return false;
            titleStart_ = t.Offset();
            haveTitleStart_ = true;
            return true;
        case CodeEndTitle:
            if (haveTitleStart_) {
                const size_t lt = t.TagOffset() - 1;
                if (lt > titleStart_)
                    title_ = std::string(data_.substr(titleStart_, lt - titleStart_));
                else
                    title_.reset();
                haveTitleStart_ = false;
            }
            return t.SkipPastGt();
        default:
            if (t.TagHasStyleAttribute())
                return AttributeLoop(t, Bit(CodeStyle), [&](int, size_t, char) { AddStyle(t.ValueText(), true); });
            return t.SkipPastGt();
        }
    }

private:
    // LINK counts when its rel names a style sheet or an icon, INPUT when it
    // is an image button; either attribute may come first.
    bool Conditional(Tokenizer& t, int tag)
    {
        const int urlCode = tag == CodeLink ? CodeHref : CodeSrc;
        const int conditionCode = tag == CodeLink ? CodeRel : CodeType;
        std::string_view url, condition;
        bool haveUrl = false;
        const bool ok = AttributeLoop(t, Bit(urlCode) | Bit(conditionCode) | Bit(CodeStyle), [&](int code, size_t, char) {
            if (code == urlCode) {
                url = t.ValueText();
                haveUrl = true;
            } else if (code == conditionCode) {
                condition = t.ValueText();
            } else {
                AddStyle(t.ValueText(), true);
            }
        });
        if (haveUrl) {
            if (tag == CodeLink && RequisiteRel(condition))
                Add(url, LinkKindStyleSheet);
            else if (tag == CodeInput && EqualsFolded(condition, "image"))
                Add(url, LinkKindInputImage);
        }
        return ok;
    }

    // The first BASE with an href is what the links after it resolve
    // against; it is resolved against the page itself.
    void Base(std::string_view href)
    {
        if (based_)
            return;
        based_ = true;
        const std::string_view value = Decoded(href);
        if (value.empty())
            return;
        if (const std::optional<std::string_view> url = resolver_.Resolve(value)) {
            base_.assign(*url);
            resolver_.Rebase(base_);
        }
    }

    // The value with its character references decoded.
    std::string_view Decoded(std::string_view value)
    {
        return DecodeCharacterReferences(value, decoded_) ? std::string_view(decoded_) : value;
    }

    void AddSrcset(std::string_view value)
    {
        const std::string srcset(Decoded(value));
        SplitSrcset(srcset, candidates_);
        for (const SrcsetCandidate& c : candidates_)
            AddDecoded(std::string_view(srcset).substr(c.offset, c.length), LinkKindSrcset);
    }

    // attribute: a style attribute, whose character references count; else
    // the content of a STYLE element, which has none.
    void AddStyle(std::string_view value, bool attribute)
    {
        const std::string css(attribute ? Decoded(value) : value);
        cssLinks_.clear();
        FindCssLinks(css, cssLinks_);
        for (const CssLink& link : cssLinks_)
            AddDecoded(std::string_view(css).substr(link.offset, link.length),
                       link.import ? LinkKindCssImport : LinkKindCssUrl);
    }

    void Add(std::string_view value, LinkKind kind) { AddDecoded(Decoded(value), kind); }

    void AddDecoded(std::string_view value, LinkKind kind)
    {
        if (value.empty() || value[0] == '#')
            return;
        // A link already rewritten to a local name ("[" for "%") resolves
        // back to the URL it was made from. The local name of a URL with a
        // query carries "[3f" where the "?" was; read as "%3f" it would name
        // a file that no server has, so it becomes the "?" again.
        scratch_.assign(value);
        bool queryFound = false;
        for (size_t i = 0; i < scratch_.size(); ++i) {
            if (scratch_[i] != '[')
                continue;
            // An IPv6 site's bracketed address (in a URL, or as the folder a
            // local link leads into) is no local name.
            if (const size_t length = Ipv6LiteralAt(scratch_, i)) {
                i += length - 1;
                continue;
            }
            if (!queryFound && scratch_.compare(i, 3, "[3f") == 0) {
                scratch_.replace(i, 3, "?");
                queryFound = true;
            } else {
                scratch_[i] = '%';
            }
        }
        if (const std::optional<std::string_view> url = resolver_.Resolve(scratch_))
            links_.push_back(LinkRef{std::string(*url), kind});
    }

    bool Meta(Tokenizer& t)
    {
        bool robotsTag = false;
        while (t.Current() != '>') {
            if (!t.ReadName())
                return false;
            const int code = t.Code();
            if (code == CodeName || code == CodeContent) {
                switch (t.ReadValue()) {
                case Tokenizer::Value::End:
                    return false;
                case Tokenizer::Value::Absent:
                    return t.SkipPastGt();
                case Tokenizer::Value::Present:
                    break;
                }
                if (code == CodeName) {
                    robotsTag = LookupFolded(t.ValueText()) == CodeRobots;
                } else if (robotsTag) {
                    std::string_view content = t.ValueText();
                    size_t start = 0;
                    while (start <= content.size()) {
                        size_t comma = content.find(',', start);
                        if (comma == std::string_view::npos)
                            comma = content.size();
                        const int keyword = LookupFolded(content.substr(start, comma - start));
                        if (keyword == CodeNofollow || keyword == CodeNoneKeyword)
                            stopped_ = true;
                        start = comma + 1;
                    }
                }
            } else if (!t.SkipAttribute()) {
                return false;
            }
            if (!t.SkipWhite())
                return false;
        }
        return t.Advance();
    }

    LinkResolver& resolver_; // based on the page, or on its BASE
    std::string_view data_;
    std::vector<LinkRef>& links_;
    std::optional<std::string>& title_;
    std::string scratch_;
    std::string decoded_;
    std::string base_;
    bool based_ = false;
    std::vector<SrcsetCandidate> candidates_;
    std::vector<CssLink> cssLinks_;
    size_t titleStart_ = 0;
    bool haveTitleStart_ = false;
    bool stopped_ = false;
};

// Readable mirror names hold UTF-8; a link to one carries it escaped, as a
// browser reads a path, so that it works in a page of any encoding.
void EscapeBeyondAscii(std::string& link)
{
    size_t first = 0;
    while (first < link.size() && static_cast<unsigned char>(link[first]) < 0x80)
        ++first;
    if (first == link.size())
        return;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string escaped(link, 0, first);
    for (size_t i = first; i < link.size(); ++i) {
        const auto c = static_cast<unsigned char>(link[i]);
        if (c < 0x80) {
            escaped.push_back(char(c));
        } else {
            escaped.push_back('%');
            escaped.push_back(kHex[c >> 4]);
            escaped.push_back(kHex[c & 15]);
        }
    }
    link.swap(escaped);
}

// Localisation of one link: the text a link found in a page or style sheet
// is written back as. Shared by the HTML and the style sheet rewrites.
class LinkLocaliser {
public:
    LinkLocaliser(LinkResolver& resolver, std::string_view ownLocal, std::string_view folderPath,
                  const CMirror& mirror, bool localizeAll, std::string& candidate)
        : resolver_(resolver), ownLocal_(ownLocal), folderPath_(folderPath), mirror_(mirror),
          localizeAll_(localizeAll), candidate_(candidate)
    {
    }

    // The new text of a link (character references decoded) in `result`;
    // false when the link is to stay as written: empty, a fragment of this
    // page, a local name already, one that does not resolve, or one with no
    // local path when all links are to point into the mirror.
    bool Localise(std::string_view link, std::string& result)
    {
        if (link.empty() || link[0] == '#' || NamesFileBesidePage(link))
            return false;
        const std::optional<std::string_view> resolved = resolver_.Resolve(link);
        if (!resolved)
            return false;
        const CUrl& parsed = resolver_.resolved();
        std::optional<std::string> local = localizeAll_ ? mirror_.LocalPath(parsed, folderPath_)
                                                        : mirror_.ExistingFile(parsed, folderPath_);
        if (local) {
            if (parsed.hasFragment()) {
                *local += '#';
                *local += parsed.fragment();
            }
            AssignRelativePath(result, ownLocal_, *local);
            EscapeBeyondAscii(result);
            return true;
        }
        if (localizeAll_)
            return false; // no local path can be made for it
        result.assign(*resolved);
        return true;
    }

private:
    // A page localised by an earlier crawl links the mirror's files by their
    // local names ("p.html[3fq=1" for "p.html?q=1"); read as URLs those would
    // name nothing and come out as broken absolute links. A relative link
    // that names a file beside the page is already what localising makes.
    bool NamesFileBesidePage(std::string_view link)
    {
        const size_t end = link.find('#');
        const std::string_view path = link.substr(0, end);
        // A local name may hold a ":" (a query "v:1" becomes "[3fv:1"), but
        // a link that names a scheme is no file beside the page.
        if (path.empty() || path[0] == '/' || StartsWithScheme(path))
            return false;
        // Localising writes characters beyond ASCII escaped: a link that
        // holds them raw is the page's own, even where a readable name
        // matches it.
        for (const char c : path) {
            if (c == '?' || c == '\\' || static_cast<unsigned char>(c) >= 0x80)
                return false;
        }
        const size_t slash = ownLocal_.rfind('/');
        if (slash == std::string_view::npos)
            return false;
        // "../" steps back over the page's own directories, which are there
        // (the page is), so they are taken off before looking: the look then
        // finds the same directory under one name.
        std::string_view directory = ownLocal_.substr(0, slash + 1);
        std::string_view rest = path;
        while (rest.substr(0, 3) == "../" && directory.size() > 1) {
            const size_t up = directory.rfind('/', directory.size() - 2);
            if (up == std::string_view::npos)
                break;
            const std::string_view last = directory.substr(up + 1, directory.size() - up - 2);
            if (last == ".." || last == "." || last.empty())
                break;
            directory = directory.substr(0, up + 1);
            rest.remove_prefix(3);
        }
        candidate_.assign(directory).append(rest);
        return mirror_.IsFile(candidate_);
    }

    LinkResolver& resolver_;
    std::string_view ownLocal_;
    std::string_view folderPath_;
    const CMirror& mirror_;
    bool localizeAll_;
    std::string& candidate_;
};

// The links of a style sheet's text rewritten into out; false when none
// changed (out is then unspecified).
bool RewriteCss(std::string_view css, LinkLocaliser& localiser, std::vector<CssLink>& links, std::string& scratch,
                std::string& out)
{
    links.clear();
    FindCssLinks(css, links);
    size_t copied = 0;
    bool changed = false;
    for (const CssLink& link : links) {
        if (!localiser.Localise(css.substr(link.offset, link.length), scratch))
            continue;
        if (!changed)
            out.clear();
        changed = true;
        out.append(css.substr(copied, link.offset - copied));
        AppendCssUrl(out, scratch, link);
        copied = link.offset + link.length;
    }
    if (changed)
        out.append(css.substr(copied));
    return changed;
}

class RewritePass {
public:
    // value and candidate: working room the scanner keeps from page to page.
    RewritePass(LinkResolver& resolver, std::string_view pageLocal, std::string_view folderPath,
                std::string_view data, const CMirror& mirror, bool localizeAll, std::string& out,
                std::string& value, std::string& candidate)
        : resolver_(resolver), localiser_(resolver, pageLocal, folderPath, mirror, localizeAll, candidate),
          data_(data), out_(out), value_(value)
    {
    }

    bool Done() const { return false; }

    bool Tag(Tokenizer& t, int tag)
    {
        auto replace = [&](int code, size_t afterTerminator, char terminator) {
            Replace(t, code, afterTerminator, terminator);
        };
        if (const std::optional<TagLinks> links = LinksOfTag(tag)) {
            // USEMAP stays as written.
            CodeSet set = AttributesOf(*links);
            if (links->attribute2 == CodeUsemap)
                set &= ~Bit(CodeUsemap);
            return AttributeLoop(t, set, replace);
        }
        switch (tag) {
        case CodeLink:
            return AttributeLoop(t, Bit(CodeHref) | Bit(CodeStyle), replace);
        case CodeInput:
            return AttributeLoop(t, Bit(CodeSrc) | Bit(CodeStyle), replace);
        case CodeBase:
            return Base(t);
        case CodeStyle: {
            if (!AttributeLoop(t, Bit(CodeStyle), replace))
                return false;
            const size_t start = t.Offset();
            const size_t end = t.StyleContentEnd();
            if (RewriteCss(data_.substr(start, end - start), localiser_, cssLinks_, scratch_, css_)) {
                out_.append(data_.substr(copied_, start - copied_));
                out_ += css_;
                copied_ = end;
            }
            return t.JumpTo(end);
        }
        default:
            if (t.TagHasStyleAttribute())
                return AttributeLoop(t, Bit(CodeStyle), replace);
            return t.SkipPastGt();
        }
    }

    // Whatever was not replaced goes out as it stands, also the bytes of a
    // value the data ended in.
    void Finish() { out_.append(data_.substr(copied_)); }

private:
    // The first BASE's href is what the page's links resolve against; the
    // element goes, so that the local links work from the disk. Later ones
    // go as well: they never counted.
    bool Base(Tokenizer& t)
    {
        const size_t lt = t.TagOffset() - 1;
        std::optional<std::string> href;
        if (!AttributeLoop(t, Bit(CodeHref), [&](int, size_t, char) { href = std::string(t.ValueText()); }))
            return false;
        if (href && !based_) {
            based_ = true;
            const std::string_view value = DecodeCharacterReferences(*href, decoded_) ? decoded_ : *href;
            if (!value.empty()) {
                if (const std::optional<std::string_view> url = resolver_.Resolve(value)) {
                    base_.assign(*url);
                    resolver_.Rebase(base_);
                }
            }
        }
        if (lt >= copied_) {
            out_.append(data_.substr(copied_, lt - copied_));
            copied_ = t.Offset();
        }
        return true;
    }

    // The value's span (white space, "=", white space, the value with its
    // quotes) becomes "=" (unless the name ended in one) and the new value in
    // double quotes; the byte that ended the old value follows as it was.
    void Replace(Tokenizer& t, int code, size_t afterTerminator, char terminator)
    {
        if (!NewValue(code, t.ValueText(), t.ValueCut()))
            return;
        out_.append(data_.substr(copied_, afterTerminator - copied_));
        if (terminator != '=')
            out_ += '=';
        out_ += '"';
        out_ += value_;
        out_ += '"';
        copied_ = t.Offset();
    }

    // False means: leave the attribute as written. That is also the choice
    // for a value cut at the buffer limit or one that can't stand between
    // double quotes, so that rewriting never damages a link. The new value
    // (as it goes between the quotes) is left in value_.
    bool NewValue(int code, std::string_view old, bool cut)
    {
        if (cut)
            return false;
        const bool decoded = DecodeCharacterReferences(old, decoded_);
        const std::string_view text = decoded ? std::string_view(decoded_) : old;
        if (code == CodeSrcset || code == CodeStyle) {
            if (!(code == CodeSrcset ? RewriteSrcset(text) : RewriteCss(text, localiser_, cssLinks_, scratch_, css_)))
                return false;
            value_.clear();
            AppendAttributeValue(value_, css_);
            return true;
        }
        if (localiser_.Localise(text, scratch_)) {
            value_.clear();
            AppendAttributeValue(value_, scratch_);
            return true;
        }
        // Kept: the value as it was written, quotes made double.
        value_.assign(old);
        return value_.find('"') == std::string::npos;
    }

    // The srcset with each candidate's URL localised, into css_; false when
    // none changed.
    bool RewriteSrcset(std::string_view srcset)
    {
        SplitSrcset(srcset, candidates_);
        size_t copied = 0;
        bool changed = false;
        for (const SrcsetCandidate& c : candidates_) {
            if (!localiser_.Localise(srcset.substr(c.offset, c.length), scratch_))
                continue;
            if (!changed)
                css_.clear();
            changed = true;
            css_.append(srcset.substr(copied, c.offset - copied));
            // A URL in a srcset ends at white space; a local name holds none,
            // and an absolute URL has it escaped.
            css_ += scratch_;
            copied = c.offset + c.length;
        }
        if (changed)
            css_.append(srcset.substr(copied));
        return changed;
    }

    LinkResolver& resolver_; // based on the page, or on its BASE
    LinkLocaliser localiser_;
    std::string_view data_;
    std::string& out_;
    std::string& value_;     // the new value of the attribute at hand
    std::string decoded_;
    std::string scratch_;
    std::string css_;
    std::string base_;
    bool based_ = false;
    std::vector<CssLink> cssLinks_;
    std::vector<SrcsetCandidate> candidates_;
    size_t copied_ = 0;
};

// Reads a whole file; error codes as the scanner reports them. known: what
// a stat of the file just said, which spares looking again. keepOpen: the
// file is opened for writing as well where that is allowed, and left open
// for the caller (-1 when it could only be read).
int ReadWholeFile(const std::string& path, std::string& data, nlink_t* links = nullptr,
                  const struct stat* known = nullptr, int* keepOpen = nullptr, struct stat* info = nullptr)
{
    // A link where a stored page should be is not followed: it could lead
    // the rewrite out of the mirror.
    int fd = keepOpen ? ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW) : -1;
    if (keepOpen)
        *keepOpen = fd;
    if (fd < 0 && errno != ELOOP)
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return HtmlScanFileError;
    auto closeUnlessKept = [&] {
        if (!keepOpen || *keepOpen != fd)
            ::close(fd);
    };
    struct stat st;
    if (known) {
        st = *known;
    } else if (::fstat(fd, &st) != 0) {
        closeUnlessKept();
        return HtmlScanFileError;
    }
    if (links)
        *links = st.st_nlink;
    if (info)
        *info = st;
    int result = HtmlScanOk;
    try {
        // One byte more than the file should hold: a read that comes back
        // short has met the end, one that fills the room finds a file that
        // grew since it was looked at, and the reading goes on.
        data.resize(static_cast<size_t>(st.st_size) + 1);
        size_t got = 0;
        for (;;) {
            ssize_t n = ::read(fd, data.data() + got, data.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                result = HtmlScanFileError;
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
            if (got < data.size())
                break;
            data.resize(data.size() * 2);
        }
        data.resize(got);
    } catch (const std::bad_alloc&) {
        result = HtmlScanOutOfMemory;
    }
    closeUnlessKept();
    if (result == HtmlScanOk && data.empty())
        result = HtmlScanEmptyInput;
    return result;
}

} // namespace

int LookupHtmlName(std::string_view upperName)
{
    // Only the entries with the name's first byte are compared; most tags of
    // a page (P, DIV, TD...) have none.
    const NameEntry* entry = FindByName(kNames, kNameIndex, upperName);
    return entry ? entry->code : CodeNone;
}

bool CHtmlScanner::CollectLinksFromBytes(std::string_view pageUrl, std::string_view page,
                                         std::vector<LinkRef>& links, std::optional<std::string>& title)
{
    error_ = HtmlScanOk;
    stopped_ = false;
    title.reset();
    if (page.empty()) {
        error_ = HtmlScanEmptyInput;
        return false;
    }
    try {
        Tokenizer tokenizer(page);
        resolver_.Rebase(pageUrl);
        CollectPass pass(resolver_, page, links, title);
        RunTokenizer(tokenizer, pass);
        stopped_ = pass.stopped();
    } catch (const std::bad_alloc&) {
        error_ = HtmlScanOutOfMemory;
        return false;
    }
    return true;
}

bool CHtmlScanner::CollectStyleSheetLinks(std::string_view sheetUrl, std::string_view css,
                                          std::vector<LinkRef>& links)
{
    error_ = HtmlScanOk;
    stopped_ = false;
    try {
        resolver_.Rebase(sheetUrl);
        std::vector<CssLink> found;
        FindCssLinks(css, found);
        for (const CssLink& link : found) {
            const std::string_view text = css.substr(link.offset, link.length);
            if (text.empty() || text[0] == '#')
                continue;
            if (const std::optional<std::string_view> url = resolver_.Resolve(text))
                links.push_back(LinkRef{std::string(*url), link.import ? LinkKindCssImport : LinkKindCssUrl});
        }
    } catch (const std::bad_alloc&) {
        error_ = HtmlScanOutOfMemory;
        return false;
    }
    return true;
}

bool CHtmlScanner::CollectStoredLinks(std::string_view url, const std::string& filePath, std::vector<LinkRef>& links,
                                      std::optional<std::string>& title)
{
    title.reset();
    stopped_ = false;
    std::string data;
    error_ = ReadWholeFile(filePath, data);
    if (error_ != HtmlScanOk)
        return false;
    CUrl parsed;
    if (parsed.Parse(url) && LooksLikeStyleSheet(parsed.extension(), parsed.fileKind() == FileKindHtml, data))
        return CollectStyleSheetLinks(url, data, links);
    return CollectLinksFromBytes(url, data, links, title);
}

bool CHtmlScanner::CollectLinks(std::string_view pageUrl, const std::string& filePath,
                                std::vector<LinkRef>& links, std::optional<std::string>& title)
{
    title.reset();
    stopped_ = false;
    std::string data;
    error_ = ReadWholeFile(filePath, data);
    if (error_ != HtmlScanOk)
        return false;
    return CollectLinksFromBytes(pageUrl, data, links, title);
}

bool CHtmlScanner::RewriteBytes(std::string_view pageUrl, std::string_view folderPath, std::string_view page,
                                const CMirror& mirror, bool localizeAll, std::string& out)
{
    error_ = HtmlScanOk;
    stopped_ = false;
    if (page.empty()) {
        error_ = HtmlScanEmptyInput;
        return false;
    }
    try {
        // The page's links resolve against its canonical URL, which is also
        // what names its local file.
        resolver_.Rebase(pageUrl);
        const CUrl* base = resolver_.base();
        std::optional<std::string> pageLocal = base ? mirror.LocalPath(*base, folderPath) : std::nullopt;
        if (!pageLocal) {
            error_ = HtmlScanNoOutput;
            return false;
        }
        out.clear();
        // Local names are mostly longer than the links they replace.
        out.reserve(page.size() + page.size() / 4);
        if (LooksLikeStyleSheet(base->extension(), base->fileKind() == FileKindHtml, page)) {
            // A style sheet's links are relative to the sheet itself.
            LinkLocaliser localiser(resolver_, *pageLocal, folderPath, mirror, localizeAll, candidate_);
            std::vector<CssLink> links;
            std::string scratch;
            if (!RewriteCss(page, localiser, links, scratch, out))
                out.assign(page);
            return true;
        }
        Tokenizer tokenizer(page);
        RewritePass pass(resolver_, *pageLocal, folderPath, page, mirror, localizeAll, out, value_, candidate_);
        RunTokenizer(tokenizer, pass);
        pass.Finish();
    } catch (const std::bad_alloc&) {
        error_ = HtmlScanOutOfMemory;
        return false;
    }
    return true;
}

CHtmlScanner::~CHtmlScanner()
{
    if (temporaryFd_ >= 0)
        ::close(temporaryFd_);
}

void CHtmlScanner::ForgetTemporary()
{
    if (temporaryFd_ >= 0)
        ::close(temporaryFd_);
    temporaryFd_ = -1;
    temporaryPath_.clear();
    temporarySize_.reset();
}

bool CHtmlScanner::RewriteLinks(std::string_view pageUrl, std::string_view folderPath,
                                const std::string& savedFile, const CMirror& mirror, bool localizeAll,
                                const struct stat* savedInfo, MirrorTime rewrittenAfter)
{
    stopped_ = false;
    writeError_ = 0;
    writeErrorPath_.clear();
    std::string data;
    nlink_t links = 1;
    // The page is opened for writing as well: once exchanged with the
    // temporary it is the next page's temporary, already open.
    int pageFd = -1;
    struct stat page {};
    error_ = ReadWholeFile(savedFile, data, &links, savedInfo, &pageFd, &page);
    struct PageFile {
        int& fd;
        ~PageFile()
        {
            if (fd >= 0)
                ::close(fd);
        }
    } pageFile{pageFd};
    if (error_ != HtmlScanOk)
        return false;
    // The page's change time tells when it was last written; its
    // modification time is the server's date, which the rewrite keeps.
    if (ChangedTimeOf(page) > rewrittenAfter)
        return true;
    std::string out;
    if (!RewriteBytes(pageUrl, folderPath, data, mirror, localizeAll, out))
        return false;
    // A page localised before (a second crawl that found it unchanged)
    // comes out as it went in: there is nothing to write.
    if (out == data)
        return true;

    // One temporary name per project: two rewrites of one project never run
    // at once (RemoveTemporary takes it away after the last). The page is
    // replaced in one step (PutInPlace), so a pass that fails on the way
    // leaves it exactly as it was.
    const std::string temporary = mirror.ProjectDirectory() + "tmp.html";
    if (temporaryPath_ != temporary)
        ForgetTemporary();
    temporaryPath_ = temporary;
    // The temporary left by the last rewrite is written over and then cut to
    // length rather than emptied first: ext4 writes a file that was emptied
    // out to disk at once when it is closed, which would cost every page a
    // disk write. The cut is left out when the temporary is known to hold no
    // more than the new page.
    const bool mayBeLonger = !temporarySize_ || *temporarySize_ > out.size();
    temporarySize_.reset();
    if (temporaryFd_ < 0)
        temporaryFd_ = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (temporaryFd_ < 0) {
        writeError_ = errno;
        writeErrorPath_ = temporary;
        ForgetTemporary();
        error_ = HtmlScanNoOutput;
        return false;
    }
    // A write that does not go through whole (no space, a quota) leaves the
    // page as it was.
    int err = PWriteFully(temporaryFd_, out.data(), out.size(), 0);
    if (err == 0 && mayBeLonger)
        err = -FileCalls::Current().Truncate(temporaryFd_, static_cast<off_t>(out.size()));
    const bool written = err == 0;
    if (!written) {
        writeError_ = err;
        writeErrorPath_ = temporary;
    }
    // The rewritten page is the same copy of the server's file: it keeps the
    // date and entity tag the next crawl asks the server about.
    if (written)
        CopyStoredDates(savedFile, pageFd, page, temporaryFd_);
    const Placed placed = written ? PutInPlace(temporary, savedFile, links == 1) : Placed::Failed;
    // The file written is the page now (or, failing, goes); either way it
    // is not the temporary any longer.
    ::close(temporaryFd_);
    temporaryFd_ = -1;
    switch (placed) {
    case Placed::Exchanged:
        // The temporary is now the old page, as it was read, and open when
        // it could be opened for writing.
        temporaryFd_ = std::exchange(pageFd, -1);
        temporarySize_ = data.size();
        return true;
    case Placed::Renamed:
        return true;
    case Placed::Failed:
        if (written) {
            writeError_ = errno;
            writeErrorPath_ = savedFile;
        }
        break;
    }
    ::unlink(temporary.c_str());
    ForgetTemporary();
    error_ = HtmlScanFileError;
    return false;
}

void CHtmlScanner::RemoveTemporary(const CMirror& mirror)
{
    ForgetTemporary();
    ::unlink((mirror.ProjectDirectory() + "tmp.html").c_str());
}

CHtmlScanner::Placed CHtmlScanner::PutInPlace(const std::string& temporary, const std::string& savedFile,
                                              bool reuseOld)
{
    // Exchanging the two names keeps the old page's file as the next
    // temporary, so a run of rewrites neither creates nor deletes a file per
    // page (file systems that date deleted files make each new file look
    // past every file deleted in the last minutes). An old page with other
    // names (a backup made of hard links) must keep its bytes, so it is only
    // replaced. Where the exchange is not supported the rename does it.
    if (reuseOld
        && ::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, savedFile.c_str(), RENAME_EXCHANGE) == 0)
        return Placed::Exchanged;
    return ::rename(temporary.c_str(), savedFile.c_str()) == 0 ? Placed::Renamed : Placed::Failed;
}

} // namespace ormbrook
