#include "common/printable.h"

namespace ormbrook {

std::string PrintableText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            out += '?';
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0
                   && static_cast<unsigned char>(text[i + 1]) >= 0x80) {
            out += '?';
            ++i;
        } else {
            out += char(c);
        }
    }
    return out;
}

} // namespace ormbrook
