#include "crawl/picture_sink.h"

#include "crawl/project_item.h"
#include "crawl/settings.h"

namespace ormbrook {

StoredPicture StoredPictureFor(const ProjectItem& item, const AppSettings& settings, std::string localPath)
{
    StoredPicture p;
    p.localPath = std::move(localPath);
    p.bgColor = item.Effective(OptBGColor, settings);
    p.drawType = item.Effective(OptMUDrawType, settings);
    p.drawSpeed = item.Effective(OptMUDrawSpeed, settings);
    p.minWidth = item.Effective(OptMinPicWidth, settings);
    p.minHeight = item.Effective(OptMinPicHeight, settings);
    p.followImages = item.Effective(OptIMGSW, settings);
    // Items carry no interval of their own.
    p.interval = settings.PicChgInterval();
    return p;
}

} // namespace ormbrook
