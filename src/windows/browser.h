#pragma once
// The user's web browser, as this platform allows: the address of what it
// shows is taken from the clipboard (or, failing that, the primary
// selection) when that holds an http URL; a stored copy is opened in the
// default browser.

#include <optional>
#include <string>

namespace ormbrook {

// The canonical URL when the text (blanks around it aside) is an http URL.
std::optional<std::string> HttpUrlFromText(const std::string& text);

// The clipboard's URL, else the primary selection's.
std::optional<std::string> GetBrowserUrl();

// Opens the local file in the default browser; false when nothing could.
bool ShowInBrowser(const std::string& localPath);

} // namespace ormbrook
