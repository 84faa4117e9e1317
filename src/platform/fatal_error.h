#pragma once
// Faults the program cannot go on from (a socket registry out of step, a
// lookup that succeeded without an address). The default report writes the
// title and text to standard error and ends the process with status 1; a
// program with windows installs a handler that shows a box first.

#include <functional>
#include <string_view>

namespace ormbrook {

using FatalHandler = std::function<void(std::string_view title, std::string_view text)>;

// Reports through the handler in force. The default handler does not
// return; a handler installed by a test may, and callers then carry on as
// if the operation had failed.
void ReportFatal(std::string_view title, std::string_view text);

// Installs `handler` (an empty one restores the default) and returns the
// previous one. Call it before the engine thread starts.
FatalHandler SetFatalHandler(FatalHandler handler);

// The default: text to standard error, then exit status 1.
[[noreturn]] void WriteFatalAndExit(std::string_view title, std::string_view text);

} // namespace ormbrook
