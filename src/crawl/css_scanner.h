#pragma once
// The links of a style sheet: every url(...) and every @import, in a stored
// ".css" file, a STYLE element or a style attribute. Like the HTML scanner
// it is no parser: it skips comments and strings and knows just enough of
// CSS to find those two forms; everything else passes through untouched.

#include <string>
#include <string_view>
#include <vector>

namespace ormbrook {

struct CssLink {
    size_t offset = 0;  // where the URL's text lies in the style sheet (without quotes)
    size_t length = 0;
    bool import = false; // @import, rather than url()
    char quote = 0;      // the quote around it, or 0 when it stood bare in url()
};

// Appends the links of the style sheet in the order they stand.
void FindCssLinks(std::string_view css, std::vector<CssLink>& links);

// Appends a URL as the text of a link found as `link` was: inside its own
// quotes escaped for them, or bare with what would end it escaped.
void AppendCssUrl(std::string& out, std::string_view url, const CssLink& link);

// Whether a stored file is a style sheet by its name (".css") or, when the
// name says nothing, by its bytes: a page without a single "<" holds no
// HTML to rewrite.
bool LooksLikeStyleSheet(std::string_view extension, bool htmlByName, std::string_view bytes);

} // namespace ormbrook
