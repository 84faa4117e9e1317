#include "crawl/project_file.h"

#include "crawl/project_item.h"
#include "crawl/settings.h"
#include "common/url.h"
#include "platform/file_calls.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace ormbrook {

static_assert(KwProjectDefault == 9 && KwFolder == 8 && KwRecord == 10);
static_assert(KwExtVideo == 26 && KwTimer == 39 && KwURL == 41 && KwUVExtVideo == 50);
static_assert(KwWiperH == 56 && KwFailedFile == 63 && KwUseHttp10 == 64 && KwRequisitesOffSite == 65);

namespace {

// Every keyword, in code order from 8.
constexpr std::array<const char*, 58> kKeywords = {
    "Folder", "ProjectDefault", "Record", "BGColor", "ConnectionTimeout", "ReplyRcvTimeout",
    "CtlRcvTimeout", "DataRcvTimeout", "CloseTimeout", "DLNoExt", "DLTotalTimeout", "DLoadRetry",
    "ExtApplication", "ExtAudio", "ExtHtml", "ExtImage", "ExtOthers", "ExtText", "ExtVideo",
    "GraphMax", "IMGSW", "LocalizeLink", "LocalName", "MUDrawSpeed", "MUDrawType", "MinPicSize",
    "NoCache", "NotDLNoExt", "PilotArea", "PilotType", "RenewalType", "Timer", "Title", "URL",
    "UseExtFilter", "UseUVExtFilter", "UVExtApplication", "UVExtAudio", "UVExtHtml", "UVExtImage",
    "UVExtOthers", "UVExtText", "UVExtVideo", "CrossH", "Random", "RasterCloseH", "RasterH",
    "RasterOpenH", "WiperH", "Forbidden", "Selected", "UpperDir", "OtherSite", "AllFile",
    "ModifiedFile", "FailedFile", "UseHttp10", "RequisitesOffSite"};

// The words that stand for MUDrawType 1 to 6.
constexpr std::array<int, 7> kDrawTypeWords = {0, KwRandom, KwCrossH, KwRasterH, KwRasterCloseH, KwRasterOpenH, KwWiperH};

bool isLetter(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isLeadByte(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xEF);
}

bool isDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

int LookupProjectKeyword(std::string_view word)
{
    for (size_t i = 0; i < kKeywords.size(); ++i) {
        if (word == kKeywords[i])
            return int(i) + KwFolder;
    }
    return TokUnknownWord;
}

const char* ProjectKeywordText(int code)
{
    if (code < KwFolder || code > KwRequisitesOffSite)
        return "";
    return kKeywords[size_t(code - KwFolder)];
}

ProjectTokenValue ProjectLexer::Next()
{
    const size_t n = in_.size();
    auto at = [&](size_t i) { return static_cast<unsigned char>(in_[i]); };
    while (pos_ < n && (at(pos_) == '\t' || at(pos_) == '\n' || at(pos_) == '\r' || at(pos_) == ' '))
        ++pos_;
    ProjectTokenValue t;
    t.offset = pos_;
    if (pos_ >= n)
        return t;
    const unsigned char c = at(pos_);
    switch (c) {
    case ',': ++pos_; t.code = TokComma; return t;
    case '=': ++pos_; t.code = TokEquals; return t;
    case '{': ++pos_; t.code = TokOpen; return t;
    case '}': ++pos_; t.code = TokClose; return t;
    case '"': {
        const size_t start = pos_ + 1;
        const size_t end = in_.find('"', start);
        if (end == std::string_view::npos)
            return t; // unterminated
        if (end - start > kProjectMaxText) {
            stringTooLong_ = true;
            return t;
        }
        t.code = TokString;
        t.text = in_.substr(start, end - start);
        pos_ = end + 1;
        return t;
    }
    default:
        break;
    }
    if (isDigit(c)) {
        uint64_t v = 0;
        size_t i = pos_;
        while (i < n && isDigit(at(i))) {
            v = v * 10 + (at(i) - '0');
            if (v > uint64_t(std::numeric_limits<int32_t>::max()))
                v = uint64_t(std::numeric_limits<int32_t>::max());
            ++i;
        }
        if (i >= n)
            return t; // a number must be followed by some byte
        pos_ = i;
        t.code = TokNumber;
        t.number = uint32_t(v);
        return t;
    }
    if (isLetter(c) || isLeadByte(c)) {
        size_t i = pos_;
        while (i < n) {
            const unsigned char b = at(i);
            if (isLeadByte(b)) {
                i += i + 1 < n ? 2 : 1;
            } else if (isLetter(b) || isDigit(b)) {
                ++i;
            } else {
                break;
            }
        }
        std::string_view word = in_.substr(pos_, i - pos_);
        pos_ = i;
        t.text = word.substr(0, kProjectMaxText);
        t.code = LookupProjectKeyword(t.text);
        return t;
    }
    return t; // any other byte ends the input
}

namespace {

enum class BlockKind { Root, Folder, Record };

class Reader {
public:
    explicit Reader(std::string_view input) : lex_(input) {}

