#include "crawl/settings.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

using namespace ormbrook;

namespace {

struct SettingsTest : ::testing::Test {
    QTemporaryDir dir;
    std::string store() { return dir.filePath("Ormbrook.conf").toStdString(); }
    std::string folder() { return dir.filePath("data/Ormbrook").toStdString(); }
};

} // namespace

TEST_F(SettingsTest, AFreshUserGetsEveryDefault)
{
    AppSettings app(store(), folder());
    ASSERT_TRUE(app.LoadSettings());
    const SettingsValues& v = app.values();
    struct Row {
        const char* name;
        int32_t got;
        int32_t want;
    };
    const Row rows[] = {
        {"TimerValid", v.TimerValid, 1},
        {"UseRobotsTxt", v.UseRobotsTxt, 0},
        {"ProxyPort", v.ProxyPort, 8080},
        {"DialRetry", v.DialRetry, 2},
        {"stored LinkMax", v.LinkMax, -1},
        {"stored UseExtFilter", v.download.use, -1},
        {"PilotArea answers", app.PilotArea(), 0},
        {"LinkMax answers", app.LinkMax(), 0},
        {"RenewalType answers", app.RenewalType(), 2},
        {"NoCache answers", app.NoCache(), 0},
        {"ConnectionTimeout answers", app.ConnectionTimeout(), 60},
        {"ReplyRcvTimeout answers", app.ReplyRcvTimeout(), 60},
        {"CtlRcvTimeout answers", app.CtlRcvTimeout(), 60},
        {"DataRcvTimeout answers", app.DataRcvTimeout(), 60},
        {"CloseTimeout answers", app.CloseTimeout(), 60},
        {"TotalTimeout answers", app.TotalTimeout(), 0},
        {"DLRetry answers", app.DLRetry(), 1},
        {"LocalizeLink answers", app.LocalizeLink(), 0},
        {"stored RequisitesOffSite", v.RequisitesOffSite, -1},
        {"RequisitesOffSite answers", app.RequisitesOffSite(), 0},
        {"ReadableNames, so that existing mirrors keep their names", v.ReadableNames, 0},
        {"download filter off", app.UseExtFilter(), 0},
        {"files without extension downloaded", app.DLNoExt(), 1},
        {"exclusion filter off", app.UseUVExtFilter(), 0},
        {"exclusion skips no-extension files", app.NotDLNoExt(), 0},
        {"MUDrawType is Random", app.MUDrawType(), 1},
        {"MUDrawSpeed", app.MUDrawSpeed(), 5},
        {"PicChgInterval", app.PicChgInterval(), 5},
        {"IMGSW", app.IMGSW(), 1},
        {"PickupDisplay", v.PickupDisplay, 1},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.got, row.want) << row.name;
    EXPECT_EQ(app.ExtList(ExtKindHtml), "htm;html;shtml");
    EXPECT_EQ(app.ExtList(ExtKindImage), "gif;jpg;jpeg;bmp");
    EXPECT_EQ(app.ExtList(ExtKindAudio), "wav;aif;mid");
    EXPECT_EQ(app.ExtList(ExtKindOthers), "");
    EXPECT_EQ(app.UVExtList(ExtKindHtml), "");
    EXPECT_EQ(v.MirrorDir, folder() + "/Mirror/");
    EXPECT_EQ(v.PickupDir, folder() + "/Mirror/Pickup/");
    EXPECT_TRUE(QDir(QString::fromStdString(folder())).exists()) << "the program folder is created";

    // Only PickupDir is written at load.
    QSettings raw(QString::fromStdString(store()), QSettings::IniFormat);
    raw.beginGroup("Application Settings");
    EXPECT_EQ(raw.childKeys(), QStringList{"PickupDir"});
    EXPECT_EQ(raw.value("PickupDir").toString().toStdString(), folder() + "/Mirror/Pickup/");
}

