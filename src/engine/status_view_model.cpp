#include "engine/status_view_model.h"

#include "common/messages.h"

namespace ormbrook {

void StatusViewModel::SetSlotCount(int slots)
{
    slots = slots < 1 ? 1 : slots > kMaxSlots ? kMaxSlots : slots;
    rows_.assign(size_t(slots) + 1, StatusRow{"", "0", "0", "0", 0});
}

void StatusViewModel::Clear()
{
    for (auto& row : rows_)
        row = StatusRow{"", "0", "0", "0", 0};
    counters_ = StatusCounters{};
    stopReason_.clear();
    notes_.clear();
    failures_.clear();
}

StatusRow* StatusViewModel::SlotRow(int slot)
{
    // A record from a confused sender must not write outside the table.
    if (slot < 0 || slot >= slotRows())
        return nullptr;
    return &rows_[static_cast<size_t>(slot)];
}

void StatusViewModel::SetCurrentUrl(const std::string& url)
{
    rows_[size_t(itemRow())].url = PrintableText(url);
}

void StatusViewModel::Contacting(int slot, const std::string& url)
{
    if (StatusRow* row = SlotRow(slot)) {
        row->url = PrintableText(url);
        row->bytes = "Contacting";
        row->size = "0";
        row->percent = "0";
        row->bar = 0;
    }
}

void StatusViewModel::Connected(int slot)
{
    if (StatusRow* row = SlotRow(slot))
        row->bytes = "Connected";
}

void StatusViewModel::HeadRead(int slot, int32_t length)
{
    if (StatusRow* row = SlotRow(slot)) {
        row->size = length == -1 ? "Unknown" : std::to_string(length);
        row->percent = length == -1 ? "Unknown" : "0";
        row->bytes = "0";
        row->bar = 0;
    }
}

void StatusViewModel::Progress(int slot, int32_t length, int32_t count)
{
    if (StatusRow* row = SlotRow(slot)) {
        row->bytes = std::to_string(count);
        if (length > 0) {
            int64_t percent = static_cast<int64_t>(count) * 100 / length;
            row->percent = std::to_string(percent);
            row->bar = percent < 0 ? 0 : percent > 100 ? 100 : static_cast<int>(percent);
        }
    }
}

void StatusViewModel::SlotDone(int slot, bool success, const std::string& reason, const std::string& cause)
{
    StatusRow* row = SlotRow(slot);
    if (!row)
        return;
    // A failure with a reason of its own shows the reason: a certificate
    // that was refused must not pass for a network failure.
    row->bytes = success ? "Complete" : reason.empty() ? "Failed" : PrintableText(reason);
    if (!success && failures_.size() < kMostFailures)
        failures_.push_back({row->url, PrintableText(cause.empty() ? reason : cause)});
}

void StatusViewModel::CountHtmlModified(int n)
{
    counters_.htmlModified += n;
    if (counters_.htmlDetected != 0)
        counters_.localizePercent = counters_.htmlModified * 100 / counters_.htmlDetected;
}

bool StatusViewModel::CountMessage(uint32_t message, uintptr_t wParam)
{
    const int n = CountOf(wParam);
    switch (message) {
    case MsgStatusDetected:
        CountDetected(n);
        return true;
    case MsgStatusRetry:
        CountRetry(n);
        return true;
    case MsgStatusVisited:
        CountVisited(n);
        return true;
    case MsgStatusFailed:
        CountFailed(n);
        return true;
    case MsgStatusHtmlDetected:
        CountHtmlDetected(n);
        return true;
    case MsgStatusHtmlModified:
        CountHtmlModified(n);
        return true;
    default:
        return false;
    }
}

std::string StatusViewModel::CounterLine() const
{
    return "detected=" + std::to_string(counters_.detected) + " retries=" + std::to_string(counters_.retries)
        + " visited=" + std::to_string(counters_.visited) + " failed=" + std::to_string(counters_.failed)
        + " html=" + std::to_string(counters_.htmlDetected) + " modified=" + std::to_string(counters_.htmlModified);
}

} // namespace ormbrook