    bool read(ProjectItem& root)
    {
        advance();
        if (tok_.code == KwProjectDefault) {
            advance();
            if (!expect(TokOpen) || !settings(root, BlockKind::Root) || !expect(TokClose))
                return false;
        } else if (tok_.code != KwFolder && tok_.code != KwRecord) {
            return fail("a project starts with ProjectDefault, Folder or Record");
        }
        return children(root, 0);
    }

    std::string message;

private:
    void advance() { tok_ = lex_.Next(); }

    bool fail(const std::string& why)
    {
        if (message.empty()) {
            message = "syntax error at byte " + std::to_string(tok_.offset) + ": " + why;
            if (lex_.stringTooLong())
                message += " (a string is longer than " + std::to_string(kProjectMaxText) + " bytes)";
        }
        return false;
    }

    bool expect(int code)
    {
        if (tok_.code != code)
            return fail(std::string("expected ") + tokenName(code));
        advance();
        return true;
    }

    static const char* tokenName(int code)
    {
        switch (code) {
        case TokComma: return "\",\"";
        case TokEquals: return "\"=\"";
        case TokOpen: return "\"{\"";
        case TokClose: return "\"}\"";
        case TokNumber: return "a number";
        case TokString: return "a string";
        default: return ProjectKeywordText(code);
        }
    }

    // A number within what the settings sheet allows for the value.
    bool number(int32_t& out, int32_t low = 0, int32_t high = std::numeric_limits<int32_t>::max())
    {
        if (tok_.code != TokNumber)
            return fail("expected a number");
        const int64_t value = int64_t(tok_.number);
        if (value < low || value > high)
            return fail("the number is not between " + std::to_string(low) + " and " + std::to_string(high));
        out = int32_t(value);
        advance();
        return true;
    }

    // A switch is on for any number but 0, as it always was read: no size
    // of it can do harm.
    bool bit(int32_t& out) { return number(out); }

    // A text holds no control bytes: a NUL would end it early wherever it
    // goes on. A name (a folder's) not even a line break, since names are
    // joined by line breaks in the crawl's lists.
    bool string(std::string& out, bool name = false)
    {
        if (tok_.code != TokString)
            return fail("expected a string");
        for (size_t i = 0; i < tok_.text.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(tok_.text[i]);
            const bool lineBreak = c == '\n' || c == '\r' || c == '\t';
            if ((c < 0x20 || c == 0x7F) && (name || !lineBreak)) {
                tok_.offset += i + 1; // the byte itself, after the opening quote
                return fail("a control byte in a text");
            }
        }
        out.assign(tok_.text);
        advance();
        return true;
    }

    // One of the words in `words` (codes), stored as its index + first.
    bool word(std::initializer_list<int> words, int32_t first, int32_t& out)
    {
        int32_t v = first;
        for (int w : words) {
            if (tok_.code == w) {
                out = v;
                advance();
                return true;
            }
            ++v;
        }
        return fail("unexpected value");
    }

