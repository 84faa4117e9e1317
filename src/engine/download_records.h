#pragma once
// Records that travel with the download object's messages: progress to the
// status view (MsgStatusContacting .. MsgStatusProgress) and the outcome to
// the manager (MsgManagerRobotsDone, MsgManagerPageDone).

#include "platform/posted_message.h"

#include <cstdint>
#include <string>

namespace ormbrook {

// MsgStatusContacting: the slot starts on this URL.
struct SlotUrlRecord : MessageRecord {
    SlotUrlRecord(int16_t s, std::string u) : slot(s), url(std::move(u)) {}
    int16_t slot;
    std::string url;
};

// MsgStatusConnected.
struct SlotRecord : MessageRecord {
    explicit SlotRecord(int16_t s) : slot(s) {}
    int16_t slot;
};

// MsgStatusHeadRead: -1 when the response gave no length.
struct SlotLengthRecord : MessageRecord {
    SlotLengthRecord(int16_t s, int32_t l) : slot(s), contentLength(l) {}
    int16_t slot;
    int32_t contentLength;
};

// MsgStatusProgress.
struct SlotProgressRecord : MessageRecord {
    SlotProgressRecord(int16_t s, int32_t l, int32_t b) : slot(s), contentLength(l), bytes(b) {}
    int16_t slot;
    int32_t contentLength;
    int32_t bytes;
};

// MsgManagerRobotsDone, MsgManagerPageDone: 1 aborted, 2 complete, 3 failed.
struct SlotResultRecord : MessageRecord {
    SlotResultRecord(int16_t s, int16_t r) : slot(s), result(r) {}
    int16_t slot;
    int16_t result;
};

} // namespace ormbrook
