#pragma once
// The buffers in which a transfer reads the head of a response: a receive
// buffer, and the status line and the header block copied out of it. Their
// sizes are the limits of a response head: the status line and each header
// line up to 16 KB, the header lines with the blank line that ends them up
// to 64 KB. Today's servers send heads of several kilobytes (security
// policies, cookies); a head beyond these limits is refused at once, with
// its reason (TooLong), rather than left to a time-out.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace ormbrook {

class ResponseHead {
public:
    static constexpr size_t kBufferSize = 64 * 1024;
    static constexpr size_t kMaxLine = 16 * 1024;

    // Empties all three buffers.
    void Clear();

    // Receiving: write up to spaceLeft() bytes at space(), then Commit them.
    char* space();
    size_t spaceLeft() const { return kBufferSize - count_; }
    void Commit(size_t count);
    // Copies as much of bytes as fits; returns the count taken.
    size_t Append(std::string_view bytes);
    std::string_view buffered() const { return {buffer_.get(), count_}; }
    bool full() const { return count_ == kBufferSize; }

    // When the buffer holds a "\n": the text before it becomes the status
    // line, and it leaves the buffer with its "\n". False while there is none.
    bool TakeStatusLine();
    std::string_view statusLine() const { return statusLine_; }

    // After the status line: is the blank line that ends the head buffered?
    bool HeaderEndFound() const;
    // Copies the header block out and removes the head from the buffer, so
    // that what remains is the start of the body. False when the end of the
    // head isn't buffered yet.
    bool SplitHead();
    std::string_view headerBlock() const { return headerBlock_; }

    // Why what is buffered can never become a head within the limits (the
    // status line, when it has not been taken yet; else the header lines),
    // or null while it still can.
    const char* TooLong(bool statusLineTaken) const;

    // Moves up to max buffered bytes to out and drops them from the buffer.
    size_t Take(char* out, size_t max);

private:
    void Drop(size_t count);

    std::unique_ptr<char[]> buffer_; // made on first use: most transfers of a slot reuse nothing else
    size_t count_ = 0;
    std::string statusLine_;
    std::string headerBlock_;
};

} // namespace ormbrook
