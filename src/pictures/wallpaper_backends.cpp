#include "pictures/wallpaper_backends.h"

#include <QProcess>
#include <QUrl>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstring>
#include <sstream>

namespace ormbrook {

namespace {

std::string Trimmed(const std::string& text)
{
    size_t a = 0, b = text.size();
    while (a < b && std::isspace(static_cast<unsigned char>(text[a])))
        ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(text[b - 1])))
        --b;
    return text.substr(a, b - a);
}

bool Succeeded(const CommandResult& r)
{
    return r.ran && r.exitCode == 0;
}

// A GVariant string literal.
std::string Quoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text) {
        if (c == '\'' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "'";
}

// A JavaScript string literal.
std::string JsString(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    return out + "\"";
}

// --- the GNOME family -----------------------------------------------------------

class GSettingsBackend : public WallpaperBackend {
public:
    GSettingsBackend(GSettingsDesktop desktop, CommandRunner& runner) : desktop_(std::move(desktop)), runner_(runner) {}

    std::string name() const override { return desktop_.name; }

    bool Save() override
    {
        saved_.clear();
        for (const std::string& key : Keys()) {
            const CommandResult r = runner_.Run("gsettings", {"get", desktop_.schema, key});
            // A key this version of the desktop lacks is left alone.
            if (Succeeded(r))
                saved_[key] = Trimmed(r.out);
        }
        return saved_.count(PictureKey()) != 0;
    }

    bool Show(const std::string& file, const QImage&, bool frame) override
    {
        bool ok = true;
        for (const std::string& key : desktop_.uriKeys) {
            const bool set = Set(key, Quoted(FileUri(file)));
            // Only the first key is every version's; the dark one is newer.
            if (key == desktop_.uriKeys.front())
                ok = set;
        }
        if (!desktop_.pathKey.empty())
            ok = Set(desktop_.pathKey, Quoted(file));
        if (frame && !desktop_.optionsKey.empty())
            Set(desktop_.optionsKey, Quoted("stretched"));
        return ok;
    }

    bool Restore() override
    {
        bool ok = true;
        for (const auto& [key, value] : saved_)
            ok = Set(key, value) && ok;
        return ok;
    }

    void ReplaceSaved(const std::string& file) override
    {
        for (const std::string& key : desktop_.uriKeys)
            if (saved_.count(key))
                saved_[key] = Quoted(FileUri(file));
        if (!desktop_.pathKey.empty() && saved_.count(desktop_.pathKey))
            saved_[desktop_.pathKey] = Quoted(file);
    }

private:
    std::string PictureKey() const { return desktop_.pathKey.empty() ? desktop_.uriKeys.front() : desktop_.pathKey; }
    std::vector<std::string> Keys() const
    {
        std::vector<std::string> keys = desktop_.uriKeys;
        if (!desktop_.pathKey.empty())
            keys.push_back(desktop_.pathKey);
        if (!desktop_.optionsKey.empty())
            keys.push_back(desktop_.optionsKey);
        return keys;
    }
    bool Set(const std::string& key, const std::string& value)
    {
        return Succeeded(runner_.Run("gsettings", {"set", desktop_.schema, key, value}));
    }

    GSettingsDesktop desktop_;
    CommandRunner& runner_;
    std::map<std::string, std::string> saved_;
};

// --- Xfce -----------------------------------------------------------------------------

class XfconfBackend : public WallpaperBackend {
public:
    explicit XfconfBackend(CommandRunner& runner) : runner_(runner) {}

    std::string name() const override { return "xfce"; }

    bool Save() override
    {
        saved_.clear();
        for (const std::string& property : Properties()) {
            const CommandResult r = runner_.Run("xfconf-query", {"-c", "xfce4-desktop", "-p", property});
            if (Succeeded(r))
                saved_[property] = Trimmed(r.out);
        }
        return std::any_of(saved_.begin(), saved_.end(), [](const auto& p) { return IsImage(p.first); });
    }

    bool Show(const std::string& file, const QImage&, bool frame) override
    {
        bool any = false;
        for (const std::string& property : Properties()) {
            if (IsImage(property))
                any = Set(property, file) || any;
            else if (frame)
                Set(property, "3"); // stretched
        }
        return any;
    }

    bool Restore() override
    {
        bool ok = true;
        for (const auto& [property, value] : saved_)
            ok = Set(property, value) && ok;
        return ok;
    }

    void ReplaceSaved(const std::string& file) override
    {
        for (auto& [property, value] : saved_)
            if (IsImage(property))
                value = file;
    }

private:
    static bool IsImage(const std::string& property) { return property.ends_with("/last-image"); }
    static bool IsStyle(const std::string& property) { return property.ends_with("/image-style"); }

    // One backdrop per monitor and workspace.
    std::vector<std::string> Properties()
    {
        std::vector<std::string> out;
        const CommandResult r = runner_.Run("xfconf-query", {"-c", "xfce4-desktop", "-l"});
        if (!Succeeded(r))
            return out;
        std::istringstream lines(r.out);
        std::string line;
        while (std::getline(lines, line)) {
            line = Trimmed(line);
            if (IsImage(line) || IsStyle(line))
                out.push_back(line);
        }
        return out;
    }
    bool Set(const std::string& property, const std::string& value)
    {
        return Succeeded(runner_.Run("xfconf-query", {"-c", "xfce4-desktop", "-p", property, "-s", value}));
    }

    CommandRunner& runner_;
    std::map<std::string, std::string> saved_;
};

// --- KDE Plasma -------------------------------------------------------------------------

class PlasmaBackend : public WallpaperBackend {
public:
    explicit PlasmaBackend(CommandRunner& runner) : runner_(runner) {}

    std::string name() const override { return "plasma"; }

    bool Save() override
    {
        saved_.clear();
        const std::optional<std::string> printed = Evaluate(
            "var a = desktops(); var out = \"\";"
            " for (var i = 0; i < a.length; i++) { var d = a[i];"
            " d.currentConfigGroup = [\"Wallpaper\", \"org.kde.image\", \"General\"];"
            " out += d.wallpaperPlugin + \"\\t\" + d.readConfig(\"Image\") + \"\\t\" + d.readConfig(\"FillMode\") + \"\\n\"; }"
            " print(out);");
        if (!printed)
            return false;
        std::istringstream lines(*printed);
        std::string line;
        while (std::getline(lines, line)) {
            if (line.empty())
                continue;
            Desktop d;
            std::istringstream fields(line);
            std::getline(fields, d.plugin, '\t');
            std::getline(fields, d.image, '\t');
            std::getline(fields, d.fillMode, '\t');
            saved_.push_back(d);
        }
        return !saved_.empty();
    }

    bool Show(const std::string& file, const QImage&, bool frame) override
    {
        std::string script = "var a = desktops(); for (var i = 0; i < a.length; i++) { var d = a[i];"
                             " d.wallpaperPlugin = \"org.kde.image\";"
                             " d.currentConfigGroup = [\"Wallpaper\", \"org.kde.image\", \"General\"];"
                             " d.writeConfig(\"Image\", "
            + JsString(FileUri(file)) + ");";
        if (frame)
            script += " d.writeConfig(\"FillMode\", \"0\");"; // stretched
        script += " }";
        return Evaluate(script).has_value();
    }

    bool Restore() override
    {
        if (saved_.empty())
            return false;
        std::string script = "var a = desktops();";
        for (size_t i = 0; i < saved_.size(); ++i) {
            const Desktop& d = saved_[i];
            script += " if (a.length > " + std::to_string(i) + ") { var d = a[" + std::to_string(i) + "];"
                + " d.wallpaperPlugin = " + JsString(d.plugin) + ";"
                + " d.currentConfigGroup = [\"Wallpaper\", \"org.kde.image\", \"General\"];"
                + " d.writeConfig(\"Image\", " + JsString(d.image) + ");";
            if (!d.fillMode.empty())
                script += " d.writeConfig(\"FillMode\", " + JsString(d.fillMode) + ");";
            script += " }";
        }
        return Evaluate(script).has_value();
    }

    void ReplaceSaved(const std::string& file) override
    {
        for (Desktop& d : saved_) {
            d.plugin = "org.kde.image";
            d.image = FileUri(file);
        }
    }

private:
    struct Desktop {
        std::string plugin;
        std::string image;
        std::string fillMode;
    };

    // What the script printed; nothing when the shell did not run it.
    std::optional<std::string> Evaluate(const std::string& script)
    {
        const CommandResult r = runner_.Run(
            "dbus-send", {"--session", "--print-reply", "--dest=org.kde.plasmashell", "/PlasmaShell",
                          "org.kde.PlasmaShell.evaluateScript", "string:" + script});
        if (!Succeeded(r))
            return std::nullopt;
        const size_t open = r.out.find("string \"");
        const size_t close = r.out.rfind('"');
        if (open == std::string::npos || close <= open + 7)
            return std::string();
        return r.out.substr(open + 8, close - open - 8);
    }

    CommandRunner& runner_;
    std::vector<Desktop> saved_;
};

// --- the X11 root window ---------------------------------------------------------------

int IgnoreErrors(Display*, XErrorEvent*)
{
    return 0;
}

class X11RootBackend : public WallpaperBackend {
public:
    std::string name() const override { return "x11"; }

    bool Save() override
    {
        savedPixmap_ = None;
        savedImage_ = QImage();
        Connection c;
        if (!c.dpy)
            return false;
        // A setter that keeps its pixmap (feh, Esetroot, hsetroot, ...)
        // names it here; that pixmap is put back as it is.
        const Pixmap pixmap = RootPixmap(c.dpy, "_XROOTPMAP_ID");
        if (pixmap != None && PixmapExists(c.dpy, pixmap)) {
            savedPixmap_ = pixmap;
            // The picture put back last time is the user's background now,
            // not ours to free.
            if (pixmap == ours_)
                ours_ = None;
            return true;
        }
        // A plain colour or pattern is not readable as such: what the root
        // shows now is taken instead.
        savedImage_ = Capture(c.dpy);
        return !savedImage_.isNull();
    }

    bool Show(const std::string& file, const QImage& image, bool) override
    {
        QImage picture = image.isNull() ? QImage(QString::fromStdString(file)) : image;
        if (picture.isNull())
            return false;
        return SetPicture(picture);
    }

    bool Restore() override
    {
        Connection c;
        if (!c.dpy)
            return false;
        if (savedPixmap_ != None && PixmapExists(c.dpy, savedPixmap_)) {
            SetRootPixmap(c.dpy, savedPixmap_);
            c.Close();
            FreeOurs();
            return true;
        }
        c.Close();
        if (!savedImage_.isNull())
            return SetPicture(savedImage_);
        return false;
    }

    void ReplaceSaved(const std::string& file) override
    {
        savedPixmap_ = None;
        savedImage_ = QImage(QString::fromStdString(file));
    }

private:
    // A connection of its own for each step: the program's windows keep
    // theirs, and a pixmap made here outlives it (RetainPermanent).
    struct Connection {
        Display* dpy = XOpenDisplay(nullptr);
        XErrorHandler old = nullptr;
        Connection()
        {
            if (dpy)
                old = XSetErrorHandler(IgnoreErrors);
        }
        ~Connection() { Close(); }
        void Close()
        {
            if (!dpy)
                return;
            XSync(dpy, False);
            XSetErrorHandler(old);
            XCloseDisplay(dpy);
            dpy = nullptr;
        }
    };

    static Pixmap RootPixmap(Display* dpy, const char* atomName)
    {
        const Atom atom = XInternAtom(dpy, atomName, True);
        if (atom == None)
            return None;
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        Pixmap pixmap = None;
        if (XGetWindowProperty(dpy, DefaultRootWindow(dpy), atom, 0, 1, False, XA_PIXMAP, &type, &format, &count,
                               &after, &data) == Success
            && type == XA_PIXMAP && format == 32 && count == 1 && data)
            pixmap = *reinterpret_cast<Pixmap*>(data);
        if (data)
            XFree(data);
        return pixmap;
    }

    static bool PixmapExists(Display* dpy, Pixmap pixmap)
    {
        Window root = 0;
        int x = 0, y = 0;
        unsigned w = 0, h = 0, border = 0, depth = 0;
        return XGetGeometry(dpy, pixmap, &root, &x, &y, &w, &h, &border, &depth) != 0;
    }

    static void SetRootPixmap(Display* dpy, Pixmap pixmap)
    {
        const Window root = DefaultRootWindow(dpy);
        for (const char* name : {"_XROOTPMAP_ID", "ESETROOT_PMAP_ID"}) {
            const Atom atom = XInternAtom(dpy, name, False);
            XChangeProperty(dpy, root, atom, XA_PIXMAP, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(&pixmap), 1);
        }
        XSetWindowBackgroundPixmap(dpy, root, pixmap);
        XClearWindow(dpy, root);
    }

    static QImage Capture(Display* dpy)
    {
        const int screen = DefaultScreen(dpy);
        const int w = DisplayWidth(dpy, screen), h = DisplayHeight(dpy, screen);
        XImage* image = XGetImage(dpy, DefaultRootWindow(dpy), 0, 0, unsigned(w), unsigned(h), AllPlanes, ZPixmap);
        if (!image)
            return {};
        QImage out(w, h, QImage::Format_RGB32);
        for (int y = 0; y < h; ++y) {
            auto* line = reinterpret_cast<uint32_t*>(out.scanLine(y));
            for (int x = 0; x < w; ++x)
                line[x] = 0xFF000000u | uint32_t(XGetPixel(image, x, y) & 0xFFFFFF);
        }
        XDestroyImage(image);
        return out;
    }

    // Frees the pixmap this back end put up last (its retained client).
    void FreeOurs()
    {
        if (ours_ == None)
            return;
        Connection c;
        if (c.dpy)
            XKillClient(c.dpy, ours_);
        ours_ = None;
    }

    bool SetPicture(const QImage& picture)
    {
        Connection c;
        if (!c.dpy)
            return false;
        const int screen = DefaultScreen(c.dpy);
        const int w = DisplayWidth(c.dpy, screen), h = DisplayHeight(c.dpy, screen);
        const int depth = DefaultDepth(c.dpy, screen);
        if (depth != 24 && depth != 32)
            return false;
        QImage frame = picture.size() == QSize(w, h)
            ? picture.convertToFormat(QImage::Format_RGB32)
            : picture.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(QImage::Format_RGB32);
        const Window root = DefaultRootWindow(c.dpy);
        const Pixmap pixmap = XCreatePixmap(c.dpy, root, unsigned(w), unsigned(h), unsigned(depth));
        XImage* image = XCreateImage(c.dpy, DefaultVisual(c.dpy, screen), unsigned(depth), ZPixmap, 0,
                                     reinterpret_cast<char*>(frame.bits()), unsigned(w), unsigned(h), 32,
                                     int(frame.bytesPerLine()));
        if (!image) {
            XFreePixmap(c.dpy, pixmap);
            return false;
        }
        const GC gc = XCreateGC(c.dpy, pixmap, 0, nullptr);
        XPutImage(c.dpy, pixmap, gc, image, 0, 0, 0, 0, unsigned(w), unsigned(h));
        XFreeGC(c.dpy, gc);
        image->data = nullptr; // the QImage owns the bits
        XDestroyImage(image);
        SetRootPixmap(c.dpy, pixmap);
        XSetCloseDownMode(c.dpy, RetainPermanent);
        c.Close();
        // The one before goes only now, so the root never shows a freed pixmap.
        FreeOurs();
        ours_ = pixmap;
        return true;
    }

    Pixmap savedPixmap_ = None;
    QImage savedImage_;
    Pixmap ours_ = None;
};

} // namespace

