#pragma once
// Internationalised host names. A host written in Unicode ("例え.テスト")
// has one ASCII form ("xn--r8jz45g.xn--zckzah", IDNA 2008 with the UTS #46
// mapping): that is the name the resolver, the Host header and TLS are
// given, and the one the crawl compares, so a link may write either.

#include <string>
#include <string_view>

namespace ormbrook {

// The ASCII form of a host written in UTF-8 into `ascii`; false when the
// bytes are not UTF-8 or do not make a host name.
bool ToAsciiHost(std::string_view utf8Host, std::string& ascii);

// The Unicode form of an ASCII host, as UTF-8: its "xn--" labels decoded.
// A host without such labels, or whose labels don't decode, comes back as it is.
std::string ToUnicodeHost(std::string_view asciiHost);

} // namespace ormbrook