    // The children of a folder or of the root, up to the first token that
    // starts no block.
    bool children(ProjectItem& parent, int depth)
    {
        ProjectItem* last = nullptr;
        for (;;) {
            if (tok_.code == KwFolder) {
                if (depth >= kProjectMaxDepth)
                    return fail("folders nested too deeply");
                advance();
                std::string name;
                if (!expect(TokEquals) || !string(name, true) || !expect(TokOpen))
                    return false;
                ProjectItem* folder = last = AppendChild(parent, ProjectItem::NewFolder(std::move(name)), last);
                if (!settings(*folder, BlockKind::Folder) || !children(*folder, depth + 1) || !expect(TokClose))
                    return false;
            } else if (tok_.code == KwRecord) {
                advance();
                if (!expect(TokOpen))
                    return false;
                ProjectItem* record = last = AppendChild(parent, ProjectItem::NewRecord({}), last);
                if (!settings(*record, BlockKind::Record) || !expect(TokClose))
                    return false;
            } else {
                return true;
            }
        }
    }

    // Settings up to the first token that is not a setting key.
    bool settings(ProjectItem& item, BlockKind block)
    {
        for (;;) {
            const int key = tok_.code;
            if (!isSettingKey(key, block))
                return true;
            advance();
            if (!expect(TokEquals) || !value(item, key))
                return false;
        }
    }

    static bool isSettingKey(int key, BlockKind block)
    {
        switch (key) {
        case KwURL:
        case KwLocalName:
        case KwTitle:
            return block == BlockKind::Record;
        case KwBGColor: case KwConnectionTimeout: case KwReplyRcvTimeout: case KwCtlRcvTimeout:
        case KwDataRcvTimeout: case KwCloseTimeout: case KwDLNoExt: case KwDLTotalTimeout:
        case KwDLoadRetry: case KwExtApplication: case KwExtAudio: case KwExtHtml: case KwExtImage:
        case KwExtOthers: case KwExtText: case KwExtVideo: case KwGraphMax: case KwIMGSW:
        case KwLocalizeLink: case KwMUDrawSpeed: case KwMUDrawType: case KwMinPicSize: case KwNoCache:
        case KwNotDLNoExt: case KwPilotArea: case KwPilotType: case KwRenewalType: case KwUseExtFilter:
        case KwUseUVExtFilter: case KwUVExtApplication: case KwUVExtAudio: case KwUVExtHtml:
        case KwRequisitesOffSite:
        case KwUVExtImage: case KwUVExtOthers: case KwUVExtText: case KwUVExtVideo: case KwUseHttp10:
            return true;
        default:
            return false;
        }
    }

