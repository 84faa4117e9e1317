#pragma once
// What an HTML attribute value means and how one is written back: character
// references, the candidates of a srcset, and the escaping of a value that
// goes between double quotes.

#include <string>
#include <string_view>
#include <vector>

namespace ormbrook {

// Decodes the character references of an attribute value: "&#38;",
// "&#x26;" and the named ones that occur in URLs ("&amp;", "&quot;",
// "&apos;", "&lt;", "&gt;"), each with its ";". Numbers above 127 become
// their UTF-8 bytes; a reference that is not one of these stays as written
// ("a=1&b=2" is left alone). Returns false, leaving out untouched, when the
// value holds no reference at all.
bool DecodeCharacterReferences(std::string_view value, std::string& out);

// Appends a value for an attribute in double quotes: "&" as "&amp;" and a
// double quote as "&quot;".
void AppendAttributeValue(std::string& out, std::string_view value);

// One image candidate of a srcset: where its URL lies in the value.
struct SrcsetCandidate {
    size_t offset;
    size_t length;
};

// The URLs of a srcset ("a.jpg 1x, b.jpg 2x"), as the HTML standard splits
// it: candidates are separated by commas, a URL runs to white space, and a
// URL that ends in commas leaves them out.
void SplitSrcset(std::string_view srcset, std::vector<SrcsetCandidate>& candidates);

} // namespace ormbrook
