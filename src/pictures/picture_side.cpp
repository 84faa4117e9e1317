#include "pictures/picture_side.h"

#include "pictures/queue_file_pickup_store.h"

#include <unistd.h>

namespace ormbrook {

PictureSide::PictureSide(PictureSideSetup setup)
    : setup_(std::move(setup)), queueLock_(kPickupQueueLockName), mirror_(setup_.mirrorDir),
      links_(setup_.slideWindowProgram)
{
    queue_ = std::make_unique<CPickupQueue>(std::make_unique<QueueFilePickupStore>(), mirror_);
    PictureCycleSetup cycle;
    cycle.buildSources = [this](const std::function<void(const PickupEntry&)>& add) {
        if (setup_.walkSettings)
            queue_->SetPageWalkSettings(setup_.walkSettings());
        if (setup_.mirrorNaming)
            mirror_.SetNaming(setup_.mirrorNaming());
        if (setup_.buildSources)
            setup_.buildSources(add);
    };
    cycle.mainWindow = uint32_t(::getpid());
    cycle.runPanel = setup_.runPanel;
    if (setup_.largestViewSide > 0)
        cycle.largestViewSide = setup_.largestViewSide;
    cycle_ = std::make_unique<PictureCycle>(*queue_, links_, setup_.desktop, std::move(cycle));
    sink_ = std::make_shared<PickupPictureSink>(*queue_, *cycle_);
}

PictureSide::~PictureSide()
{
    cycle_.reset();
}

PictureSide::OpenResult PictureSide::OpenQueue()
{
    // A crawl of another process may be appending a picture just now. A lock
    // that stays taken says nothing of the file's version: converting the
    // file would put a current list aside.
    if (!queueLock_.Acquire(2000))
        return OpenResult::Failed;
    if (setup_.walkSettings)
        queue_->SetPageWalkSettings(setup_.walkSettings());
    if (setup_.mirrorNaming)
        mirror_.SetNaming(setup_.mirrorNaming());
    version_ = queue_->OpenPickupQueue(queuePath());
    return version_ == kPickupQueueVersion ? OpenResult::Ok : OpenResult::OldVersion;
}

bool PictureSide::ConvertQueue(const std::function<void(int count)>& progress)
{
    return queue_->ConvertPickupQueue(queuePath(), version_, progress);
}

} // namespace ormbrook