    bool value(ProjectItem& item, int key)
    {
        switch (key) {
        case KwConnectionTimeout: return number(item.ConnectionTimeout, 0, 3600);
        case KwReplyRcvTimeout: return number(item.ReplyRcvTimeout, 0, 3600);
        case KwCtlRcvTimeout: return number(item.CtlRcvTimeout, 0, 3600);
        case KwDataRcvTimeout: return number(item.DataRcvTimeout, 0, 3600);
        case KwCloseTimeout: return number(item.CloseTimeout, 0, 3600);
        case KwDLTotalTimeout: return number(item.DLTotalTimeout);
        case KwDLoadRetry: return number(item.DLoadRetry, 0, 5);
        case KwGraphMax: return number(item.GraphMax, 0, 10);
        case KwMUDrawSpeed: return number(item.MUDrawSpeed, 0, 100);
        case KwIMGSW: return bit(item.IMGSW);
        case KwNoCache: return bit(item.NoCache);
        case KwLocalizeLink: return bit(item.LocalizeLink);
        case KwUseHttp10: return bit(item.UseHttp10);
        case KwRequisitesOffSite: return bit(item.RequisitesOffSite);
        case KwUseExtFilter: return bit(item.downloadFilter.use);
        case KwDLNoExt: return bit(item.downloadFilter.noExt);
        case KwUseUVExtFilter: return bit(item.exclusionFilter.use);
        case KwNotDLNoExt: return bit(item.exclusionFilter.noExt);
        case KwBGColor: {
            int32_t r, g, b;
            if (!expect(TokOpen) || !number(r) || !expect(TokComma) || !number(g) || !expect(TokComma) ||
                !number(b) || !expect(TokClose))
                return false;
            item.BGColor = (r & 0xFF) | (g & 0xFF) << 8 | (b & 0xFF) << 16;
            return true;
        }
        case KwMinPicSize:
            return expect(TokOpen) && number(item.MinPicWidth, 0, 640) && expect(TokComma) &&
                   number(item.MinPicHeight, 0, 480) && expect(TokClose);
        case KwMUDrawType:
            return word({KwRandom, KwCrossH, KwRasterH, KwRasterCloseH, KwRasterOpenH, KwWiperH}, 1, item.MUDrawType);
        case KwPilotType:
            return word({KwForbidden, KwSelected}, 1, item.PilotType);
        case KwPilotArea:
            return word({KwUpperDir, KwOtherSite}, 1, item.PilotArea);
        case KwRenewalType:
            return word({KwAllFile, KwModifiedFile, KwFailedFile}, 1, item.RenewalType);
        case KwExtHtml: return string(item.downloadFilter.lists[ExtKindHtml]);
        case KwExtText: return string(item.downloadFilter.lists[ExtKindText]);
        case KwExtImage: return string(item.downloadFilter.lists[ExtKindImage]);
        case KwExtAudio: return string(item.downloadFilter.lists[ExtKindAudio]);
        case KwExtVideo: return string(item.downloadFilter.lists[ExtKindVideo]);
        case KwExtApplication: return string(item.downloadFilter.lists[ExtKindApplication]);
        case KwExtOthers: return string(item.downloadFilter.lists[ExtKindOthers]);
        case KwUVExtHtml: return string(item.exclusionFilter.lists[ExtKindHtml]);
        case KwUVExtText: return string(item.exclusionFilter.lists[ExtKindText]);
        case KwUVExtImage: return string(item.exclusionFilter.lists[ExtKindImage]);
        case KwUVExtAudio: return string(item.exclusionFilter.lists[ExtKindAudio]);
        case KwUVExtVideo: return string(item.exclusionFilter.lists[ExtKindVideo]);
        case KwUVExtApplication: return string(item.exclusionFilter.lists[ExtKindApplication]);
        case KwUVExtOthers: return string(item.exclusionFilter.lists[ExtKindOthers]);
        case KwLocalName: return string(item.localName);
        case KwTitle: return string(item.title);
        case KwURL: {
            std::string text;
            if (!string(text))
                return false;
            CUrl u;
            item.url = u.Parse(text) ? u.url() : text;
            return true;
        }
        default:
            return fail("unknown key");
        }
    }

    ProjectLexer lex_;
    ProjectTokenValue tok_;
};

// ---- writing ----

// A text goes between double quotes with no escapes, and the reader takes
// no more than kProjectMaxText bytes: a quote inside would end the string
// early and make the whole file unreadable, so it is written as an
// apostrophe, a control byte (a page title's line break) as a space, and a
// longer text is cut.
void putQuoted(std::string& out, std::string_view text)
{
    text = text.substr(0, kProjectMaxText);
    out.push_back('"');
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        out.push_back(c == '"' ? '\'' : u < 0x20 || u == 0x7F ? ' ' : c);
    }
    out.push_back('"');
}

class Writer {
public:
    Writer(const AppSettings& app) : app_(app) {}

    std::string out;

    void root(const ProjectItem& root)
    {
        out += "ProjectDefault\n{\n";
        settings(root, 1);
        out += "}\n";
        for (const ProjectItem* c = root.firstChild; c != nullptr; c = c->next)
            block(*c, 0);
    }

private:
    void indent(int level) { out.append(size_t(level), '\t'); }

