#include "crawl/css_scanner.h"

#include <cstring>

namespace ormbrook {

namespace {

bool IsCssSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool IsNameByte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_'
        || static_cast<unsigned char>(c) >= 0x80 || c == '\\';
}

bool StartsFolded(std::string_view text, size_t at, std::string_view lowerWord)
{
    if (text.size() - at < lowerWord.size())
        return false;
    for (size_t i = 0; i < lowerWord.size(); ++i)
        if (Lower(text[at + i]) != lowerWord[i])
            return false;
    return true;
}

// The end of a string that opens at css[at] (its quote): the index of the
// closing quote, or of the line break or end that cuts it short.
size_t StringEnd(std::string_view css, size_t at)
{
    const char quote = css[at];
    size_t i = at + 1;
    while (i < css.size() && css[i] != quote && css[i] != '\n') {
        if (css[i] == '\\')
            ++i;
        ++i;
    }
    return i < css.size() ? i : css.size();
}

} // namespace

void FindCssLinks(std::string_view css, std::vector<CssLink>& links)
{
    const size_t n = css.size();
    bool importing = false; // after "@import", before its ";"
    size_t i = 0;
    while (i < n) {
        const char c = css[i];
        if (c == '/' && i + 1 < n && css[i + 1] == '*') {
            const size_t close = css.find("*/", i + 2);
            i = close == std::string_view::npos ? n : close + 2;
            continue;
        }
        if (c == '"' || c == '\'') {
            const size_t end = StringEnd(css, i);
            if (importing && end < n && css[end] == c)
                links.push_back(CssLink{i + 1, end - i - 1, true, c});
            importing = false;
            i = end + 1;
            continue;
        }
        if (c == ';' || c == '{' || c == '}') {
            importing = false;
            ++i;
            continue;
        }
        if (c == '@' && StartsFolded(css, i + 1, "import") && (i + 7 >= n || !IsNameByte(css[i + 7]))) {
            importing = true;
            i += 7;
            continue;
        }
        if ((c == 'u' || c == 'U') && StartsFolded(css, i, "url(") && (i == 0 || !IsNameByte(css[i - 1]))) {
            size_t j = i + 4;
            while (j < n && IsCssSpace(css[j]))
                ++j;
            if (j < n && (css[j] == '"' || css[j] == '\'')) {
                const size_t end = StringEnd(css, j);
                if (end < n && css[end] == css[j])
                    links.push_back(CssLink{j + 1, end - j - 1, importing, css[j]});
                i = end + 1;
            } else {
                const size_t start = j;
                while (j < n && css[j] != ')' && !IsCssSpace(css[j]) && css[j] != '"' && css[j] != '\''
                       && css[j] != '(') {
                    if (css[j] == '\\')
                        ++j;
                    ++j;
                }
                if (j > n)
                    j = n;
                size_t k = j;
                while (k < n && IsCssSpace(css[k]))
                    ++k;
                // A bare URL counts only when its ")" closes it.
                if (k < n && css[k] == ')' && j > start)
                    links.push_back(CssLink{start, j - start, importing, 0});
                i = j;
            }
            importing = false;
            continue;
        }
        ++i;
    }
}

void AppendCssUrl(std::string& out, std::string_view url, const CssLink& link)
{
    for (const char c : url) {
        const bool escape = link.quote ? (c == link.quote || c == '\\' || c == '\n')
                                       : (c == '(' || c == ')' || c == '"' || c == '\'' || c == '\\' || IsCssSpace(c));
        if (escape && c == '\n') {
            out += "\\a ";
            continue;
        }
        if (escape)
            out += '\\';
        out += c;
    }
}

bool LooksLikeStyleSheet(std::string_view extension, bool htmlByName, std::string_view bytes)
{
    if (extension.size() == 3 && Lower(extension[0]) == 'c' && Lower(extension[1]) == 's'
        && Lower(extension[2]) == 's')
        return true;
    if (htmlByName)
        return false;
    return !bytes.empty() && std::memchr(bytes.data(), '<', bytes.size()) == nullptr;
}

} // namespace ormbrook
