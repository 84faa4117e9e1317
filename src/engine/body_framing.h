#pragma once
// Where the body of an HTTP/1.1 response ends: after Content-Length bytes,
// at the end of the chunked transfer coding (whose chunk lines and trailer
// fields are read and dropped), or at the server's close. A persistent
// connection can carry the next request only once the body has ended by
// one of the first two.

#include <cstddef>
#include <cstdint>

namespace ormbrook {

class BodyFraming {
public:
    enum class Kind : uint8_t {
        None,    // no body at all (HEAD, 1xx, 204, 304)
        Length,  // Content-Length bytes
        Chunked, // the chunked coding
        Close,   // everything up to the close
    };
    enum class Status : uint8_t {
        More,  // the body goes on
        Done,  // the body has ended; the bytes after it are not the body's
        Error, // the chunked coding is broken: the connection can't be trusted
    };

    // The longest chunk line or trailer line read; a longer one is an error.
    static constexpr size_t kMaxLine = 16 * 1024;

    void Reset(Kind kind, int64_t length = 0);
    Kind kind() const { return kind_; }

    // Takes wire bytes: the body bytes among them are moved, in order, to
    // the start of data (in place: the body is never longer than what
    // carried it), and their count is returned. `used` says how many input
    // bytes belonged to this message; the rest (after Done) does not.
    size_t Decode(char* data, size_t size, size_t& used);
    Status status() const { return status_; }
    // Body bytes still to come, when that is known (Length); else -1.
    int64_t remaining() const { return kind_ == Kind::Length ? left_ : -1; }

private:
    enum class Chunk : uint8_t { Size, Extension, SizeLf, Data, DataCr, DataLf, Trailer, TrailerLf };

    Kind kind_ = Kind::None;
    Status status_ = Status::Done;
    Chunk chunk_ = Chunk::Size;
    int64_t left_ = 0;   // Length: body bytes to come; Chunked: bytes of the current chunk
    bool sizeDigit_ = false;
    size_t lineLength_ = 0;
};

} // namespace ormbrook