    void line(int level, const char* key, const std::string& value)
    {
        indent(level);
        out += key;
        out += '=';
        out += value;
        out += '\n';
    }

    void quotedLine(int level, const char* key, std::string_view text)
    {
        indent(level);
        out += key;
        out += '=';
        putQuoted(out, text);
        out += '\n';
    }

    void block(const ProjectItem& item, int level)
    {
        if (item.kind == ItemRecord) {
            indent(level);
            out += "Record\n";
            indent(level);
            out += "{\n";
            if (!item.url.empty())
                quotedLine(level + 1, "URL", item.url);
            if (!item.localName.empty())
                quotedLine(level + 1, "LocalName", item.localName);
            if (!item.title.empty())
                quotedLine(level + 1, "Title", item.title);
            settings(item, level + 1);
        } else {
            indent(level);
            out += "Folder=";
            putQuoted(out, item.title);
            out += '\n';
            indent(level);
            out += "{\n";
            settings(item, level + 1);
            for (const ProjectItem* c = item.firstChild; c != nullptr; c = c->next)
                block(*c, level + 1);
        }
        indent(level);
        out += "}\n";
    }

    static std::string bit(int32_t v) { return v != 0 ? "1" : "0"; }

    // Values are written only when set here. A negative value can't be read
    // back (no "-" token), so it is left to inheritance rather than written.
    void decimal(int level, const char* key, int32_t v)
    {
        if (v >= 0)
            line(level, key, std::to_string(v));
    }

    void group(const ProjectItem& item, int level, bool download)
    {
        const ExtFilterGroup& own = download ? item.downloadFilter : item.exclusionFilter;
        const ExtFilterGroup effective =
            download ? item.EffectiveDownloadFilter(app_) : item.EffectiveExclusionFilter(app_);
        if (own.use != -1)
            line(level, download ? "UseExtFilter" : "UseUVExtFilter", bit(own.use));
        if (own.noExt != -1)
            line(level, download ? "DLNoExt" : "NotDLNoExt", bit(effective.noExt));
        for (int k = 0; k < kExtKindCount; ++k) {
            if (!own.lists[k].empty() && !effective.lists[k].empty())
                quotedLine(level, download ? kExtListNames[k] : kUVExtListNames[k], effective.lists[k]);
        }
    }

    void settings(const ProjectItem& item, int level)
    {
        if (item.BGColor != -1) {
            const int32_t c = item.BGColor;
            line(level, "BGColor", "{" + std::to_string(c & 0xFF) + "," + std::to_string((c >> 8) & 0xFF) + "," +
                                       std::to_string((c >> 16) & 0xFF) + "}");
        }
        if (item.MUDrawType != -1) {
            const int32_t t = item.MUDrawType;
            line(level, "MUDrawType", ProjectKeywordText(kDrawTypeWords[t >= 2 && t <= 6 ? t : 1]));
        }
        if (item.IMGSW != -1)
            line(level, "IMGSW", bit(item.IMGSW));
        // Width and height are one setting in the file. Either set here is
        // written with the other's effective value, so neither is lost.
        if (item.MinPicWidth != -1 || item.MinPicHeight != -1) {
            const int32_t w = std::max(0, item.Effective(OptMinPicWidth, app_));
            const int32_t h = std::max(0, item.Effective(OptMinPicHeight, app_));
            line(level, "MinPicSize", "{" + std::to_string(w) + "," + std::to_string(h) + "}");
        }
        decimal(level, "MUDrawSpeed", item.MUDrawSpeed);
        decimal(level, "GraphMax", item.GraphMax);
        if (item.PilotArea == 1 || item.PilotArea == 2)
            line(level, "PilotArea", item.PilotArea == 1 ? "UpperDir" : "OtherSite");
        if (item.RequisitesOffSite != -1)
            line(level, "RequisitesOffSite", bit(item.RequisitesOffSite));
        if (item.RenewalType >= 1 && item.RenewalType <= 3)
            line(level, "RenewalType", ProjectKeywordText(KwAllFile + item.RenewalType - 1));
        if (item.NoCache != -1)
            line(level, "NoCache", bit(item.NoCache));
        decimal(level, "ConnectionTimeout", item.ConnectionTimeout);
        decimal(level, "ReplyRcvTimeout", item.ReplyRcvTimeout);
        decimal(level, "CtlRcvTimeout", item.CtlRcvTimeout);
        decimal(level, "DataRcvTimeout", item.DataRcvTimeout);
        decimal(level, "DLTotalTimeout", item.DLTotalTimeout);
        decimal(level, "DLoadRetry", item.DLoadRetry);
        if (item.PilotType == PilotForbidden || item.PilotType == PilotSelected)
            line(level, "PilotType", item.PilotType == PilotForbidden ? "Forbidden" : "Selected");
        if (item.LocalizeLink != -1)
            line(level, "LocalizeLink", bit(item.LocalizeLink));
        // Written only when set, so that files without it read as before.
        if (item.UseHttp10 != -1)
            line(level, "UseHttp10", bit(item.UseHttp10));
        group(item, level, true);
        group(item, level, false);
    }

