#pragma once
// The fixed buffers in which a transfer reads the head of a response: a
// receive buffer of 1001 bytes, and the status line and the header block
// copied out of it, each at most 1001 bytes plus a NUL. Their sizes are the
// limits of a response head: a head that doesn't fit never completes.

#include <cstddef>
#include <string_view>

namespace ormbrook {

class ResponseHead {
public:
    static constexpr size_t kBufferSize = 1001;

    // Empties all three buffers.
    void Clear();

    // Receiving: write up to spaceLeft() bytes at space(), then Commit them.
    char* space() { return buffer_ + count_; }
    size_t spaceLeft() const { return kBufferSize - count_; }
    void Commit(size_t count);
    // Copies as much of bytes as fits; returns the count taken.
    size_t Append(std::string_view bytes);
    std::string_view buffered() const { return {buffer_, count_}; }
    bool full() const { return count_ == kBufferSize; }

    // When the buffer holds a "\n": the text before it becomes the status
    // line, and it leaves the buffer with its "\n". False while there is none.
    bool TakeStatusLine();
    std::string_view statusLine() const { return {statusLine_, statusLength_}; }

    // After the status line: is the blank line that ends the head buffered?
    bool HeaderEndFound() const;
    // Copies the header block out and removes the head from the buffer, so
    // that what remains is the start of the body. False when the end of the
    // head isn't buffered yet.
    bool SplitHead();
    std::string_view headerBlock() const { return {headerBlock_, blockLength_}; }

    // Moves up to max buffered bytes to out and drops them from the buffer.
    size_t Take(char* out, size_t max);

private:
    void Drop(size_t count);

    char buffer_[kBufferSize];
    size_t count_ = 0;
    char statusLine_[kBufferSize + 1] = {};
    size_t statusLength_ = 0;
    char headerBlock_[kBufferSize + 1] = {};
    size_t blockLength_ = 0;
};

} // namespace ormbrook
