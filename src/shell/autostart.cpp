#include "shell/autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdlib>

namespace ormbrook {

namespace {

// A program path as the Exec key wants it: quoted, with the characters the
// desktop entry format escapes inside quotes.
std::string QuotedExec(const std::string& program)
{
    std::string out = "\"";
    for (char c : program) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

} // namespace

std::string AutostartEntryPath()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base = config && *config == '/' ? config : QDir::homePath().toStdString() + "/.config";
    return base + "/autostart/ormbrook.desktop";
}

bool AutostartOn()
{
    return QFile::exists(QString::fromStdString(AutostartEntryPath()));
}

bool SetAutostart(bool on, const std::string& program, std::string* reason)
{
    const QString path = QString::fromStdString(AutostartEntryPath());
    if (!on) {
        QFile file(path);
        if (!file.exists() || file.remove())
            return true;
        if (reason)
            *reason = file.errorString().toStdString();
        return false;
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        if (reason)
            *reason = "the folder " + QFileInfo(path).absolutePath().toStdString() + " cannot be made";
        return false;
    }
    // In the tray, as a login start should be: no splash over the desktop.
    const std::string entry = "[Desktop Entry]\n"
                              "Type=Application\n"
                              "Name=Ormbrook\n"
                              "Comment=Starts Ormbrook in the tray at login\n"
                              "Comment[ja]=ログイン時に Ormbrook をトレイに起動します\n"
                              "Exec=env ORMBROOK_NO_SPLASH=1 "
                              + QuotedExec(program)
                              + "\n"
                                "Icon=ormbrook\n"
                                "Terminal=false\n"
                                "X-GNOME-Autostart-enabled=true\n";
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(entry.data(), qint64(entry.size())) == qint64(entry.size())
        && file.commit())
        return true;
    if (reason)
        *reason = file.errorString().toStdString();
    return false;
}

} // namespace ormbrook