    const AppSettings& app_;
};

} // namespace

bool ReadProject(std::string_view input, ProjectItem& root, std::string* error)
{
    // Built aside and taken over only when the whole file has been read.
    auto fresh = ProjectItem::NewRoot(root.title);
    Reader reader(input);
    if (!reader.read(*fresh)) {
        if (error != nullptr)
            *error = reader.message;
        return false;
    }
    while (root.firstChild != nullptr)
        DestroySubtree(root.firstChild);
    root.firstChild = fresh->firstChild;
    fresh->firstChild = nullptr;
    for (ProjectItem* child = root.firstChild; child != nullptr; child = child->next)
        child->parent = &root;
    for (int o = 0; o < kItemOptionCount; ++o)
        root.option(ItemOption(o)) = fresh->option(ItemOption(o));
    root.PilotType = fresh->PilotType;
    root.downloadFilter = fresh->downloadFilter;
    root.exclusionFilter = fresh->exclusionFilter;
    return true;
}

std::string WriteProject(const ProjectItem& root, const AppSettings& app)
{
    Writer w(app);
    w.root(root);
    return std::move(w.out);
}

bool ReadProjectFile(const std::string& path, ProjectItem& root, std::string* error)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error != nullptr)
            *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        ssize_t r = ::read(fd, buffer, sizeof buffer);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0) {
            if (error != nullptr)
                *error = "cannot read " + path + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (r == 0)
            break;
        bytes.append(buffer, size_t(r));
    }
    ::close(fd);
    return ReadProject(bytes, root, error);
}

bool SaveProjectFile(const std::string& path, const ProjectItem& root, const AppSettings& app, std::string* error)
{
    auto failed = [&](const std::string& what, int fd, const std::string& temp) {
        const int saved = errno;
        if (fd >= 0)
            ::close(fd);
        if (!temp.empty())
            ::unlink(temp.c_str());
        if (error != nullptr)
            *error = what + " " + path + ": " + std::strerror(saved);
        return false;
    };
    const std::string bytes = WriteProject(root, app);
    std::string temp = path + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return failed("cannot create a temporary file beside", -1, {});
    struct stat st;
    ::fchmod(fd, ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644);
    if (const int err = WriteFully(fd, bytes.data(), bytes.size())) {
        errno = err;
        return failed("cannot write", fd, temp);
    }
    if (::fsync(fd) != 0)
        return failed("cannot flush", fd, temp);
    if (::close(fd) != 0)
        return failed("cannot close", -1, temp);
    if (::rename(temp.c_str(), path.c_str()) != 0)
        return failed("cannot replace", -1, temp);
    return true;
}

} // namespace ormbrook
