#include "pictures/picture_sinks.h"

#include "common/messages.h"
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

void HeadlessPictureSink::PictureStored(const StoredPicture& picture)
{
    const std::optional<PickupEntry> entry = CPickupQueue::NewPictureEntry(picture);
    if (!entry)
        return;
    const std::vector<uint8_t> record = EncodePickupRecord(*entry);
    ChannelFrame frame {MsgOfferPicture | kFrameCarriesText, 0, 0,
                        std::string(reinterpret_cast<const char*>(record.data()), record.size())};
    // The desktop program may be just coming up: it holds the queue's lock
    // before its window listens. A few tries cover that moment; a lock that
    // is free means no desktop program, and so no receiver.
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (PostFrame(kMainProgramTitle, frame) || !NamedLock::IsTaken(kPickupQueueLockName))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
}

} // namespace ormbrook
