// The wallpaper changer and the picture panel: the bytes of "QRYWP.bmp",
// the panel's states and actions, each desktop back end's commands against
// a scripted runner (no real desktop is touched), the X11 root window back
// end on a private X server, and the desktop as a receiver of the cycle.

#include "pictures/desktop_wallpaper.h"
#include "pictures/picture_panel.h"
#include "pictures/wallpaper_backends.h"

#include "common/messages.h"
#include "common/picture_block.h"
#include "pictures/jpeg_decode.h"
#include "platform/shared_block.h"
#include "support/env_scope.h"
#include "support/event_loop.h"
#include "support/jpeg_maker.h"
#include "support/xvfb_display.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

using namespace ormbrook;
using namespace ormbrook::test;
namespace fs = std::filesystem;

namespace {

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

uint32_t Get32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

std::vector<uint8_t> Dib(int32_t w, int32_t h, int bits, uint32_t compression, uint32_t sizeImage, uint32_t used,
                         size_t dataBytes)
{
    const size_t table = size_t(DibColourCount(bits, used)) * 4;
    std::vector<uint8_t> d(40 + table + dataBytes);
    Put32(d, 0, 40);
    Put32(d, 4, uint32_t(w));
    Put32(d, 8, uint32_t(h));
    d[12] = 1;
    d[14] = uint8_t(bits);
    Put32(d, 16, compression);
    Put32(d, 20, sizeImage);
    Put32(d, 32, used);
    for (size_t i = 40; i < d.size(); ++i)
        d[i] = uint8_t(i * 7);
    return d;
}

// Answers commands from a script and keeps every command it was given.
struct ScriptedRunner : CommandRunner {
    std::vector<std::string> commands;
    std::map<std::string, CommandResult> answers; // by the whole command line
    CommandResult Run(const std::string& program, const std::vector<std::string>& args) override
    {
        std::string line = program;
        for (const auto& a : args)
            line += " " + a;
        commands.push_back(line);
        auto it = answers.find(line);
        if (it != answers.end())
            return it->second;
        return {true, 0, ""};
    }
    void Answer(const std::string& line, int code, const std::string& out = {}) { answers[line] = {true, code, out}; }
};

std::string JoinLines(const std::vector<std::string>& lines)
{
    std::string out;
    for (const auto& l : lines)
        out += l + "\n";
    return out;
}

} // namespace

TEST(WallpaperFile, BytesOfQrywpBmp)
{
    struct Case {
        const char* intent;
        std::vector<uint8_t> dib;
        uint32_t fileSize;
        uint32_t offset;
        uint32_t imageSize;
    } cases[] = {
        {"24 bits: rows of 12 bytes", Dib(3, 2, 24, 0, 0, 0, 24), 14 + 40 + 24, 54, 24},
        {"8 bits: a full table", Dib(5, 3, 8, 0, 0, 0, 24), 14 + 40 + 1024 + 24, 14 + 40 + 1024, 24},
        {"8 bits: sixteen colours used", Dib(5, 3, 8, 0, 99, 16, 24), 14 + 40 + 64 + 24, 14 + 40 + 64, 24},
        {"a top-down picture counts its rows", Dib(3, -2, 24, 0, 0, 0, 24), 14 + 40 + 24, 54, 24},
        {"run-length rows keep their stored size", Dib(5, 3, 8, 1, 10, 0, 10), 14 + 40 + 1024 + 10, 14 + 40 + 1024,
         10},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> bmp = WallpaperBmpBytes(c.dib.data(), c.dib.size());
        ASSERT_EQ(bmp.size(), c.fileSize) << c.intent;
        EXPECT_EQ(bmp[0], 'B') << c.intent;
        EXPECT_EQ(bmp[1], 'M') << c.intent;
        EXPECT_EQ(Get32(bmp, 2), c.fileSize) << c.intent;
        EXPECT_EQ(Get32(bmp, 6), 0u) << c.intent;
        EXPECT_EQ(Get32(bmp, 10), c.offset) << c.intent;
        EXPECT_EQ(Get32(bmp, 14 + 20), c.imageSize) << c.intent;
        // Everything else is the DIB byte for byte.
        std::vector<uint8_t> expected(c.dib.begin(), c.dib.begin() + std::min(c.dib.size(), bmp.size() - 14));
        Put32(expected, 20, c.imageSize);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bmp.begin() + 14)) << c.intent;
    }
    std::vector<uint8_t> core(12 + 6);
    Put32(core, 0, 12);
    EXPECT_TRUE(WallpaperBmpBytes(core.data(), core.size()).empty());
}

