#include "platform/ws_error.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace ormbrook;

// The engine acts on a few of these numbers (would block, unreachable,
// timed out); a wrong mapping silently changes what it retries.
TEST(WsaFromErrno, MapsTheErrorsTheEngineActsOn)
{
    struct Row {
        const char* intent;
        int err;
        int wsa;
    } rows[] = {
        {"success stays zero", 0, 0},
        {"a full buffer would block", EAGAIN, 10035},
        {"a connect under way would block", EINPROGRESS, 10035},
        {"unreachable network is tried on the next address", ENETUNREACH, 10051},
        {"a time-out is tried on the next address", ETIMEDOUT, 10060},
        {"a refusal is final", ECONNREFUSED, 10061},
        {"a reset", ECONNRESET, 10054},
        {"a broken pipe is a shut-down connection", EPIPE, 10058},
        {"unreachable host is not unreachable network", EHOSTUNREACH, 10065},
        {"invalid argument (cancel of a finished lookup)", EINVAL, 10022},
        {"already under way", EALREADY, 10037},
        {"no descriptors left", EMFILE, 10024},
        {"an unknown errno keeps its cause but stays out of range", ENOENT, WsaUnmapped + ENOENT},
    };
    for (const Row& r : rows)
        EXPECT_EQ(WsaFromErrno(r.err), r.wsa) << r.intent;
}
