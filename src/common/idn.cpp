#include "common/idn.h"

#include <QString>
#include <QUrl>

namespace ormbrook {

namespace {

// Whether a label starts with "xn--", in any case.
bool HasAceLabel(std::string_view host)
{
    for (size_t start = 0; start < host.size();) {
        const std::string_view label = host.substr(start, 4);
        if (label.size() == 4 && (label[0] | 0x20) == 'x' && (label[1] | 0x20) == 'n' && label[2] == '-'
            && label[3] == '-')
            return true;
        const size_t dot = host.find('.', start);
        if (dot == std::string_view::npos)
            break;
        start = dot + 1;
    }
    return false;
}

} // namespace

bool ToAsciiHost(std::string_view utf8Host, std::string& ascii)
{
    const QString text = QString::fromUtf8(utf8Host.data(), qsizetype(utf8Host.size()));
    // Bytes that are not UTF-8 would come through as U+FFFD, which some
    // mappings let pass: they are refused here instead.
    if (text.toUtf8() != QByteArrayView(utf8Host.data(), qsizetype(utf8Host.size())))
        return false;
    const QByteArray ace = QUrl::toAce(text);
    if (ace.isEmpty())
        return false;
    ascii.assign(ace.constData(), size_t(ace.size()));
    return true;
}

std::string ToUnicodeHost(std::string_view asciiHost)
{
    if (!HasAceLabel(asciiHost))
        return std::string(asciiHost);
    // Every top-level domain: this names folders, it does not guard a
    // browser's address bar against look-alike names.
    const QString unicode = QUrl::fromAce(QByteArray(asciiHost.data(), qsizetype(asciiHost.size())),
                                          QUrl::IgnoreIDNWhitelist);
    if (unicode.isEmpty())
        return std::string(asciiHost);
    const QByteArray utf8 = unicode.toUtf8();
    return std::string(utf8.constData(), size_t(utf8.size()));
}

} // namespace ormbrook
