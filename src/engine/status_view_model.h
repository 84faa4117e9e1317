#pragma once
// What a crawl's status view shows: one row per download slot (five unless
// the crawl has another number of downloads at a time), the row of the item
// the manager works on without a slot, the project counters and the
// localisation counters. Both faces (the project window and the command
// line) keep one of these and draw it their own way.

#include "common/printable.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ormbrook {

struct StatusRow {
    std::string url;
    std::string size;
    std::string bytes;
    std::string percent;
    int bar = 0; // 0..100
};

// A download the crawl could not finish, and why ("404 Not Found").
struct FailedUrl {
    std::string url;
    std::string reason;
};

struct StatusCounters {
    int detected = 0;
    int retries = 0;
    int visited = 0;
    int failed = 0;
    int htmlDetected = 0;
    int htmlModified = 0;
    int localizePercent = 0;
};

class StatusViewModel {
public:
    static constexpr int kDefaultSlots = 5;
    static constexpr int kMaxSlots = 16;

    StatusViewModel() { Clear(); }

    // The crawl's slots (1 to kMaxSlots); the rows are cleared.
    void SetSlotCount(int slots);
    int slotRows() const { return int(rows_.size()) - 1; }
    int itemRow() const { return slotRows(); }
    int rows() const { return int(rows_.size()); }

    void Clear();                                          // WM_USER+14
    void SetCurrentUrl(const std::string& url);            // WM_USER+15
    void Contacting(int slot, const std::string& url);     // WM_USER+16
    void Connected(int slot);                              // WM_USER+17
    void HeadRead(int slot, int32_t length);               // WM_USER+18, -1 = unknown
    void Progress(int slot, int32_t length, int32_t count);// WM_USER+19
    // WM_USER+20; reason: why it failed when that is shown in the slot
    // ("certificate: ..."), or empty; cause: why it failed, in every case
    // (kept in the failure list).
    void SlotDone(int slot, bool success, const std::string& reason = {}, const std::string& cause = {});
    // The counter messages, WM_USER+21 to +26; each may stand for several
    // counts (see CountOf).
    void CountDetected(int n = 1) { counters_.detected += n; }
    void CountRetry(int n = 1) { counters_.retries += n; }
    void CountVisited(int n = 1) { counters_.visited += n; }
    void CountFailed(int n = 1) { counters_.failed += n; }
    void CountHtmlDetected(int n = 1) { counters_.htmlDetected += n; }
    void CountHtmlModified(int n = 1);
    // How many counts a counter message brings: its wParam, or one.
    static int CountOf(uintptr_t wParam) { return wParam > 0 && wParam < 1u << 30 ? int(wParam) : 1; }
    // A counter message counted (true), or any other message (false).
    bool CountMessage(uint32_t message, uintptr_t wParam);
    // The crawl was stopped because the file system could take no more
    // (WM_USER+12): what could not be written, and why.
    void StoppedByError(const std::string& reason) { stopReason_ = PrintableText(reason); }
    const std::string& stopReason() const { return stopReason_; }
    // Start URLs the crawl could not take, each with why (a crawl sends one
    // text for each, before its first download).
    void AddNote(const std::string& text) { notes_.push_back(PrintableText(text)); }
    const std::vector<std::string>& notes() const { return notes_; }
    // The downloads of this crawl that failed, oldest first (the first
    // kMostFailures of them).
    static constexpr size_t kMostFailures = 10000;
    const std::vector<FailedUrl>& failures() const { return failures_; }

    const StatusRow& row(int index) const { return rows_[static_cast<size_t>(index)]; }
    const StatusCounters& counters() const { return counters_; }

    // "detected=N retries=N visited=N failed=N html=N modified=N"
    std::string CounterLine() const;

private:
    StatusRow* SlotRow(int slot);

    std::vector<StatusRow> rows_ = std::vector<StatusRow>(kDefaultSlots + 1);
    StatusCounters counters_;
    std::string stopReason_;
    std::vector<std::string> notes_;
    std::vector<FailedUrl> failures_;
};

} // namespace ormbrook
