#include "platform/fatal_error.h"

#include <cstdio>
#include <cstdlib>

namespace ormbrook {

namespace {
FatalHandler& Handler()
{
    static FatalHandler handler;
    return handler;
}
} // namespace

void WriteFatalAndExit(std::string_view title, std::string_view text)
{
    std::fprintf(stderr, "%.*s: %.*s\n", int(title.size()), title.data(), int(text.size()), text.data());
    std::fflush(stderr);
    // The fault may be met on the engine thread while the application's
    // objects still run; leave without running their destructors.
    std::_Exit(1);
}

void ReportFatal(std::string_view title, std::string_view text)
{
    if (Handler())
        Handler()(title, text);
    else
        WriteFatalAndExit(title, text);
}

FatalHandler SetFatalHandler(FatalHandler handler)
{
    FatalHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

} // namespace ormbrook
