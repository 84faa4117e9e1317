#include "platform/shared_block.h"

#include "platform/runtime_folder.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace ormbrook {

namespace {

// FNV-1a: a short, stable tag of the runtime folder.
uint64_t Tag(const std::string& text)
{
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

std::string Hex(uint64_t v)
{
    static const char digits[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 15; i >= 0; --i, v >>= 4)
        out[size_t(i)] = digits[v & 15];
    return out;
}

} // namespace

SharedBlock::~SharedBlock()
{
    Close();
}

SharedBlock::SharedBlock(SharedBlock&& other) noexcept
{
    *this = std::move(other);
}

SharedBlock& SharedBlock::operator=(SharedBlock&& other) noexcept
{
    if (this != &other) {
        Close();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        writable_ = std::exchange(other.writable_, false);
        objectName_ = std::move(other.objectName_);
        other.objectName_.clear();
    }
    return *this;
}

std::string SharedBlock::ObjectName(const std::string& name)
{
    const std::string folder = RuntimeFolder();
    if (folder.empty() || name.empty() || name.find('/') != std::string::npos)
        return {};
    return "/" + name + "." + std::to_string(::getuid()) + "." + Hex(Tag(folder));
}

bool SharedBlock::Create(const std::string& name, size_t size)
{
    Close();
    const std::string object = ObjectName(name);
    if (object.empty() || size == 0)
        return false;
    // A block left behind by a maker that died is not ours to reuse: it may
    // still be mapped by a reader, and its size is wrong.
    ::shm_unlink(object.c_str());
    const int fd = ::shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = ::fchmod(fd, 0600) == 0 && ::ftruncate(fd, off_t(size)) == 0;
    // The pages are taken in one go rather than one fault at a time: for a
    // photo that is most of what writing it costs. A failure here only
    // leaves the faults to do it.
    if (ok)
        ::fallocate(fd, 0, 0, off_t(size));
    void* data = MAP_FAILED;
    if (ok)
        data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, 0);
    ::close(fd);
    if (!ok || data == MAP_FAILED) {
        ::shm_unlink(object.c_str());
        return false;
    }
    data_ = data;
    size_ = size;
    writable_ = true;
    objectName_ = object;
    return true;
}

bool SharedBlock::OpenForReading(const std::string& name)
{
    Close();
    const std::string object = ObjectName(name);
    if (object.empty())
        return false;
    const int fd = ::shm_open(object.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW, 0);
    if (fd < 0)
        return false;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0 && info.st_size > 0;
    void* data = MAP_FAILED;
    if (ok)
        data = ::mmap(nullptr, size_t(info.st_size), PROT_READ, MAP_SHARED | MAP_POPULATE, fd, 0);
    ::close(fd);
    if (!ok || data == MAP_FAILED)
        return false;
    data_ = data;
    size_ = size_t(info.st_size);
    writable_ = false;
    return true;
}

void SharedBlock::Close()
{
    if (data_)
        ::munmap(data_, size_);
    if (!objectName_.empty())
        ::shm_unlink(objectName_.c_str());
    data_ = nullptr;
    size_ = 0;
    writable_ = false;
    objectName_.clear();
}

} // namespace ormbrook