CommandResult ProcessRunner::Run(const std::string& program, const std::vector<std::string>& args)
{
    QProcess process;
    QStringList list;
    for (const std::string& a : args)
        list << QString::fromStdString(a);
    process.setProgram(QString::fromStdString(program));
    process.setArguments(list);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    CommandResult result;
    if (!process.waitForStarted(3000))
        return result;
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(1000);
        return result;
    }
    result.ran = process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput().toStdString();
    return result;
}

const GSettingsDesktop& GnomeDesktop()
{
    static const GSettingsDesktop d {"gnome", "org.gnome.desktop.background", {"picture-uri", "picture-uri-dark"}, "",
                                     "picture-options"};
    return d;
}

const GSettingsDesktop& CinnamonDesktop()
{
    static const GSettingsDesktop d {"cinnamon", "org.cinnamon.desktop.background", {"picture-uri"}, "",
                                     "picture-options"};
    return d;
}

const GSettingsDesktop& MateDesktop()
{
    static const GSettingsDesktop d {"mate", "org.mate.background", {}, "picture-filename", "picture-options"};
    return d;
}

std::unique_ptr<WallpaperBackend> MakeGSettingsBackend(const GSettingsDesktop& desktop, CommandRunner& runner)
{
    return std::make_unique<GSettingsBackend>(desktop, runner);
}

