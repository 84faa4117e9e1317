#pragma once
// The pictures shown last, for "previous": at most 20, oldest first. Lives in
// memory only. The cycle's worker adds to it while the picture panel asks
// how many there are, so every call takes a small lock of its own.

#include "pictures/pickup_entry.h"

#include <deque>
#include <mutex>
#include <optional>

namespace ormbrook {

constexpr size_t kPictureHistoryMax = 20;

class PictureHistory {
public:
    // After a picture was handed off: the oldest goes when the history is full.
    void AddToHistory(const PickupEntry& entry)
    {
        std::lock_guard lock(mutex_);
        if (entries_.size() >= kPictureHistoryMax)
            entries_.pop_front();
        entries_.push_back(entry);
    }

    std::optional<PickupEntry> TakeNewest()
    {
        std::lock_guard lock(mutex_);
        if (entries_.empty())
            return std::nullopt;
        PickupEntry e = std::move(entries_.back());
        entries_.pop_back();
        return e;
    }

    void Clear()
    {
        std::lock_guard lock(mutex_);
        entries_.clear();
    }
    size_t count() const
    {
        std::lock_guard lock(mutex_);
        return entries_.size();
    }
    std::deque<PickupEntry> entries() const
    {
        std::lock_guard lock(mutex_);
        return entries_;
    }

private:
    mutable std::mutex mutex_;
    std::deque<PickupEntry> entries_;
};

} // namespace ormbrook
