// The response-head parsers over arbitrary bytes: the input goes through the
// transfer's receive buffer (status line, end of head, split), and the header
// parsers run over both the split block and the raw input. The input is also
// taken as a chunked body, in pieces of varying size, as it comes off a
// socket.
#include "engine/body_framing.h"
#include "engine/http_header.h"
#include "engine/response_head.h"

#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace ormbrook;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    StatusLine status;
    ParseStatusLine(input, status);

    ResponseHead head;
    head.Append(input);
    CHttpHeader header;
    if (head.TakeStatusLine()) {
        ParseStatusLine(head.statusLine(), status);
        if (const auto end = FindHeadEnd(head.buffered())) {
            if (end->blockLength > end->headLength || end->headLength > head.buffered().size())
                std::abort();
        }
        if (head.HeaderEndFound()) {
            const size_t before = head.buffered().size();
            if (!head.SplitHead() || head.buffered().size() > before)
                std::abort();
            header.ParseHeaders(head.headerBlock());
            ContentLength(head.headerBlock());
        }
    }

    header.ParseHeaders(input);
    if (header.location().size() > CHttpHeader::kMaxLocationLength)
        std::abort();
    // A kept entity tag goes back in a request line: one visible token.
    if (header.etag().size() > CHttpHeader::kMaxTokenLength)
        std::abort();
    for (const char c : header.etag())
        if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7f)
            std::abort();
    if (header.lastModifiedValid()) {
        // A stored file is dated by it: the date must be one of 1970 or later.
        if (const auto time = HttpDateToTime(header.lastModified()); time && *time < 0)
            std::abort();
    }
    for (int id = RawNone; id <= RawVersion + 1; ++id) {
        if (const auto value = RawHeaderValue(input, static_cast<RawHeaderId>(id))) {
            if (value->data() < input.data() || value->data() + value->size() > input.data() + input.size())
                std::abort();
        }
    }
    ContentLength(input);
    FieldValue(input, "TRANSFER-ENCODING");
    FieldHasToken(input, "CONNECTION", "close");
    FieldHasToken(input, "TRANSFER-ENCODING", "chunked", true);

    std::string wire(input);
    BodyFraming framing;
    framing.Reset(BodyFraming::Kind::Chunked);
    size_t at = 0;
    while (at < wire.size() && framing.status() == BodyFraming::Status::More) {
        const size_t piece = std::min(wire.size() - at, size_t(1 + (static_cast<unsigned char>(wire[at]) & 63)));
        size_t used = 0;
        const size_t body = framing.Decode(wire.data() + at, piece, used);
        if (body > used || used > piece || (used == 0 && framing.status() == BodyFraming::Status::More))
            std::abort();
        at += used;
    }
    HttpDate date;
    if (ParseHttpDate(input, date))
        HttpDateToTime(date);
    return 0;
}
