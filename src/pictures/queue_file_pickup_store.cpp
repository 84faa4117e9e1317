#include "pictures/queue_file_pickup_store.h"

#include <limits>

namespace ormbrook {

namespace {

std::string_view AsView(const std::vector<uint8_t>& bytes)
{
    return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

} // namespace

bool QueueFilePickupStore::PushBack(std::string_view record)
{
    if (record.size() > std::numeric_limits<uint32_t>::max())
        return false;
    return file_.PushBack(record.data(), uint32_t(record.size()));
}

std::optional<std::string> QueueFilePickupStore::PopBack()
{
    auto bytes = file_.PopBack();
    if (!bytes)
        return std::nullopt;
    return std::string(AsView(*bytes));
}

bool QueueFilePickupStore::ReadOldForm(const std::string& path,
    const std::function<void(std::string_view record)>& each)
{
    CQueueFile old(0, QueueHeaderForm::WithoutSignature);
    if (old.Open(path) != 0)
        return false;
    uint32_t position = 0;
    for (auto record = old.First(position); record; record = old.Next(position))
        each(AsView(*record));
    // A walk cut short by a damaged link is a failed conversion.
    return old.error() == QueueFileOk;
}

} // namespace ormbrook