TEST_F(SettingsTest, SavedValuesComeBackByteForByte)
{
    SettingsValues edited;
    edited.MirrorDir = "/m/\x83\x5C" "dir/"; // Shift-JIS with 0x5C as its second byte
    edited.PickupDir = "/p/";
    edited.ProxyName = "proxy.local";
    edited.password = "s\xE9" "cret";
    edited.LinkMax = 3;
    edited.download.use = 1;
    edited.download.lists[ExtKindHtml] = "htm";
    edited.exclusion.use = 0;
    edited.BGColor = 0x00112233;
    {
        AppSettings app(store(), folder());
        ASSERT_TRUE(app.LoadSettings());
        ASSERT_TRUE(app.SaveSettings(edited));
    }
    AppSettings again(store(), folder());
    ASSERT_TRUE(again.LoadSettings());
    EXPECT_EQ(again.values(), edited);
    EXPECT_EQ(again.DownloadFilter().lists[ExtKindHtml], "htm") << "stored lists once the filter is set";
    EXPECT_EQ(again.DownloadFilter().lists[ExtKindText], "");
}

TEST_F(SettingsTest, SaveBoundsEachValue)
{
    struct Row {
        const char* name;
        std::function<void(SettingsValues&)> edit;
        std::function<bool(const SettingsValues&)> check;
    };
    const Row rows[] = {
        {"link depth above 10 becomes 10", [](auto& v) { v.LinkMax = 25; }, [](auto& v) { return v.LinkMax == 10; }},
        {"interval below 5 becomes 5", [](auto& v) { v.PicChgInterval = 1; }, [](auto& v) { return v.PicChgInterval == 5; }},
        {"total time-out has no upper bound", [](auto& v) { v.TotalTimeout = 100000; }, [](auto& v) { return v.TotalTimeout == 100000; }},
        {"inherit passes unchanged", [](auto& v) { v.ConnectionTimeout = -1; }, [](auto& v) { return v.ConnectionTimeout == -1; }},
        {"time-out above an hour", [](auto& v) { v.DataRcvTimeout = 4000; }, [](auto& v) { return v.DataRcvTimeout == 3600; }},
        {"negative retries become 0", [](auto& v) { v.DLRetry = -7; }, [](auto& v) { return v.DLRetry == 0; }},
        {"redials at most 5", [](auto& v) { v.DialRetry = 9; }, [](auto& v) { return v.DialRetry == 5; }},
        {"picture width at most 640", [](auto& v) { v.MinPicWidth = 1000; }, [](auto& v) { return v.MinPicWidth == 640; }},
        {"picture height at most 480", [](auto& v) { v.MinPicHeight = 1000; }, [](auto& v) { return v.MinPicHeight == 480; }},
        {"speed at most 100", [](auto& v) { v.MUDrawSpeed = 101; }, [](auto& v) { return v.MUDrawSpeed == 100; }},
        {"proxy port is not bounded", [](auto& v) { v.ProxyPort = 99999; }, [](auto& v) { return v.ProxyPort == 99999; }},
        {"backslashes become slashes and a final slash is added",
         [](auto& v) { v.MirrorDir = "C:\\Web\\Mirror"; }, [](auto& v) { return v.MirrorDir == "C:/Web/Mirror/"; }},
        {"a Shift-JIS trail byte 0x5C is kept",
         [](auto& v) { v.PickupDir = "/a/\x95\x5C"; }, [](auto& v) { return v.PickupDir == "/a/\x95\x5C/"; }},
    };
    for (const Row& row : rows) {
        SettingsValues v;
        v.MirrorDir = v.PickupDir = "/x/";
        row.edit(v);
        ApplySaveBounds(v);
        EXPECT_TRUE(row.check(v)) << row.name;
    }
}

TEST_F(SettingsTest, InheritedLinkDepthIsSavedAsMinusOneAndAnswersZero)
{
    AppSettings app(store(), folder());
    ASSERT_TRUE(app.LoadSettings());
    SettingsValues v = app.values();
    v.LinkMax = -1;
    ASSERT_TRUE(app.SaveSettings(v));
    QSettings raw(QString::fromStdString(store()), QSettings::IniFormat);
    EXPECT_EQ(raw.value("Application Settings/LinkMax").toInt(), -1);
    EXPECT_EQ(app.LinkMax(), 0);
}

