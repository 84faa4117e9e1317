#pragma once
// The content codings a response body may come in (Content-Encoding: gzip,
// deflate, br), undone as the body streams in, so that what is stored is
// the document itself, byte for byte what an uncompressed answer gives.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace ormbrook {

class ContentDecoder {
public:
    enum class Coding : uint8_t { Identity, Gzip, Deflate, Brotli };
    enum class Status : uint8_t {
        More,  // the coded stream goes on
        Done,  // the coded stream has ended
        Error, // not a stream of its coding
    };

    // What "Accept-Encoding" offers.
    static constexpr const char* kAccepted = "gzip, deflate, br";

    ContentDecoder();
    ~ContentDecoder();
    ContentDecoder(const ContentDecoder&) = delete;
    ContentDecoder& operator=(const ContentDecoder&) = delete;

    // Prepares for a body of the given Content-Encoding value (empty or
    // "identity": nothing to undo). False for a coding that is not one of
    // ours: its body can't be stored as the document.
    bool Start(std::string_view contentEncoding);
    Coding coding() const { return coding_; }
    bool identity() const { return coding_ == Coding::Identity; }

    // Decodes from in (advancing it and shrinking inLeft) into out, up to
    // outRoom bytes; returns the count written. Called again with the same
    // input while it leaves input and fills the room.
    size_t Decode(const char*& in, size_t& inLeft, char* out, size_t outRoom);
    Status status() const { return status_; }
    // Bytes the coding still holds back that a call with no input brings
    // out (brotli keeps some until asked).
    bool hasPending() const;

private:
    struct Zlib;
    struct Brotli;
    void Reset();
    size_t Inflate(const char*& in, size_t& inLeft, char* out, size_t outRoom);
    size_t Unbrotli(const char*& in, size_t& inLeft, char* out, size_t outRoom);

    Coding coding_ = Coding::Identity;
    Status status_ = Status::More;
    std::unique_ptr<Zlib> zlib_;
    std::unique_ptr<Brotli> brotli_;
    bool deflateRaw_ = false;   // a "deflate" body without the zlib wrapper, as some servers send it
    bool deflateProbed_ = false;
};

} // namespace ormbrook
