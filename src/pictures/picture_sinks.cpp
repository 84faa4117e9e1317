#include "pictures/picture_sinks.h"

#include "common/messages.h"
#include "engine/queue_file.h"
#include "pictures/picture_cycle.h"
#include "pictures/pickup_queue.h"
#include "platform/program_channel.h"

#include <chrono>
#include <thread>

namespace ormbrook {

void PickupPictureSink::PictureStored(const StoredPicture& picture)
{
    if (queue_.OfferNewPicture(picture, cycle_))
        cycle_.QueueGrew();
}

namespace {

bool AppendToQueueFile(const std::string& path, const std::vector<uint8_t>& record)
{
    CQueueFile file(kQueueFileSignature);
    // A file of an older version is the desktop program's to convert.
    if (file.Open(path) != kPickupQueueVersion)
        return false;
    const bool ok = file.PushBack(record.data(), uint32_t(record.size()));
    file.Close();
    return ok;
}

} // namespace

void HeadlessPictureSink::PictureStored(const StoredPicture& picture)
{
    const std::optional<PickupEntry> entry = CPickupQueue::NewPictureEntry(picture);
    if (!entry)
        return;
    const std::vector<uint8_t> record = EncodePickupRecord(*entry);
    ChannelFrame frame {MsgOfferPicture | kFrameCarriesText, 0, 0,
                        std::string(reinterpret_cast<const char*>(record.data()), record.size())};
    // The desktop program may be just coming up: it holds the queue's lock
    // before its window listens. A few tries cover that moment.
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (PostFrame(kMainProgramTitle, frame))
            return;
        NamedLock lock(kPickupQueueLockName);
        if (lock.Acquire(100)) {
            AppendToQueueFile(queuePath_, record);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
}

} // namespace ormbrook
