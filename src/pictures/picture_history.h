#pragma once
// The pictures shown last, for "previous": at most 20, oldest first. Lives in
// memory only; the picture cycle runs one worker at a time, so it needs no
// lock of its own.

#include "pictures/pickup_entry.h"

#include <deque>
#include <optional>

namespace ormbrook {

constexpr size_t kPictureHistoryMax = 20;

class PictureHistory {
public:
    // After a picture was handed off: the oldest goes when the history is full.
    void AddToHistory(const PickupEntry& entry)
    {
        if (entries_.size() >= kPictureHistoryMax)
            entries_.pop_front();
        entries_.push_back(entry);
    }

    std::optional<PickupEntry> TakeNewest()
    {
        if (entries_.empty())
            return std::nullopt;
        PickupEntry e = std::move(entries_.back());
        entries_.pop_back();
        return e;
    }

    void Clear() { entries_.clear(); }
    size_t count() const { return entries_.size(); }
    const std::deque<PickupEntry>& entries() const { return entries_; }

private:
    std::deque<PickupEntry> entries_;
};

} // namespace ormbrook
