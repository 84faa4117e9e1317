#pragma once
// A named block of shared memory between the programs of one user, in place
// of a named section backed by the paging file: a POSIX shared-memory object
// whose name carries the user id (and the runtime folder, so that two
// sessions of one user, or two test runs, keep apart), made with mode 0600
// and exactly the size asked for.
//
// The maker writes and keeps the block until every reader is done; a reader
// maps it for reading only and gets the mapped size, which is all it may
// trust: another program wrote what is in it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ormbrook {

// FNV-1a, 64 bits: the tag of the runtime folder in a block's name.
uint64_t Fnv1a64(std::string_view text);

class SharedBlock {
public:
    SharedBlock() = default;
    ~SharedBlock();
    SharedBlock(SharedBlock&& other) noexcept;
    SharedBlock& operator=(SharedBlock&& other) noexcept;
    SharedBlock(const SharedBlock&) = delete;
    SharedBlock& operator=(const SharedBlock&) = delete;

    // Makes the block anew (one left by a program that ended is replaced)
    // and maps it for writing. False when size is 0 or any step fails.
    bool Create(const std::string& name, size_t size);
    // Maps the block for reading. False when there is none, or it is not the
    // user's own and private, or it is empty.
    bool OpenForReading(const std::string& name);
    // Unmaps; the maker also removes the name, so the next Create starts
    // afresh and a late reader finds nothing.
    void Close();

    bool isOpen() const { return data_ != nullptr; }
    uint8_t* data() { return writable_ ? static_cast<uint8_t*>(data_) : nullptr; }
    const uint8_t* constData() const { return static_cast<const uint8_t*>(data_); }
    size_t size() const { return size_; }

    // The fixed part of the object's name under /dev/shm for a block name
    // ("/<name>.<uid>.<tag of the runtime folder>"); empty without a runtime
    // folder. Each block adds "." and a random part of 16 hex digits, which
    // the maker leaves in "<name>.block" in the runtime folder.
    static std::string ObjectPrefix(const std::string& name);
    // The maker's whole object name; empty for a reader.
    const std::string& objectName() const { return objectName_; }

private:
    void* data_ = nullptr;
    size_t size_ = 0;
    bool writable_ = false;
    std::string objectName_; // set while this object is the maker
    std::string nameFile_;
};

} // namespace ormbrook
