#include "pictures/picture_panel.h"

#include "common/dib_layout.h"
#include "pictures/jpeg_decode.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace ormbrook {

namespace {

uint32_t U32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void Put32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

std::string FileNameOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool CopyOver(const std::string& from, const std::string& to)
{
    std::error_code ec;
    return fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec) && !ec;
}

} // namespace

std::vector<uint8_t> WallpaperBmpBytes(const uint8_t* dib, size_t size)
{
    if (!dib || size < kDibInfoHeaderBytes || U32(dib) != kDibInfoHeaderBytes)
        return {};
    const int32_t width = int32_t(U32(dib + 4));
    const int32_t height = int32_t(U32(dib + 8));
    const int bitCount = dib[14] | dib[15] << 8;
    const uint32_t compression = U32(dib + 16);
    const uint32_t stored = U32(dib + 20);
    const uint64_t table = uint64_t(DibColourCount(bitCount, U32(dib + 32))) * 4;
    const uint64_t rows = uint64_t(height < 0 ? -int64_t(height) : height);
    const uint64_t image = (compression == 1 || compression == 2)
        ? stored
        : uint64_t((int64_t(bitCount) * width + 31) / 32) * 4 * rows;
    const uint64_t fileSize = 14 + kDibInfoHeaderBytes + table + image;
    if (fileSize > 0xFFFFFFFFu)
        return {};
    std::vector<uint8_t> out(size_t(fileSize), 0);
    out[0] = 'B';
    out[1] = 'M';
    Put32(out.data() + 2, uint32_t(fileSize));
    Put32(out.data() + 10, uint32_t(14 + kDibInfoHeaderBytes + table));
    // The DIB as it is, as far as it goes; a short one leaves zeros.
    const size_t body = std::min<size_t>(size, size_t(fileSize - 14));
    std::memcpy(out.data() + 14, dib, body);
    Put32(out.data() + 14 + 20, uint32_t(image));
    return out;
}

PicturePanelLogic::PicturePanelLogic(PanelServices services) : services_(std::move(services))
{
    Refresh();
}

bool PicturePanelLogic::InPickupFolder(const std::string& picture) const
{
    const std::string folder = services_.pickupDir ? services_.pickupDir() : std::string();
    return !folder.empty() && picture.compare(0, folder.size(), folder) == 0;
}

void PicturePanelLogic::Refresh()
{
    prevEnabled_ = services_.historyCount && services_.historyCount() > 1;
    RefreshPickup();
}

void PicturePanelLogic::RefreshPickup()
{
    pickupDeletes_ = InPickupFolder(services_.currentPicture ? services_.currentPicture() : std::string());
}

void PicturePanelLogic::Next()
{
    if (services_.historyCount && services_.historyCount() == 1)
        prevEnabled_ = true;
    if (services_.next)
        services_.next();
}

void PicturePanelLogic::Previous()
{
    if (services_.historyCount && services_.historyCount() == 2)
        prevEnabled_ = false;
    if (services_.previous)
        services_.previous();
}

void PicturePanelLogic::KeepOrDeletePicture()
{
    const std::string current = services_.currentPicture ? services_.currentPicture() : std::string();
    if (current.empty())
        return;
    if (InPickupFolder(current)) {
        std::remove(current.c_str());
        if (services_.historyCount && services_.historyCount() == 1) {
            if (services_.clearHistory)
                services_.clearHistory();
            prevEnabled_ = false;
        } else {
            Previous();
        }
        return;
    }
    const std::string folder = services_.pickupDir ? services_.pickupDir() : std::string();
    if (folder.empty())
        return;
    std::error_code ec;
    fs::create_directories(folder, ec);
    const std::string base = folder.ends_with('/') ? folder : folder + "/";
    CopyOver(current, base + FileNameOf(current));
}

void PicturePanelLogic::CopyPicture()
{
    const std::string current = services_.currentPicture ? services_.currentPicture() : std::string();
    if (current.empty() || !services_.chooseFolder)
        return;
    const std::string start = services_.loadCopyFolder ? services_.loadCopyFolder() : std::string();
    const std::optional<std::string> folder = services_.chooseFolder(start);
    if (!folder || folder->empty())
        return;
    const std::string base = folder->ends_with('/') ? *folder : *folder + "/";
    CopyOver(current, base + FileNameOf(current));
    if (services_.saveCopyFolder)
        services_.saveCopyFolder(*folder);
}

bool PicturePanelLogic::SetWallpaper()
{
    const std::string current = services_.currentPicture ? services_.currentPicture() : std::string();
    if (current.empty())
        return false;
    const DibBlock dib = DecodeJpegToDib(current);
    if (!dib)
        return false;
    const std::vector<uint8_t> bytes = WallpaperBmpBytes(dib.data(), dib.size());
    if (bytes.empty())
        return false;
    // Written whole or not at all: a desktop reading it meanwhile never sees
    // half a picture.
    const std::string file = wallpaperFile();
    const std::string temporary = file + ".new";
    FILE* out = std::fopen(temporary.c_str(), "wb");
    if (!out)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    const bool closed = std::fclose(out) == 0;
    if (!written || !closed || std::rename(temporary.c_str(), file.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    if (services_.setWallpaper)
        services_.setWallpaper(file);
    return true;
}

} // namespace ormbrook
