#include "platform/shared_block.h"

#include "platform/runtime_folder.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace ormbrook {

namespace {

std::string Hex(uint64_t v)
{
    static const char digits[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 15; i >= 0; --i, v >>= 4)
        out[size_t(i)] = digits[v & 15];
    return out;
}

// A random part of a block's name, made anew for every block, so that no
// one can take the name before the maker does.
std::string RandomPart()
{
    uint64_t v = 0;
    if (::getrandom(&v, sizeof v, 0) != ssize_t(sizeof v))
        return {};
    return Hex(v);
}

// Where the maker leaves the whole name of its block for the readers: in
// the runtime folder, which is the user's own.
std::string NameFile(const std::string& name)
{
    const std::string folder = RuntimeFolder();
    return folder.empty() ? std::string() : folder + name + ".block";
}

} // namespace

uint64_t Fnv1a64(std::string_view text)
{
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

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
        nameFile_ = std::move(other.nameFile_);
        other.nameFile_.clear();
    }
    return *this;
}

std::string SharedBlock::ObjectPrefix(const std::string& name)
{
    const std::string folder = RuntimeFolder();
    if (folder.empty() || name.empty() || name.find('/') != std::string::npos)
        return {};
    return "/" + name + "." + std::to_string(::getuid()) + "." + Hex(Fnv1a64(folder));
}

bool SharedBlock::Create(const std::string& name, size_t size)
{
    Close();
    const std::string prefix = ObjectPrefix(name);
    const std::string random = RandomPart();
    const std::string nameFile = NameFile(name);
    if (prefix.empty() || random.empty() || size == 0)
        return false;
    const std::string object = prefix + "." + random;
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
    // The readers learn the name from a file put in place whole.
    const std::string written = nameFile + ".new";
    ::unlink(written.c_str());
    const int out = ::open(written.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const bool named = out >= 0 && ::write(out, object.data(), object.size()) == ssize_t(object.size());
    if (out >= 0)
        ::close(out);
    if (!named || ::rename(written.c_str(), nameFile.c_str()) != 0) {
        ::unlink(written.c_str());
        ::munmap(data, size);
        ::shm_unlink(object.c_str());
        return false;
    }
    data_ = data;
    size_ = size;
    writable_ = true;
    objectName_ = object;
    nameFile_ = nameFile;
    return true;
}

bool SharedBlock::OpenForReading(const std::string& name)
{
    Close();
    const std::string prefix = ObjectPrefix(name);
    const std::string nameFile = NameFile(name);
    if (prefix.empty())
        return false;
    // The name must be one the maker could have made: this user's block of
    // this runtime folder, with a random part of 16 hex digits.
    char text[512];
    const int in = ::open(nameFile.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    const ssize_t got = in >= 0 ? ::read(in, text, sizeof text) : -1;
    if (in >= 0)
        ::close(in);
    const std::string object = got > 0 ? std::string(text, size_t(got)) : std::string();
    if (object.size() != prefix.size() + 17 || object.compare(0, prefix.size() + 1, prefix + ".") != 0
        || object.find_first_not_of("0123456789abcdef", prefix.size() + 1) != std::string::npos)
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
    if (!objectName_.empty()) {
        ::shm_unlink(objectName_.c_str());
        ::unlink(nameFile_.c_str());
    }
    data_ = nullptr;
    size_ = 0;
    writable_ = false;
    objectName_.clear();
    nameFile_.clear();
}

} // namespace ormbrook
