#include "shell/timer_doc.h"

#include "shell/list_file_io.h"
#include "shell/record_line_reader.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace ormbrook {

namespace {

constexpr std::string_view kWeekdays[7] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr long kNumberLimit = 32767;

bool DefaultFileExists(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

int16_t Clamp16(int value, int lo, int hi) { return int16_t(std::clamp(value, lo, hi)); }

std::string FormatWhen(const TimerEntry& e)
{
    char buf[64];
    switch (e.kind) {
    case TimerMonthly:
        std::snprintf(buf, sizeof buf, "%.2d:%.2d:%.2d", e.day, e.hour, e.minute);
        break;
    case TimerWeekly:
        std::snprintf(buf, sizeof buf, "%s:%.2d:%.2d", TimerWeekdayName(e.weekday).data(), e.hour, e.minute);
        break;
    case TimerDaily:
        std::snprintf(buf, sizeof buf, "%.2d:%.2d", e.hour, e.minute);
        break;
    default:
        std::snprintf(buf, sizeof buf, "%d:%d", e.intervalLead, e.intervalMinutes);
        break;
    }
    return buf;
}

std::string_view KindName(int kind)
{
    switch (kind) {
    case TimerMonthly: return "Monthly";
    case TimerWeekly: return "Weekly";
    case TimerDaily: return "Daily";
    case TimerInterval: return "Interval";
    default: return {};
    }
}

// One record; false when it is malformed (the reading then stops).
bool ReadRecord(RecordLineReader& in, TimerEntry& e)
{
    if (!in.ReadTextField(e.file, kTimerPathMax) || !in.ReadTextField(e.folder, kTimerPathMax)
        || !in.ReadTextField(e.url, kTimerTextMax) || !in.ReadTextField(e.title, kTimerTextMax))
        return false;

    const std::string kind = in.ReadWord("|");
    if (kind == "Monthly")
        e.kind = TimerMonthly;
    else if (kind == "Weekly")
        e.kind = TimerWeekly;
    else if (kind == "Daily")
        e.kind = TimerDaily;
    else if (kind == "Interval")
        e.kind = TimerInterval;
    else
        return false; // never written by the program; refused rather than kept as a timer that can't fire
    if (!in.Expect('|'))
        return false;

    auto number = [&in] { return int16_t(in.ReadNumber(kNumberLimit)); };
    switch (e.kind) {
    case TimerMonthly:
        e.day = number();
        if (!in.Expect(':'))
            return false;
        e.hour = number();
        if (!in.Expect(':'))
            return false;
        e.minute = number();
        break;
    case TimerWeekly: {
        std::string name;
        if (!in.ReadLetters(name, 4))
            return false;
        const auto it = std::find(std::begin(kWeekdays), std::end(kWeekdays), name);
        if (it == std::end(kWeekdays))
            return false;
        e.weekday = int16_t(it - std::begin(kWeekdays));
        if (!in.Expect(':'))
            return false;
        e.hour = number();
        if (!in.Expect(':'))
            return false;
        e.minute = number();
        break;
    }
    case TimerDaily:
        e.hour = number();
        if (!in.Expect(':'))
            return false;
        e.minute = number();
        break;
    case TimerInterval:
        e.intervalLead = number();
        if (!in.Expect(':'))
            return false;
        e.intervalMinutes = number();
        break;
    }
    if (!in.Expect('|'))
        return false;
    e.selected = in.ReadWord("\r\n|") == "Selected" ? 1 : 0;
    return in.EndOfRecord();
}

} // namespace

std::string_view TimerWeekdayName(int weekday)
{
    return kWeekdays[std::clamp(weekday, 0, 6)];
}

void BoundTimerValues(TimerEntry& e)
{
    e.day = Clamp16(e.day, 1, 31);
    e.hour = Clamp16(e.hour, 0, 23);
    e.minute = Clamp16(e.minute, 0, 59);
    e.intervalMinutes = Clamp16(e.intervalMinutes, 10, 1440);
}

bool TimerEntryFitsFile(const TimerEntry& e)
{
    return !KindName(e.kind).empty() && TextFits(e.file, kTimerPathMax) && TextFits(e.folder, kTimerPathMax)
        && TextFits(e.url, kTimerTextMax) && TextFits(e.title, kTimerTextMax);
}

CTimerDoc::CTimerDoc() : exists_(DefaultFileExists) {}
CTimerDoc::CTimerDoc(FileExists exists) : exists_(std::move(exists)) {}

void CTimerDoc::Parse(std::string_view bytes)
{
    entries_.clear();
    unreadLines_.clear();
    RecordLineReader in(bytes);
    while (!in.AtEnd()) {
        TimerEntry e;
        const int line = in.lineNumber();
        if (!ReadRecord(in, e)) {
            // One damaged line must not take the entries after it with it
            // (the next save would write the list without them).
            unreadLines_.push_back(line);
            in.SkipLine();
            continue;
        }
        if (exists_(e.file))
            entries_.push_back(std::move(e));
    }
}

std::string CTimerDoc::Serialize() const
{
    std::string out;
    for (const TimerEntry& e : entries_) {
        // A record that would not read back would also end the reading of
        // every timer after it; it is left out instead.
        if (!TimerEntryFitsFile(e))
            continue;
        out += e.file;
        out += '|';
        out += e.folder;
        out += '|';
        out += e.url;
        out += '|';
        out += e.title;
        out += '|';
        out += KindName(e.kind);
        out += '|';
        out += FormatWhen(e);
        out += '|';
        out += e.selected ? "Selected" : "Default";
        out += "\r\n";
    }
    return out;
}

bool CTimerDoc::Load(const std::string& pathBase)
{
    if (pathBase.size() > kTimerFileBaseMax)
        return false;
    std::string bytes;
    if (!ReadOrCreateListFile(pathBase + ".tmf", bytes))
        return false;
    Parse(bytes);
    pathBase_ = pathBase;
    return true;
}

bool CTimerDoc::Save(const std::string& pathBase) const
{
    if (pathBase.size() > kTimerFileBaseMax)
        return false;
    return SaveListFile(pathBase + ".tmf", Serialize());
}

bool CTimerDoc::SetItemTitle(const std::string& projectPath, const std::string& folderPath, const std::string& url,
    std::string_view title)
{
    const std::string text = FieldText(title, kTimerTextMax);
    bool changed = false;
    for (TimerEntry& e : entries_)
        if (e.file == projectPath && e.folder == folderPath && e.url == url && e.title != text) {
            e.title = text;
            changed = true;
        }
    return changed;
}

bool CTimerDoc::SetItemTimer(const std::string& projectPath, const std::string& folderPath, const std::string& url,
    const TimerSettings& page)
{
    TimerEntry e;
    e.file = projectPath;
    e.folder = folderPath;
    e.url = url;
    e.kind = Clamp16(page.kind, TimerMonthly, TimerInterval);
    e.day = Clamp16(page.day, -32768, 32767);
    e.weekday = Clamp16(page.weekday, 0, 6);
    e.hour = Clamp16(page.hour, -32768, 32767);
    e.minute = Clamp16(page.minute, -32768, 32767);
    e.intervalMinutes = Clamp16(page.intervalMinutes, -32768, 32767);
    e.intervalLead = 0;
    e.selected = page.selected ? 1 : 0;
    BoundTimerValues(e);
    if (page.enabled && !TimerEntryFitsFile(e))
        return false;

    const auto it = std::find_if(entries_.begin(), entries_.end(), [&](const TimerEntry& t) { return t.SameItem(e); });
    if (it != entries_.end())
        entries_.erase(it);
    if (page.enabled) {
        entries_.push_back(std::move(e));
        if (!pathBase_.empty())
            Save(pathBase_);
    }
    return true;
}

void CTimerDoc::RemoveItemEntries(const std::string& projectPath, const std::string& folderPath,
    const std::string& url)
{
    std::erase_if(entries_, [&](const TimerEntry& t) {
        if (t.file != projectPath)
            return false;
        if (!url.empty())
            return t.folder == folderPath && t.url == url;
        return t.folder == folderPath
            || (t.folder.size() > folderPath.size() && t.folder.compare(0, folderPath.size(), folderPath) == 0
                && t.folder[folderPath.size()] == '/');
    });
}

const TimerEntry* CTimerDoc::FindItem(const std::string& projectPath, const std::string& folderPath,
    const std::string& url) const
{
    for (const TimerEntry& t : entries_)
        if (t.file == projectPath && t.folder == folderPath && t.url == url)
            return &t;
    return nullptr;
}

} // namespace ormbrook
