#pragma once
// Texts that came from outside (a server's answer, a proxy's, a page title,
// a URL) shown to the user: on a terminal a control byte would act, an
// escape sequence recolour it, a bell ring.

#include <string>
#include <string_view>

namespace ormbrook {

// The text with every control character (C0, DEL, and C1 written in UTF-8)
// replaced by "?"; everything else as it was.
std::string PrintableText(std::string_view text);

} // namespace ormbrook
