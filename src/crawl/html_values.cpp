#include "crawl/html_values.h"

#include <cstdint>

namespace ormbrook {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool IsHtmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

void AppendUtf8(std::string& out, uint32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

struct Named {
    std::string_view name;
    char byte;
};

// The named references that turn up in URLs, and only those: a name the
// crawl does not know is better left as written than guessed.
constexpr Named kNamed[] = {{"amp", '&'}, {"quot", '"'}, {"apos", '\''}, {"lt", '<'}, {"gt", '>'}};

// The reference at value[at] (an "&"): its length with the ";", or 0 when
// it is none that is decoded here.
size_t Reference(std::string_view value, size_t at, std::string& out)
{
    const size_t semi = value.find(';', at + 1);
    if (semi == std::string_view::npos || semi - at > 10)
        return 0;
    const std::string_view body = value.substr(at + 1, semi - at - 1);
    if (body.size() >= 2 && body[0] == '#') {
        const bool hex = body[1] == 'x' || body[1] == 'X';
        const std::string_view digits = body.substr(hex ? 2 : 1);
        if (digits.empty() || digits.size() > 7)
            return 0;
        uint32_t code = 0;
        for (const char c : digits) {
            if (hex ? !IsHexDigit(c) : !IsDigit(c))
                return 0;
            const uint32_t d = IsDigit(c) ? uint32_t(c - '0') : uint32_t((c | 0x20) - 'a' + 10);
            code = code * (hex ? 16 : 10) + d;
        }
        // NUL, surrogates and what lies beyond Unicode name no character.
        if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return 0;
        AppendUtf8(out, code);
        return semi - at + 1;
    }
    for (const Named& named : kNamed) {
        if (body == named.name) {
            out += named.byte;
            return semi - at + 1;
        }
    }
    return 0;
}

} // namespace

bool DecodeCharacterReferences(std::string_view value, std::string& out)
{
    size_t amp = value.find('&');
    if (amp == std::string_view::npos)
        return false;
    std::string decoded;
    decoded.reserve(value.size());
    size_t copied = 0;
    bool any = false;
    for (; amp != std::string_view::npos; amp = value.find('&', amp + 1)) {
        decoded.append(value.substr(copied, amp - copied));
        const size_t length = Reference(value, amp, decoded);
        if (length == 0) {
            decoded += '&';
            copied = amp + 1;
            continue;
        }
        any = true;
        copied = amp + length;
        amp = copied - 1;
    }
    if (!any)
        return false;
    decoded.append(value.substr(copied));
    out = std::move(decoded);
    return true;
}

void AppendAttributeValue(std::string& out, std::string_view value)
{
    size_t copied = 0;
    for (size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c != '&' && c != '"')
            continue;
        out.append(value.substr(copied, i - copied));
        out += c == '&' ? "&amp;" : "&quot;";
        copied = i + 1;
    }
    out.append(value.substr(copied));
}

void SplitSrcset(std::string_view srcset, std::vector<SrcsetCandidate>& candidates)
{
    candidates.clear();
    size_t i = 0;
    const size_t n = srcset.size();
    while (i < n) {
        while (i < n && (IsHtmlSpace(srcset[i]) || srcset[i] == ','))
            ++i;
        if (i >= n)
            break;
        const size_t start = i;
        while (i < n && !IsHtmlSpace(srcset[i]))
            ++i;
        size_t end = i;
        bool descriptors = true;
        if (srcset[end - 1] == ',') {
            while (end > start && srcset[end - 1] == ',')
                --end;
            descriptors = false;
        }
        if (end > start)
            candidates.push_back(SrcsetCandidate{start, end - start});
        if (!descriptors)
            continue;
        // The descriptors ("2x", "480w") run to a comma outside parentheses.
        int depth = 0;
        while (i < n && !(srcset[i] == ',' && depth == 0)) {
            if (srcset[i] == '(')
                ++depth;
            else if (srcset[i] == ')' && depth > 0)
                --depth;
            ++i;
        }
    }
}

} // namespace ormbrook
