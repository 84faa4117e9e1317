#include "crawl/robots.h"

#include "crawl/html_scanner.h"
#include "common/url.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace ormbrook {

namespace {

constexpr size_t kFieldMax = 4095;  // a 4096-byte field buffer
constexpr int kMaxRedirectHops = 8;

enum class Field { UserAgent, Disallow, Allow, Unknown };

bool IsWhite(unsigned char c)
{
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

bool IsAlnum(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool IsAgentByte(unsigned char c)
{
    if (c < 0x20 || c == 0x7f)
        return false;
    switch (c) {
    case '(': case ')': case '<': case '>': case '@': case ',': case ';': case ':': case '\\':
    case '"': case '/': case '[': case ']': case '?': case '=': case '{': case '}': case ' ':
    case '\t':
        return false;
    default:
        return true;
    }
}

bool IsRuleByte(unsigned char c)
{
    if (IsAlnum(c))
        return true;
    switch (c) {
    case '$': case '-': case '_': case '.': case '+':             // safe
    case '!': case '*': case '\'': case '(': case ')': case ',':  // extra
    case '%': case '&': case ':': case '=': case '@': case '/':
        return true;
    default:
        return false;
    }
}

int HexValue(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool EqualsFolded(std::string_view text, std::string_view name)
{
    if (text.size() != name.size())
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char a = static_cast<unsigned char>(text[i]);
        unsigned char b = static_cast<unsigned char>(name[i]);
        if (a >= 'A' && a <= 'Z')
            a = static_cast<unsigned char>(a + 32);
        if (b >= 'A' && b <= 'Z')
            b = static_cast<unsigned char>(b + 32);
        if (a != b)
            return false;
    }
    return true;
}

class RobotsReader {
public:
    explicit RobotsReader(std::string_view data) : data_(data) {}

    bool AtEnd() const { return pos_ >= data_.size(); }

    // White space and comments. A comment runs to the next CR, and the LF
    // after that CR goes with it, so a file with bare LF line ends loses
    // everything after its first comment, as it always has.
    void SkipWhite()
    {
        while (!AtEnd()) {
            unsigned char c = Byte();
            if (IsWhite(c)) {
                ++pos_;
            } else if (c == '#') {
                SkipPastCr();
            } else {
                return;
            }
        }
    }

    void SkipPastCr()
    {
        size_t cr = data_.find('\r', pos_);
        if (cr == std::string_view::npos) {
            pos_ = data_.size();
            return;
        }
        pos_ = cr + 1;
        if (!AtEnd() && Byte() == '\n')
            ++pos_;
    }

    // A value stands on its field's line; whatever follows it there is not
    // read as the next field.
    void SkipRestOfLine()
    {
        while (!AtEnd() && Byte() != '\r' && Byte() != '\n' && Byte() != '#')
            ++pos_;
    }

    // The field name up to ":" (cut to the buffer); false when there is no ":".
    bool ReadFieldName(Field* field)
    {
        size_t colon = data_.find(':', pos_);
        if (colon == std::string_view::npos) {
            pos_ = data_.size();
            return false;
        }
        std::string_view name = data_.substr(pos_, std::min(colon - pos_, kFieldMax));
        pos_ = colon + 1;
        if (EqualsFolded(name, "User-agent"))
            *field = Field::UserAgent;
        else if (EqualsFolded(name, "Disallow"))
            *field = Field::Disallow;
        else if (EqualsFolded(name, "Allow"))
            *field = Field::Allow;
        else
            *field = Field::Unknown;
        return true;
    }

    template <typename Keep>
    std::string_view ReadValue(Keep keep)
    {
        while (!AtEnd() && (Byte() == ' ' || Byte() == '\t'))
            ++pos_;
        size_t start = pos_;
        while (!AtEnd() && keep(Byte()))
            ++pos_;
        return data_.substr(start, std::min(pos_ - start, kFieldMax));
    }

private:
    unsigned char Byte() const { return static_cast<unsigned char>(data_[pos_]); }

    std::string_view data_;
    size_t pos_ = 0;
};

// Percent-decodes a rule; false on a malformed escape.
bool DecodeRule(std::string_view rule, std::string& decoded)
{
    decoded.clear();
    for (size_t i = 0; i < rule.size(); ++i) {
        if (rule[i] != '%') {
            decoded += rule[i];
            continue;
        }
        if (i + 2 >= rule.size())
            return false;
        int high = HexValue(static_cast<unsigned char>(rule[i + 1]));
        int low = HexValue(static_cast<unsigned char>(rule[i + 2]));
        if (high < 0 || low < 0)
            return false;
        decoded += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

bool ReadWhole(const std::string& path, std::string& data)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[65536];
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        data.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return ok;
}

std::string CanonicalUrl(std::string_view url)
{
    CUrl parsed;
    return parsed.Parse(url) ? parsed.url() : std::string();
}

} // namespace

int RobotsAllowsBytes(std::string_view robotsTxt, std::string_view path, std::string_view agent)
{
    RobotsReader reader(robotsTxt);
    bool inGroup = false;    // a User-agent line has been read
    bool afterRule = false;  // the group has had a rule line
    bool applies = false;
    bool matched = false;
    int answer = 1;
    std::string decoded;

    for (;;) {
        reader.SkipWhite();
        Field field;
        if (reader.AtEnd() || !reader.ReadFieldName(&field))
            break;
        if (field == Field::UserAgent) {
            if (afterRule) {
                if (applies)
                    break;  // the first applying group decides
                afterRule = false;
            }
            inGroup = true;
            std::string_view value = reader.ReadValue(IsAgentByte);
            if (value == agent || value == "*")
                applies = true;
            reader.SkipRestOfLine();
        } else if ((field == Field::Disallow || field == Field::Allow) && inGroup) {
            afterRule = true;
            std::string_view rule = reader.ReadValue(IsRuleByte);
            reader.SkipRestOfLine();
            if (!applies)
                continue;
            if (!DecodeRule(rule, decoded))
                break;
            // An empty rule ("Disallow:") names nothing; it must not match
            // every path.
            if (!decoded.empty() && path.substr(0, decoded.size()) == decoded) {
                matched = true;
                answer = field == Field::Allow ? 1 : 0;
            }
        } else {
            reader.SkipPastCr();
        }
    }
    return applies && matched ? answer : 1;
}

int RobotsAllows(const std::string& robotsFile, std::string_view url, std::string_view agent)
{
    CUrl parsed;
    if (!parsed.Parse(url))
        return 1;
    std::string data;
    if (!ReadWhole(robotsFile, data))
        return 1;
    return RobotsAllowsBytes(data, parsed.path(), agent);
}

std::string RobotsUrlFor(std::string_view url, std::string_view robotsUrl)
{
    if (!robotsUrl.empty())
        return std::string(robotsUrl);
    CUrl parsed;
    if (!parsed.Parse(url))
        return std::string();
    return std::string(parsed.site()).append("/robots.txt");
}

RobotsState RobotsStateOf(const CMirror& mirror, std::string_view robotsUrl, std::string_view folderPath,
                          MirrorTime crawlStart, std::string* localFile)
{
    std::string local;
    if (mirror.PrepareLocalFile(robotsUrl, folderPath, true, &local) != MirrorResult::Ok)
        return RobotsStateUnknown;
    if (localFile)
        *localFile = local;
    if (FileChangedAfter(local, crawlStart))
        return RobotsStateFetched;
    if (FileChangedAfter(local + ".html", crawlStart))
        return RobotsStateRedirected;
    return RobotsStateUnknown;
}

RobotsDecisionResult RobotsDecision(const CMirror& mirror, std::string_view url, std::string_view robotsUrl,
                                    std::string_view folderPath, MirrorTime crawlStart,
                                    const RobotsBusyQuery& busy)
{
    RobotsDecisionResult result;
    CUrl parsed;
    if (!parsed.Parse(url))
        return result;  // the driver drops such entries before asking
    const std::string robots = RobotsUrlFor(url, robotsUrl);
    std::string localFile;
    switch (RobotsStateOf(mirror, robots, folderPath, crawlStart, &localFile)) {
    case RobotsStateFetched:
        result.verdict = RobotsAllows(localFile, parsed.url(), kRobotsAgent) ? RobotsVerdict::Allowed
                                                                             : RobotsVerdict::Refused;
        return result;

    case RobotsStateRedirected: {
        // Follow the redirect notes already in the mirror to the first robots
        // URL not itself redirected this crawl. A note without a link, or
        // notes that go round in a circle, mean robots.txt can't be had: it
        // then allows everything, like one that can't be fetched.
        std::vector<std::string> visited{robots};
        std::string currentFile = localFile;
        for (int hop = 0; hop < kMaxRedirectHops; ++hop) {
            CHtmlScanner scanner;
            std::vector<LinkRef> links;
            std::optional<std::string> title;
            // The note holds the Location as the server sent it, which is
            // relative to the robots URL that was redirected.
            if (!scanner.CollectLinks(visited.back(), currentFile + ".html", links, title) || links.empty())
                break;
            const std::string& target = links.front().url;
            bool seen = false;
            for (const std::string& v : visited)
                seen = seen || v == target;
            if (seen)
                break;
            std::string targetFile;
            if (RobotsStateOf(mirror, target, folderPath, crawlStart, &targetFile) != RobotsStateRedirected) {
                result.verdict = RobotsVerdict::Redirected;
                result.robotsUrl = target;
                return result;
            }
            visited.push_back(target);
            currentFile = targetFile;
        }
        mirror.WriteAllowAllRobotsFor(robots, folderPath);
        result.verdict = RobotsVerdict::Allowed;
        return result;
    }

    case RobotsStateUnknown:
        break;
    }
    result.robotsUrl = robots;
    result.verdict = busy && busy(parsed.host(), folderPath) ? RobotsVerdict::Pending
                                                             : RobotsVerdict::FetchFirst;
    return result;
}

RobotsDecisionResult RobotsDecision(const CMirror& mirror, QueueEntry& entry, MirrorTime crawlStart,
                                    const RobotsBusyQuery& busy)
{
    RobotsDecisionResult result =
        RobotsDecision(mirror, entry.url, entry.robotsUrl, entry.folderPath, crawlStart, busy);
    if (result.verdict == RobotsVerdict::Redirected)
        entry.robotsUrl = result.robotsUrl;
    return result;
}

RobotsOutcome ClassifyRobotsFetch(bool stopping, int transferResult, int status)
{
    if (stopping)
        return RobotsOutcome::Stopping;
    if (transferResult != 2)
        return RobotsOutcome::Unavailable;
    switch (status) {
    case 200:
        return RobotsOutcome::Received;
    case 301:
    case 302:
        return RobotsOutcome::Moved;
    case 304:
        return RobotsOutcome::Other;
    default:
        return RobotsOutcome::Unavailable;
    }
}

RobotsFetchedResult RobotsFetched(const CMirror& mirror, bool stopping, int transferResult, int status,
                                  std::string_view location, std::string_view fetchedRobotsUrl,
                                  std::string_view url, std::string_view folderPath,
                                  const std::string& temporaryFile)
{
    RobotsFetchedResult result;
    RobotsOutcome outcome = ClassifyRobotsFetch(stopping, transferResult, status);
    std::optional<std::string> target;
    if (outcome == RobotsOutcome::Moved) {
        // A Location relative to the robots URL is common; one that leads
        // nowhere is treated like a robots.txt that can't be fetched.
        target = CUrl::ResolveLink(fetchedRobotsUrl, location);
        CUrl check;
        if (!target || !check.Parse(*target))
            outcome = RobotsOutcome::Unavailable;
        else
            target = check.url();
    }

    switch (outcome) {
    case RobotsOutcome::Stopping:
        result.next = RobotsNext::RequeueAll;
        return result;

    case RobotsOutcome::Unavailable:
        // Never let a missing robots.txt block the crawl: the generated
        // allow-all file stands in for it for the rest of this crawl.
        result.file = mirror.WriteAllowAllRobotsFor(fetchedRobotsUrl, folderPath);
        result.next = RobotsNext::FetchUrl;
        return result;

    case RobotsOutcome::Received: {
        result.file = mirror.StoreDownload(fetchedRobotsUrl, folderPath, temporaryFile);
        std::string file = temporaryFile;
        if (result.file == MirrorResult::Ok) {
            if (std::optional<std::string> local = mirror.LocalPath(fetchedRobotsUrl, folderPath))
                file = *local;
        }
        const std::string canonical = CanonicalUrl(url);
        result.next = RobotsAllows(file, canonical, kRobotsAgent) ? RobotsNext::FetchUrl
                                                                 : RobotsNext::ReportFailed;
        return result;
    }

    case RobotsOutcome::Moved:
        // The note holds the target as received, as every redirect page does.
        result.file = mirror.WriteRedirectPage(fetchedRobotsUrl, folderPath, location, true);
        result.next = RobotsNext::RequeueRedirected;
        result.robotsUrl = *target;
        return result;

    case RobotsOutcome::Other:
        break;
    }
    result.next = RobotsNext::Finish;
    return result;
}

} // namespace ormbrook
