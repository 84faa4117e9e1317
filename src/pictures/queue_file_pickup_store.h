#pragma once
// The pickup queue's records in a locked queue file, "WP.lst".

#include "engine/queue_file.h"
#include "pictures/pickup_queue.h"

namespace ormbrook {

class QueueFilePickupStore : public PickupStore {
public:
    QueueFilePickupStore() : file_(kQueueFileSignature) {}

    int32_t Open(const std::string& path) override { return file_.Open(path); }
    bool PushBack(std::string_view record) override;
    std::optional<std::string> PopBack() override;
    bool IsEmpty() override { return file_.IsEmpty(); }
    void Reset() override { file_.Reset(); }
    bool ReadOldForm(const std::string& path, const std::function<void(std::string_view record)>& each) override;

private:
    CLockedQueueFile file_;
};

} // namespace ormbrook