TEST(PicturePanel, ButtonStatesAndActions)
{
    ScratchDir dir;
    const std::string pickup = dir.file("Pickup/");
    const std::string outside = dir.file("a.jpg");
    WriteSolidJpeg(outside, 12, 8, 10, 20, 30);
    std::string current = outside;
    size_t history = 1;
    int nexts = 0, previouses = 0;
    std::string copyFolder;
    std::string wallpaper;
    PanelServices s;
    s.currentPicture = [&] { return current; };
    s.historyCount = [&] { return history; };
    s.clearHistory = [&] { history = 0; };
    s.next = [&] { ++nexts; };
    s.previous = [&] { ++previouses; };
    s.pickupDir = [&] { return pickup; };
    s.chooseFolder = [&](const std::string& start) -> std::optional<std::string> {
        EXPECT_EQ(start, copyFolder);
        return dir.file("copies");
    };
    s.loadCopyFolder = [&] { return copyFolder; };
    s.saveCopyFolder = [&](const std::string& f) { copyFolder = f; };
    s.programFolder = dir.path().substr(0, dir.path().size() - 1);
    s.setWallpaper = [&](const std::string& f) { wallpaper = f; };
    PicturePanelLogic panel(s);

    // Prev is disabled with one picture and enabled after Next.
    EXPECT_FALSE(panel.prevEnabled());
    EXPECT_FALSE(panel.pickupDeletes());
    panel.Next();
    EXPECT_TRUE(panel.prevEnabled());
    EXPECT_EQ(nexts, 1);
    history = 2;
    panel.Previous();
    EXPECT_FALSE(panel.prevEnabled());
    EXPECT_EQ(previouses, 1);

    // "Pickup" on a picture outside the folder copies it in (making the folder).
    panel.KeepOrDeletePicture();
    EXPECT_TRUE(fs::exists(pickup + "a.jpg"));
    EXPECT_TRUE(fs::exists(outside));
    // Pressed on a picture inside, it deletes the file and steps back.
    current = pickup + "a.jpg";
    history = 3;
    panel.Refresh();
    EXPECT_TRUE(panel.pickupDeletes());
    panel.KeepOrDeletePicture();
    EXPECT_FALSE(fs::exists(pickup + "a.jpg"));
    EXPECT_EQ(previouses, 2);
    // With one picture shown, deleting it empties the history instead.
    fs::copy_file(outside, pickup + "a.jpg");
    history = 1;
    panel.KeepOrDeletePicture();
    EXPECT_EQ(history, 0u);
    EXPECT_EQ(previouses, 2);

    // "Copy" asks for a folder, starting in the one chosen last.
    current = outside;
    fs::create_directories(dir.file("copies"));
    panel.CopyPicture();
    EXPECT_TRUE(fs::exists(dir.file("copies/a.jpg")));
    EXPECT_EQ(copyFolder, dir.file("copies"));
    panel.CopyPicture();

    // "WP" writes QRYWP.bmp and makes it the wallpaper.
    ASSERT_TRUE(panel.SetWallpaper());
    EXPECT_EQ(wallpaper, dir.file("QRYWP.bmp"));
    std::ifstream in(wallpaper, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const DibBlock dib = DecodeJpegToDib(outside);
    EXPECT_EQ(bytes, WallpaperBmpBytes(dib.data(), dib.size()));
    current.clear();
    wallpaper.clear();
    EXPECT_FALSE(panel.SetWallpaper());
    EXPECT_TRUE(wallpaper.empty());
}

TEST(WallpaperBackends, EachDesktopsCommands)
{
    const std::string file = "/run/user/1000/ormbrook/wallpaper-0.png";
    struct Case {
        const char* name;
        std::function<std::unique_ptr<WallpaperBackend>(ScriptedRunner&)> make;
        std::function<void(ScriptedRunner&)> script;
        std::string save, show, restore;
    } cases[] = {
        {"GNOME", [](ScriptedRunner& r) { return MakeGSettingsBackend(GnomeDesktop(), r); },
         [](ScriptedRunner& r) {
             r.Answer("gsettings get org.gnome.desktop.background picture-uri", 0, "'file:///home/u/old.jpg'\n");
             r.Answer("gsettings get org.gnome.desktop.background picture-uri-dark", 1);
             r.Answer("gsettings get org.gnome.desktop.background picture-options", 0, "'zoom'\n");
         },
         "gsettings get org.gnome.desktop.background picture-uri\n"
         "gsettings get org.gnome.desktop.background picture-uri-dark\n"
         "gsettings get org.gnome.desktop.background picture-options\n",
         "gsettings set org.gnome.desktop.background picture-uri 'file:///run/user/1000/ormbrook/wallpaper-0.png'\n"
         "gsettings set org.gnome.desktop.background picture-uri-dark 'file:///run/user/1000/ormbrook/wallpaper-0.png'\n"
         "gsettings set org.gnome.desktop.background picture-options 'stretched'\n",
         "gsettings set org.gnome.desktop.background picture-options 'zoom'\n"
         "gsettings set org.gnome.desktop.background picture-uri 'file:///home/u/old.jpg'\n"},
        {"Cinnamon", [](ScriptedRunner& r) { return MakeGSettingsBackend(CinnamonDesktop(), r); },
         [](ScriptedRunner& r) {
             r.Answer("gsettings get org.cinnamon.desktop.background picture-uri", 0, "'file:///w.png'\n");
             r.Answer("gsettings get org.cinnamon.desktop.background picture-options", 0, "'scaled'\n");
         },
         "gsettings get org.cinnamon.desktop.background picture-uri\n"
         "gsettings get org.cinnamon.desktop.background picture-options\n",
         "gsettings set org.cinnamon.desktop.background picture-uri 'file:///run/user/1000/ormbrook/wallpaper-0.png'\n"
         "gsettings set org.cinnamon.desktop.background picture-options 'stretched'\n",
         "gsettings set org.cinnamon.desktop.background picture-options 'scaled'\n"
         "gsettings set org.cinnamon.desktop.background picture-uri 'file:///w.png'\n"},
        {"MATE", [](ScriptedRunner& r) { return MakeGSettingsBackend(MateDesktop(), r); },
         [](ScriptedRunner& r) {
             r.Answer("gsettings get org.mate.background picture-filename", 0, "'/usr/share/bg.jpg'\n");
             r.Answer("gsettings get org.mate.background picture-options", 0, "'wallpaper'\n");
         },
         "gsettings get org.mate.background picture-filename\ngsettings get org.mate.background picture-options\n",
         "gsettings set org.mate.background picture-filename '/run/user/1000/ormbrook/wallpaper-0.png'\n"
         "gsettings set org.mate.background picture-options 'stretched'\n",
         "gsettings set org.mate.background picture-filename '/usr/share/bg.jpg'\n"
         "gsettings set org.mate.background picture-options 'wallpaper'\n"},
        {"Xfce", [](ScriptedRunner& r) { return MakeXfconfBackend(r); },
         [](ScriptedRunner& r) {
             r.Answer("xfconf-query -c xfce4-desktop -l", 0,
                      "/backdrop/screen0/monitorVirtual1/workspace0/image-style\n"
                      "/backdrop/screen0/monitorVirtual1/workspace0/last-image\n/desktop-icons/style\n");
             r.Answer("xfconf-query -c xfce4-desktop -p /backdrop/screen0/monitorVirtual1/workspace0/last-image", 0,
                      "/usr/share/backgrounds/xfce/a.png\n");
             r.Answer("xfconf-query -c xfce4-desktop -p /backdrop/screen0/monitorVirtual1/workspace0/image-style", 0,
                      "5\n");
         },
         "xfconf-query -c xfce4-desktop -l\n"
         "xfconf-query -c xfce4-desktop -p /backdrop/screen0/monitorVirtual1/workspace0/image-style\n"
         "xfconf-query -c xfce4-desktop -p /backdrop/screen0/monitorVirtual1/workspace0/last-image\n",
         "xfconf-query -c xfce4-desktop -l\n"
         "xfconf-query -c xfce4-desktop -p /backdrop/screen0/monitorVirtual1/workspace0/image-style -s 3\n"
         "xfconf-query -c xfce4-desktop -p /backdrop/screen0/monitorVirtual1/workspace0/last-image -s "
         "/run/user/1000/ormbrook/wallpaper-0.png\n",
         "xfconf-query -c xfce4-desktop -p /backdrop/screen0/monitorVirtual1/workspace0/image-style -s 5\n"
         "xfconf-query -c xfce4-desktop -p /backdrop/screen0/monitorVirtual1/workspace0/last-image -s "
         "/usr/share/backgrounds/xfce/a.png\n"},
    };
    for (const Case& c : cases) {
        ScriptedRunner runner;
        c.script(runner);
        auto backend = c.make(runner);
        ASSERT_TRUE(backend->Save()) << c.name;
        EXPECT_EQ(JoinLines(runner.commands), c.save) << c.name;
        runner.commands.clear();
        EXPECT_TRUE(backend->Show(file, QImage(), true)) << c.name;
        EXPECT_EQ(JoinLines(runner.commands), c.show) << c.name;
        runner.commands.clear();
        EXPECT_TRUE(backend->Restore()) << c.name;
        EXPECT_EQ(JoinLines(runner.commands), c.restore) << c.name;
    }
}

TEST(WallpaperBackends, PlasmaScriptsItsShell)
{
    // The shell answers the save with one line per desktop.
    struct ShellRunner : CommandRunner {
        std::vector<std::vector<std::string>> calls;
        CommandResult Run(const std::string& program, const std::vector<std::string>& a) override
        {
            std::vector<std::string> call {program};
            call.insert(call.end(), a.begin(), a.end());
            calls.push_back(call);
            return {true, 0,
                    "method return time=1 sender=:1.5 -> destination=:1.9 serial=3 reply_serial=2\n"
                    "   string \"org.kde.image\tfile:///home/u/sky.jpg\t2\norg.kde.color\t\t\n\"\n"};
        }
    } shell;
    auto plasma = MakePlasmaBackend(shell);
    ASSERT_TRUE(plasma->Save());
    ASSERT_TRUE(plasma->Show("/tmp/w \"x\".png", QImage(), true));
    ASSERT_TRUE(plasma->Restore());
    ASSERT_EQ(shell.calls.size(), 3u);
    for (const auto& call : shell.calls) {
        ASSERT_EQ(call.size(), 7u);
        EXPECT_EQ(call[0], "dbus-send");
        EXPECT_EQ(call[3], "--dest=org.kde.plasmashell");
        EXPECT_EQ(call[5], "org.kde.PlasmaShell.evaluateScript");
        EXPECT_EQ(call[6].rfind("string:", 0), 0u);
    }
    EXPECT_NE(shell.calls[0][6].find("print(out)"), std::string::npos);
    const std::string& show = shell.calls[1][6];
    EXPECT_NE(show.find("d.wallpaperPlugin = \"org.kde.image\""), std::string::npos);
    EXPECT_NE(show.find("d.writeConfig(\"Image\", \"file:///tmp/w%20%22x%22.png\")"), std::string::npos);
    EXPECT_NE(show.find("\"FillMode\", \"0\""), std::string::npos);
    const std::string& restore = shell.calls[2][6];
    EXPECT_NE(restore.find("var d = a[0]; d.wallpaperPlugin = \"org.kde.image\";"), std::string::npos);
    EXPECT_NE(restore.find("d.writeConfig(\"Image\", \"file:///home/u/sky.jpg\"); d.writeConfig(\"FillMode\", \"2\");"),
              std::string::npos);
    EXPECT_NE(restore.find("var d = a[1]; d.wallpaperPlugin = \"org.kde.color\";"), std::string::npos);
}

TEST(WallpaperBackends, ChosenByTheSessionAndWhatAnswers)
{
    struct Case {
        const char* desktop;
        bool x11;
        std::vector<std::string> failing; // commands that fail
        const char* forced;
        const char* expected; // "" for none
    } cases[] = {
        {"GNOME", false, {}, "", "gnome"},
        {"ubuntu:GNOME", true, {}, "", "gnome"},
        {"Budgie:GNOME", true, {}, "", "gnome"},
        {"X-Cinnamon", true, {}, "", "cinnamon"},
        {"MATE", true, {}, "", "mate"},
        {"XFCE", true, {}, "", "xfce"},
        {"KDE", false, {}, "", "plasma"},
        {"GNOME", true, {"gsettings list-keys org.gnome.desktop.background"}, "", "x11"},
        {"GNOME", false, {"gsettings list-keys org.gnome.desktop.background"}, "", ""},
        {"i3", true, {}, "", "x11"},
        {"", false, {}, "", ""},
        {"GNOME", true, {}, "x11", "x11"},
        {"GNOME", true, {}, "none", ""},
    };
    for (const Case& c : cases) {
        ScriptedRunner runner;
        for (const auto& f : c.failing)
            runner.Answer(f, 1);
        auto backend = ChooseWallpaperBackend(c.desktop, c.x11, runner, c.forced);
        EXPECT_EQ(backend ? backend->name() : std::string(), c.expected) << c.desktop << " " << c.forced;
    }
}

TEST(WallpaperBackends, TheRootWindowShowsThePictureAndGetsItsOldBackgroundBack)
{
    XvfbDisplay x;
    if (!x.Start(320, 240))
        GTEST_SKIP() << "no X server for window tests: " << x.error();
    EnvScope display("DISPLAY", x.display());
    QProcess paint;
    paint.setProcessEnvironment(x.Environment());
    paint.start("xsetroot", {"-solid", "#ff8000"});
    if (!paint.waitForFinished(5000) || paint.exitCode() != 0)
        GTEST_SKIP() << "xsetroot is not installed";
    const QRgb orange = qRgb(0xff, 0x80, 0x00), blue = qRgb(0, 0, 255), green = qRgb(0, 200, 0);
    QImage picture(320, 240, QImage::Format_RGB32);

    // A plain colour, as xsetroot leaves it.
    auto backend = MakeX11RootBackend();
    ASSERT_TRUE(backend->Save());
    picture.fill(blue);
    ASSERT_TRUE(backend->Show("", picture, true));
    EXPECT_TRUE(MostlyColour(x.GrabScreen(), blue));
    picture.fill(green);
    ASSERT_TRUE(backend->Show("", picture, true));
    EXPECT_TRUE(MostlyColour(x.GrabScreen(), green));
    ASSERT_TRUE(backend->Restore());
    EXPECT_TRUE(MostlyColour(x.GrabScreen(), orange));
    // On again and off again: the colour comes back a second time.
    ASSERT_TRUE(backend->Save());
    ASSERT_TRUE(backend->Show("", picture, true));
    EXPECT_TRUE(MostlyColour(x.GrabScreen(), green));
    ASSERT_TRUE(backend->Restore());
    EXPECT_TRUE(MostlyColour(x.GrabScreen(), orange));

    // A wallpaper set by a tool that keeps its pixmap (as feh does): that
    // very pixmap comes back.
    auto users = MakeX11RootBackend();
    picture.fill(qRgb(200, 0, 200));
    ASSERT_TRUE(users->Show("", picture, false));
    auto changer = MakeX11RootBackend();
    ASSERT_TRUE(changer->Save());
    picture.fill(blue);
    ASSERT_TRUE(changer->Show("", picture, true));
    EXPECT_TRUE(MostlyColour(x.GrabScreen(), blue));
    ASSERT_TRUE(changer->Restore());
    EXPECT_TRUE(MostlyColour(x.GrabScreen(), qRgb(200, 0, 200)));
}

TEST(DesktopWallpaper, ComposesEachPictureAndPutsTheOldBackgroundBack)
{
    UserScope scope;
    struct Recorder : WallpaperBackend {
        std::vector<std::string> calls;
        QImage shown;
        std::string name() const override { return "recorder"; }
        bool Save() override { return calls.push_back("save"), true; }
        bool Show(const std::string& file, const QImage& image, bool frame) override
        {
            calls.push_back(std::string(frame ? "frame " : "wallpaper ") + file);
            shown = image.isNull() ? QImage(QString::fromStdString(file)) : image;
            return true;
        }
        bool Restore() override { return calls.push_back("restore"), true; }
        void ReplaceSaved(const std::string& file) override { calls.push_back("replace " + file); }
    };
    auto owned = std::make_unique<Recorder>();
    Recorder& backend = *owned;
    DesktopWallpaper desktop(std::move(owned), QSize(200, 100), scope.runtime() + "/");
    std::vector<ChannelFrame> answers;
    std::mutex m;
    desktop.SetAnswer([&](const ChannelFrame& f) {
        std::lock_guard lock(m);
        answers.push_back(f);
    });

    // The block the cycle would write: a red picture on blue, 50 x 50.
    const std::string jpeg = scope.path() + "r.jpg";
    WriteSolidJpeg(jpeg, 50, 50, 220, 0, 0);
    DibBlock dib = DecodeJpegToDib(jpeg);
    const PictureBlockTexts texts {"", jpeg, "", ""};
    SharedBlock block;
    ASSERT_TRUE(block.Create(kPictureBlockName, PictureBlockSize(texts, dib.size())));
    const size_t at = WritePictureBlockHead(block.data(), block.size(), {0x00FF0000, 0, 0, 0}, texts);
    std::memcpy(block.data() + at, dib.data(), dib.size());

    desktop.Start();
    desktop.ShowPicture(1);
    desktop.Drain();
    ASSERT_EQ(backend.calls.size(), 2u);
    EXPECT_EQ(backend.calls[0], "save");
    EXPECT_EQ(backend.calls[1], "frame " + scope.runtime() + "/wallpaper-0.png");
    EXPECT_TRUE(fs::exists(scope.runtime() + "/wallpaper-0.png"));
    ASSERT_EQ(backend.shown.size(), QSize(200, 100));
    EXPECT_EQ(backend.shown.pixel(20, 50), qRgb(0, 0, 255));
    EXPECT_EQ(qRed(backend.shown.pixel(100, 50)) > 200, true);
    {
        std::lock_guard lock(m);
        ASSERT_EQ(answers.size(), 1u);
        EXPECT_EQ(answers[0].message, MsgPictureShown);
        EXPECT_EQ(answers[0].lParam, kDesktopHandle);
    }
    // The permanent wallpaper chosen meanwhile is what comes back.
    desktop.SetPermanent("/p/QRYWP.bmp");
    desktop.Stop();
    desktop.Drain();
    EXPECT_EQ(backend.calls[2], "replace /p/QRYWP.bmp");
    EXPECT_EQ(backend.calls[3], "restore");
    EXPECT_FALSE(fs::exists(scope.runtime() + "/wallpaper-0.png"));
    {
        std::lock_guard lock(m);
        ASSERT_EQ(answers.size(), 2u);
        EXPECT_EQ(answers[1].message, MsgDesktopStopped);
    }
    // Off: the permanent wallpaper is shown in the user's own placement.
    desktop.SetPermanent("/p/QRYWP.bmp");
    desktop.Drain();
    EXPECT_EQ(backend.calls[4], "wallpaper /p/QRYWP.bmp");
}