std::unique_ptr<WallpaperBackend> MakeXfconfBackend(CommandRunner& runner)
{
    return std::make_unique<XfconfBackend>(runner);
}

std::unique_ptr<WallpaperBackend> MakePlasmaBackend(CommandRunner& runner)
{
    return std::make_unique<PlasmaBackend>(runner);
}

std::unique_ptr<WallpaperBackend> MakeX11RootBackend()
{
    return std::make_unique<X11RootBackend>();
}

std::string FileUri(const std::string& path)
{
    return QUrl::fromLocalFile(QString::fromStdString(path)).toString(QUrl::FullyEncoded).toStdString();
}

std::unique_ptr<WallpaperBackend> ChooseWallpaperBackend(const std::string& currentDesktop, bool x11,
                                                         CommandRunner& runner, const std::string& forced)
{
    auto gsettings = [&](const GSettingsDesktop& d) -> std::unique_ptr<WallpaperBackend> {
        if (Succeeded(runner.Run("gsettings", {"list-keys", d.schema})))
            return MakeGSettingsBackend(d, runner);
        return nullptr;
    };
    auto make = [&](const std::string& name, bool check) -> std::unique_ptr<WallpaperBackend> {
        if (name == "gnome" || name == "budgie" || name == "unity")
            return check ? gsettings(GnomeDesktop()) : MakeGSettingsBackend(GnomeDesktop(), runner);
        if (name == "cinnamon" || name == "x-cinnamon")
            return check ? gsettings(CinnamonDesktop()) : MakeGSettingsBackend(CinnamonDesktop(), runner);
        if (name == "mate")
            return check ? gsettings(MateDesktop()) : MakeGSettingsBackend(MateDesktop(), runner);
        if (name == "xfce") {
            if (!check || Succeeded(runner.Run("xfconf-query", {"-c", "xfce4-desktop", "-l"})))
                return MakeXfconfBackend(runner);
            return nullptr;
        }
        if (name == "kde" || name == "plasma") {
            if (!check
                || Succeeded(runner.Run("dbus-send", {"--session", "--print-reply", "--dest=org.kde.plasmashell",
                                                      "/PlasmaShell", "org.freedesktop.DBus.Peer.Ping"})))
                return MakePlasmaBackend(runner);
            return nullptr;
        }
        if (name == "x11")
            return MakeX11RootBackend();
        return nullptr;
    };
    auto lowered = [](std::string s) {
        for (char& c : s)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    if (!forced.empty())
        return make(lowered(forced), false);
    std::istringstream names(currentDesktop);
    std::string name;
    while (std::getline(names, name, ':'))
        if (auto backend = make(lowered(Trimmed(name)), true))
            return backend;
    if (x11)
        return MakeX11RootBackend();
    return nullptr;
}

} // namespace ormbrook
