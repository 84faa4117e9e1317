#include "windows/browser.h"

#include "common/url.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QUrl>

namespace ormbrook {

std::optional<std::string> HttpUrlFromText(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::nullopt;
    const std::string trimmed = text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
    // One address, not a paragraph that happens to start with one.
    if (trimmed.find_first_of(" \t\r\n") != std::string::npos)
        return std::nullopt;
    CUrl url;
    if (!url.Parse(trimmed) || url.scheme() != SchemeHttp)
        return std::nullopt;
    return url.url();
}

std::optional<std::string> GetBrowserUrl()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return std::nullopt;
    if (auto url = HttpUrlFromText(clipboard->text(QClipboard::Clipboard).toStdString()))
        return url;
    if (clipboard->supportsSelection())
        return HttpUrlFromText(clipboard->text(QClipboard::Selection).toStdString());
    return std::nullopt;
}

bool ShowInBrowser(const std::string& localPath)
{
    const QString path = QString::fromStdString(localPath);
    if (!QFileInfo(path).isFile())
        return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

} // namespace ormbrook
