#include "crawl/crawl_queues.h"

namespace ormbrook {

const char kOldVersionQuestion[] =
    "古いバージョンのファイルが検出されました。現在のバージョンで使用できるようにコンバートしますか？";
const char kConvertFailed[] = "ファイルのコンバートに失敗しました。";

EntryQueue::OpenResult EntryQueue::Open(const std::string& path)
{
    const int32_t signature = file_.Open(path);
    if (file_.valid())
        return OpenResult::Ok;
    if (signature != -1 && signature != kQueueVersion)
        return OpenResult::OldVersion;
    return OpenResult::Failed;
}

bool EntryQueue::PushBack(const QueueEntry& entry)
{
    const auto bytes = EncodeQueueEntry(entry);
    return file_.PushBack(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

bool EntryQueue::PushFront(const QueueEntry& entry)
{
    const auto bytes = EncodeQueueEntry(entry);
    return file_.PushFront(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

std::optional<QueueEntry> EntryQueue::PopFront()
{
    while (auto record = file_.PopFront()) {
        if (auto entry = DecodeQueueEntry(record->data(), record->size()))
            return entry;
    }
    return std::nullopt;
}

std::optional<QueueEntry> EntryQueue::PopBack()
{
    while (auto record = file_.PopBack()) {
        if (auto entry = DecodeQueueEntry(record->data(), record->size()))
            return entry;
    }
    return std::nullopt;
}

std::optional<QueueEntry> EntryQueue::PeekBack()
{
    while (auto record = file_.Last()) {
        if (auto entry = DecodeQueueEntry(record->data(), record->size()))
            return entry;
        file_.PopBack();
    }
    return std::nullopt;
}

std::string QueuePath(const std::string& projectDirectory, const std::string& title, const char* suffix)
{
    return projectDirectory + title + suffix;
}

} // namespace ormbrook