TEST(ExtensionList, MatchesWholePiecesIgnoringCase)
{
    struct Row {
        const char* list;
        const char* extension;
        bool match;
    };
    const Row rows[] = {
        {"GIF;Jpg", "gif", true},
        {"GIF;Jpg", "JPG", true},
        {"jpg ;gif", "jpg", false}, // the blank belongs to the piece
        {"wav;aif,mid", "mid", false}, // a comma does not separate
        {"wav;aif,mid", "aif,mid", true},
        {"htm;html", "ht", false},
        {"htm;;html", "", false}, // empty pieces never match
        {"", "", false},
        {"jpg;", "jpg", true},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ExtensionListMatches(row.list, row.extension), row.match) << row.list << " / " << row.extension;
}

TEST(Password, ScramblesThreeBytesPerByteAndComesBack)
{
    EXPECT_EQ(EncodePassword(""), "");
    EXPECT_EQ(EncodePassword("a"), std::string("\x72\xA6\x6B"));
    std::string all;
    for (int c = 0; c < 256; ++c)
        all.push_back(char(c));
    EXPECT_EQ(DecodePassword(EncodePassword(all)), all);
    EXPECT_EQ(DecodePassword(std::string("\x72\x00\x6B\x01", 4)), "a") << "middle byte and short tail ignored";
}

TEST_F(SettingsTest, SetByNameOverridesOneValueForThisRun)
{
    AppSettings app(store(), folder());
    ASSERT_TRUE(app.LoadSettings());
    struct Row {
        const char* name;
        const char* text;
        bool accepted;
    };
    const Row rows[] = {
        {"LinkMax", "25", true}, {"ProxyName", "p.local", true}, {"MirrorDir", "/srv\\m", true},
        {"MirrorDir", "mirror", false}, // under the current folder: refused
        {"NoSuchSetting", "1", false}, {"ProxyPort", "80x", false}, {"ProxyPort", "", false},
        {"AcceptUnverifiedCerts", "7", true}, {"MaxDownloads", "40", true}, {"UseHttp10", "1", true},
    };
    EXPECT_EQ(app.values().MaxDownloads, 5) << "five at a time unless set";
    EXPECT_EQ(app.UseHttp10(), 0) << "HTTP/1.1 and HTTP/2 unless set";
    EXPECT_EQ(app.values().AcceptUnverifiedCerts, 0) << "off unless asked for";
    for (const Row& row : rows)
        EXPECT_EQ(app.SetByName(row.name, row.text), row.accepted) << row.name << "=" << row.text;
    EXPECT_EQ(app.LinkMax(), 10);
    EXPECT_EQ(app.values().ProxyName, "p.local");
    EXPECT_EQ(app.values().MirrorDir, "/srv/m/");
    EXPECT_EQ(app.values().ProxyPort, 8080);
    EXPECT_EQ(app.values().AcceptUnverifiedCerts, 1) << "held to 0 or 1";
    EXPECT_EQ(app.values().MaxDownloads, 16) << "held to 1..16";
    EXPECT_EQ(app.UseHttp10(), 1);
    QSettings raw(QString::fromStdString(store()), QSettings::IniFormat);
    EXPECT_FALSE(raw.contains("Application Settings/LinkMax")) << "not written to the store";
}

TEST(ProgramFolder, FollowsXdgDataHome)
{
    const char* old = std::getenv("XDG_DATA_HOME");
    std::string saved = old ? old : "";
    ::setenv("XDG_DATA_HOME", "/tmp/xdg-data", 1);
    EXPECT_EQ(DefaultProgramFolder(), "/tmp/xdg-data/Ormbrook");
    ::setenv("XDG_DATA_HOME", "relative", 1);
    ::setenv("HOME", std::getenv("HOME") ? std::getenv("HOME") : "/h", 1);
    EXPECT_EQ(DefaultProgramFolder(), std::string(std::getenv("HOME")) + "/.local/share/Ormbrook");
    if (old)
        ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
}

TEST_F(SettingsTest, TheToggleCommandsWriteAtOnce)
{
    AppSettings app(store(), folder());
    ASSERT_TRUE(app.LoadSettings());
    ASSERT_TRUE(app.ToggleTimerValid());
    ASSERT_TRUE(app.SetPickupDisplay(2));
    AppSettings again(store(), folder());
    ASSERT_TRUE(again.LoadSettings());
    EXPECT_EQ(again.values().TimerValid, 0);
    EXPECT_EQ(again.values().PickupDisplay, 2);
}
