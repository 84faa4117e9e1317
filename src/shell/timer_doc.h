#pragma once
// The timer list: every crawl timer of every project, kept in "QRY.tmf" in the
// program folder, one text record a line.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ormbrook {

enum TimerKind : int16_t {
    TimerMonthly = 1,
    TimerWeekly = 2,
    TimerDaily = 3,
    TimerInterval = 4,
};

// Longest texts a record may carry; a longer one makes the record unreadable,
// so the list refuses it before it is ever written.
constexpr size_t kTimerPathMax = 1023;  // File, Folder
constexpr size_t kTimerTextMax = 255;   // URL, Title
// Longest path (without ".tmf") the list is loaded from or saved to.
constexpr size_t kTimerFileBaseMax = 252;

struct TimerEntry {
    std::string file;   // full path of the project file
    std::string folder; // FolderPath of the item
    std::string url;    // empty for a folder item
    std::string title;
    int16_t kind = TimerMonthly;
    int16_t day = 0;
    int16_t weekday = 0; // 0 Monday ... 6 Sunday
    int16_t hour = 0;
    int16_t minute = 0;
    int16_t intervalLead = 0; // kept as read; never used
    int16_t intervalMinutes = 0;
    uint8_t selected = 0;

    bool SameItem(const TimerEntry& o) const { return file == o.file && folder == o.folder && url == o.url; }
    bool operator==(const TimerEntry&) const = default;
};

// The values of the timer page of the item properties.
struct TimerSettings {
    bool enabled = false;
    int kind = TimerMonthly;
    int day = 1;
    int weekday = 0;
    int hour = 0;
    int minute = 0;
    int intervalMinutes = 10;
    bool selected = false;
};

// Day 1..31, Hour 0..23, Minute 0..59, IntervalMinutes 10..1440.
void BoundTimerValues(TimerEntry& entry);

// Whether an entry can be written as one record that reads back the same:
// texts within their limits and free of the bytes that end a field.
bool TimerEntryFitsFile(const TimerEntry& entry);

class CTimerDoc {
public:
    // Tells whether a project file still exists; the default asks the file
    // system. Records of vanished projects are dropped while reading.
    using FileExists = std::function<bool(const std::string& path)>;

    CTimerDoc();
    explicit CTimerDoc(FileExists exists);

    // pathBase is the list's path without ".tmf". Loading replaces the list;
    // a missing file is created empty. A malformed record is left out (see
    // unreadLines) and the reading goes on.
    bool Load(const std::string& pathBase);
    bool Save(const std::string& pathBase) const;

    // The file's text form of the list, and the reading of one; exposed for
    // the fuzz harness and the round-trip tests.
    std::string Serialize() const;
    void Parse(std::string_view bytes);
    // The lines the last reading left out, malformed (from 1).
    const std::vector<int>& unreadLines() const { return unreadLines_; }

    // From the item properties' OK: replaces the item's entry (or removes it
    // when the timer is off) and, when a timer was added, saves the list where
    // it was loaded from. False when the entry can't be kept in the file.
    bool SetItemTimer(const std::string& projectPath, const std::string& folderPath, const std::string& url,
        const TimerSettings& page);

    // Removes the entries of a deleted item. For a URL item (url not empty)
    // only its own; for a folder item its own and every entry below it.
    void RemoveItemEntries(const std::string& projectPath, const std::string& folderPath, const std::string& url);

    // A crawl found the page title of a record: its entries take it (made to
    // fit the file). True when an entry changed.
    bool SetItemTitle(const std::string& projectPath, const std::string& folderPath, const std::string& url,
        std::string_view title);

    // The first entry of the item, for the properties page.
    const TimerEntry* FindItem(const std::string& projectPath, const std::string& folderPath,
        const std::string& url) const;

    std::vector<TimerEntry>& entries() { return entries_; }
    const std::vector<TimerEntry>& entries() const { return entries_; }

private:
    FileExists exists_;
    std::string pathBase_; // where the list was loaded from
    std::vector<TimerEntry> entries_;
    std::vector<int> unreadLines_;
};

// The name of a weekday 0..6 as the file and the list dialog show it.
std::string_view TimerWeekdayName(int weekday);

} // namespace ormbrook
