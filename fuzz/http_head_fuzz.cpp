// The response-head parsers over arbitrary bytes: the input goes through the
// transfer's receive buffer (status line, end of head, split), and the header
// parsers run over both the split block and the raw input.
#include "engine/http_header.h"
#include "engine/response_head.h"

#include <cstdint>
#include <cstdlib>
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
    for (int id = RawNone; id <= RawVersion + 1; ++id) {
        if (const auto value = RawHeaderValue(input, static_cast<RawHeaderId>(id))) {
            if (value->data() < input.data() || value->data() + value->size() > input.data() + input.size())
                std::abort();
        }
    }
    ContentLength(input);
    HttpDate date;
    ParseHttpDate(input, date);
    return 0;
}
