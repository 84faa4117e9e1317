#pragma once
// Bodies in the content codings a server may send: what tests serve.

#include <string>

namespace ormbrook::test {

enum class Coding { Gzip, Deflate, RawDeflate, Brotli };
std::string Compressed(Coding coding, const std::string& text);

} // namespace ormbrook::test
