// The dialogs on the offscreen platform: each is filled, OK is pressed, and
// what was stored is checked - the settings file, the item, the lists.

#include "window_fixture.h"

#include "crawl/project_item.h"
#include "shell/autostart.h"
#include "windows/item_properties.h"
#include "windows/main_frame.h"
#include "windows/picture_wiring.h"
#include "windows/project_session.h"
#include "windows/settings_dialogs.h"
#include "windows/settings_pages.h"
#include "windows/small_dialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <thread>

using namespace ormbrook;
using namespace ormbrook::test;

namespace {

QByteArray FileBytes(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Presses OK the way EditSettings does and reads the stored values back.
SettingsValues OkAndReload(WindowFixture& f, SettingsSheet& sheet)
{
    sheet.accept();
    EXPECT_EQ(sheet.result(), sheet.result());
    f.settings->SaveSettings(sheet.result());
    AppSettings reread(f.scratch.file("settings.conf"), f.scratch.file("data"));
    reread.LoadSettings();
    return reread.values();
}

} // namespace

TEST(SettingsSheet, AFreshUserSeesTheDefaults)
{
    ScratchDir scratch;
    AppSettings fresh(scratch.file("fresh.conf"), scratch.file("data"));
    fresh.LoadSettings();
    ScriptedPrompter prompter;
    SettingsSheet sheet(fresh, &prompter);
    EXPECT_EQ(sheet.windowTitle(), QStringLiteral("Ormbrook Property"));
    ASSERT_EQ(sheet.tabs()->count(), 6);
    const char* captions[] = {"フォルダ他", "接続", "巡回", "ﾀﾞｳﾝﾛｰﾄﾞするﾌｧｲﾙの拡張子", "ﾀﾞｳﾝﾛｰﾄﾞしないﾌｧｲﾙの拡張子",
                              "ｽﾗｲﾄﾞｼｮｳの設定"};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(sheet.tabs()->tabText(i), QString::fromUtf8(captions[i]));
    EXPECT_TRUE(sheet.timerBox()->isChecked());
    EXPECT_EQ(sheet.proxyPortEdit()->text(), "8080");
    EXPECT_EQ(sheet.redialEdit()->text(), "2");
    EXPECT_FALSE(sheet.acceptUnverifiedBox()->isChecked()) << "certificates are verified";
    EXPECT_EQ(sheet.maxDownloadsEdit()->text(), "5");
    EXPECT_FALSE(sheet.readableNamesBox()->isChecked()) << "existing mirrors keep their names";
    EXPECT_TRUE(sheet.pickupEdit()->text().endsWith("Mirror/Pickup/"));
    CrawlOptionsPage* crawl = sheet.crawlPage();
    EXPECT_TRUE(crawl->inheritBox(CrawlOptionsPage::LinkMax)->isChecked());
    EXPECT_EQ(crawl->linkMaxEdit()->text(), "0");
    EXPECT_FALSE(crawl->linkMaxEdit()->isEnabled());
    EXPECT_EQ(crawl->timeoutEdit(0)->text(), "60");
    EXPECT_EQ(crawl->timeoutEdit(5)->text(), "0");
    EXPECT_EQ(crawl->retryEdit()->text(), "1");
    EXPECT_EQ(crawl->areaGroup()->checkedId(), 0);
    EXPECT_TRUE(crawl->inheritBox(CrawlOptionsPage::Http10)->isChecked());
    EXPECT_FALSE(crawl->http10Box()->isChecked()) << "HTTP/1.1 unless asked";
    EXPECT_FALSE(crawl->http10Box()->isEnabled());
    EXPECT_TRUE(crawl->inheritBox(CrawlOptionsPage::OffSite)->isChecked());
    EXPECT_FALSE(crawl->offSiteBox()->isChecked());
    EXPECT_FALSE(crawl->offSiteBox()->isEnabled());
    EXPECT_TRUE(sheet.downloadPage()->inheritBox()->isChecked());
    EXPECT_FALSE(sheet.downloadPage()->useBox()->isEnabled());
    EXPECT_EQ(sheet.downloadPage()->listEdit(ExtKindHtml)->text(), "htm;html;shtml");
    EXPECT_EQ(sheet.slidePage()->effectList()->currentRow(), 1) << "Random";
    EXPECT_EQ(sheet.slidePage()->speedEdit()->text(), "5");
    EXPECT_EQ(sheet.slidePage()->intervalEdit()->text(), "5");
    EXPECT_EQ(sheet.slidePage()->pickupDisplay(), 1);
}

TEST(SettingsSheet, OkBoundsWhatWasTyped)
{
    WindowFixture f;
    SettingsSheet sheet(*f.settings, &f.prompter);
    CrawlOptionsPage* crawl = sheet.crawlPage();
    crawl->inheritBox(CrawlOptionsPage::LinkMax)->setChecked(false);
    EXPECT_TRUE(crawl->linkMaxEdit()->isEnabled());
    crawl->linkMaxEdit()->setText("25");
    crawl->inheritBox(CrawlOptionsPage::T5)->setChecked(false);
    crawl->timeoutEdit(5)->setText("100000");
    crawl->inheritBox(CrawlOptionsPage::T0)->setChecked(false);
    crawl->timeoutEdit(0)->setText("5000");
    crawl->inheritBox(CrawlOptionsPage::Retry)->setChecked(false);
    crawl->retryEdit()->setText("-1");
    sheet.slidePage()->intervalEdit()->setText("1");
    sheet.slidePage()->speedEdit()->setText("500");
    sheet.redialEdit()->setText("9");
    sheet.mirrorEdit()->setText("C:\\Web\\Mirror");
    sheet.acceptUnverifiedBox()->setChecked(true);
    sheet.maxDownloadsEdit()->setText("40");
    crawl->inheritBox(CrawlOptionsPage::Http10)->setChecked(false);
    crawl->http10Box()->setChecked(true);
    crawl->inheritBox(CrawlOptionsPage::OffSite)->setChecked(false);
    crawl->offSiteBox()->setChecked(true);
    const SettingsValues v = OkAndReload(f, sheet);
    EXPECT_EQ(sheet.result().LinkMax, 25) << "as typed; saving bounds";
    EXPECT_EQ(v.LinkMax, 10);
    EXPECT_EQ(v.TotalTimeout, 100000);
    EXPECT_EQ(v.ConnectionTimeout, 3600);
    EXPECT_EQ(v.DLRetry, -1) << "-1 passes";
    EXPECT_EQ(v.PicChgInterval, 5);
    EXPECT_EQ(v.MUDrawSpeed, 100);
    EXPECT_EQ(v.DialRetry, 5);
    // Each field that is bounded says its bounds.
    EXPECT_TRUE(sheet.slidePage()->intervalEdit()->toolTip().startsWith("5 から 86400 まで"));
    EXPECT_TRUE(crawl->linkMaxEdit()->toolTip().startsWith("0 から 10 まで"));
    EXPECT_TRUE(crawl->timeoutEdit(5)->toolTip().isEmpty()) << "the total time-out has no bound";
    EXPECT_TRUE(sheet.redialEdit()->toolTip().startsWith("0 から 5 まで"));
    EXPECT_EQ(v.MirrorDir, "C:/Web/Mirror/");
    EXPECT_EQ(v.AcceptUnverifiedCerts, 1);
    EXPECT_EQ(v.MaxDownloads, 16) << "同時ダウンロード数 is held to 1..16";
    EXPECT_EQ(v.UseHttp10, 1);
    EXPECT_EQ(v.RequisitesOffSite, 1);
    EXPECT_EQ(v.RenewalType, -1) << "an option left to inherit stays -1";
}

TEST(SettingsSheet, CancelAndANonIntegerStoreNothing)
{
    WindowFixture f;
    const QByteArray before = FileBytes(f.scratch.file("settings.conf"));
    {
        SettingsSheet sheet(*f.settings, &f.prompter);
        sheet.proxyBox()->setChecked(true);
        sheet.proxyNameEdit()->setText("proxy.example");
        sheet.reject();
        EXPECT_EQ(sheet.result(), f.settings->values());
    }
    EXPECT_EQ(FileBytes(f.scratch.file("settings.conf")), before);

    SettingsSheet sheet(*f.settings, &f.prompter);
    sheet.show();
    sheet.proxyPortEdit()->setText("80x");
    sheet.accept();
    EXPECT_TRUE(sheet.isVisible()) << "the page stays open";
    EXPECT_EQ(sheet.tabs()->currentIndex(), 1);
    EXPECT_EQ(f.prompter.told.back(), QStringLiteral("整数を入力してください。"));
    sheet.proxyPortEdit()->setText("3128");
    sheet.accept();
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(sheet.result().ProxyPort, 3128);
}

// Switched on for a mirror with files under the escaped names, the readable
// names say that those files will be fetched again.
TEST(SettingsSheet, ReadableNamesSayWhatBecomesOfFilesUnderTheOldNames)
{
    for (const bool oldNames : {false, true}) {
        WindowFixture f;
        const std::string page = f.settings->values().MirrorDir + "P/site/" + (oldNames ? "[e3[83[9a.html" : "a.html");
        QDir().mkpath(QString::fromStdString(page.substr(0, page.rfind('/'))));
        std::ofstream(page) << "x";
        SettingsSheet sheet(*f.settings, &f.prompter);
        EXPECT_TRUE(sheet.renamedNote()->isHidden());
        sheet.readableNamesBox()->setChecked(true);
        EXPECT_EQ(sheet.renamedNote()->isHidden(), !oldNames) << oldNames;
        EXPECT_EQ(sheet.renamedNote()->text(), QString::fromUtf8(kRenamedFilesNote));
        sheet.readableNamesBox()->setChecked(false);
        EXPECT_TRUE(sheet.renamedNote()->isHidden());
        sheet.readableNamesBox()->setChecked(true);
        EXPECT_EQ(OkAndReload(f, sheet).ReadableNames, 1);
    }
}

TEST(SettingsSheet, LoginStartWritesAndRemovesTheAutostartEntry)
{
    WindowFixture f; // XDG_CONFIG_HOME in its scratch folder
    const std::string entry = f.scratch.file("XDG_CONFIG_HOME") + "/autostart/ormbrook.desktop";
    ASSERT_EQ(AutostartEntryPath(), entry);
    for (const bool on : {true, true, false, false}) {
        SettingsSheet sheet(*f.settings, &f.prompter);
        EXPECT_EQ(sheet.autostartBox()->isChecked(), QFile::exists(QString::fromStdString(entry)));
        sheet.autostartBox()->setChecked(on);
        sheet.notifyBox()->setChecked(on);
        EXPECT_EQ(OkAndReload(f, sheet).NotifyCrawlEnd, on ? 1 : 0);
        ApplyAutostart(sheet.autostartResult(), "/opt/a \"b\"/qry", &f.prompter, &sheet);
        EXPECT_EQ(QFile::exists(QString::fromStdString(entry)), on);
        if (on)
            EXPECT_TRUE(FileBytes(entry).contains("\nExec=env ORMBROOK_NO_SPLASH=1 \"/opt/a \\\"b\\\"/qry\"\n"))
                << FileBytes(entry).toStdString();
    }
    EXPECT_TRUE(f.prompter.told.empty());
}

TEST(SettingsSheet, InheritBoxesOfTheFilterPages)
{
    WindowFixture f;
    SettingsSheet sheet(*f.settings, &f.prompter);
    ExtFilterPage* page = sheet.downloadPage();
    page->inheritBox()->setChecked(false);
    EXPECT_TRUE(page->useBox()->isChecked()) << "a filter never set starts switched on";
    EXPECT_TRUE(page->listEdit(ExtKindImage)->isEnabled());
    EXPECT_EQ(page->listEdit(ExtKindHtml)->text(), "") << "the stored lists come back";
    page->useBox()->setChecked(false);
    EXPECT_FALSE(page->listEdit(ExtKindImage)->isEnabled());
    EXPECT_FALSE(page->noExtBox()->isEnabled());
    page->useBox()->setChecked(true);
    page->listEdit(ExtKindImage)->setText("jpg;png");
    SettingsValues v = OkAndReload(f, sheet);
    EXPECT_EQ(v.download.use, 1);
    EXPECT_EQ(v.download.lists[ExtKindImage], "jpg;png");

    SettingsSheet again(*f.settings, &f.prompter);
    again.downloadPage()->inheritBox()->setChecked(true);
    EXPECT_EQ(again.downloadPage()->listEdit(ExtKindHtml)->text(), "htm;html;shtml") << "the answer for -1";
    v = OkAndReload(f, again);
    EXPECT_EQ(v.download.use, -1);
}

TEST(ItemProperties, ShowsWhatTheItemInheritsAndStoresMinusOneForInherit)
{
    WindowFixture f;
    const std::string path = f.WriteProject(
        "P", "ProjectDefault\n{\n\tGraphMax=3\n}\nFolder=\"F\"\n{\n\tRecord\n\t{\n\t\tURL=\"http://site/\"\n\t}\n}\n");
    ProjectSession session(*f.settings, f.mirrorLock);
    ASSERT_TRUE(session.Open(path));
    ProjectItem* folder = session.document().Write().root().firstChild;
    ProjectItem* record = folder->firstChild;
    ItemPropertiesValues values = LoadItemProperties(f.context, session, *record);
    EXPECT_EQ(values.name, "http://site/");
    EXPECT_FALSE(values.timer.enabled);
    EXPECT_EQ(values.timer.kind, TimerMonthly);
    EXPECT_FALSE(values.slide.enabled);
    EXPECT_EQ(values.slide.interval, 5) << "the settings' answer";

    CrawlOptionValues inherited = EffectiveCrawlOptions(*f.settings);
    inherited.linkMax = 3;
    ItemPropertiesDialog dialog(values, inherited, f.settings->DownloadFilter(), f.settings->ExclusionFilter(),
                                ItemRecord, &f.prompter);
    EXPECT_EQ(dialog.crawl()->linkMaxEdit()->text(), "3") << "what the root gives";
    EXPECT_TRUE(dialog.crawl()->inheritBox(CrawlOptionsPage::LinkMax)->isChecked());
    dialog.crawl()->inheritBox(CrawlOptionsPage::Retry)->setChecked(false);
    dialog.crawl()->retryEdit()->setText("9");
    dialog.timer()->enabledBox()->setChecked(true);
    dialog.timer()->kindGroup()->button(TimerInterval)->click();
    EXPECT_TRUE(dialog.timer()->intervalEdit()->isEnabled());
    EXPECT_FALSE(dialog.timer()->hourEdit()->isEnabled());
    dialog.timer()->intervalEdit()->setText("5");
    dialog.slide()->showBox()->setChecked(true);
    dialog.pilotGroup()->button(PilotSelected)->setChecked(true);
    dialog.crawl()->inheritBox(CrawlOptionsPage::OffSite)->setChecked(false);
    dialog.crawl()->offSiteBox()->setChecked(true);
    dialog.nameEdit()->setText("http://site/top.html");
    dialog.accept();
    ASSERT_EQ(dialog.result().crawl.linkMax, -1);
    ASSERT_TRUE(ApplyItemProperties(f.context, session, *record, dialog.result()));

    EXPECT_EQ(record->GraphMax, -1);
    EXPECT_EQ(record->DLoadRetry, 5) << "retries 0..5";
    EXPECT_EQ(record->PilotType, PilotSelected);
    EXPECT_EQ(record->RequisitesOffSite, 1);
    EXPECT_EQ(record->url, "http://site/top.html");
    ASSERT_EQ(f.timers.entries().size(), 1u);
    EXPECT_EQ(f.timers.entries()[0].kind, TimerInterval);
    EXPECT_EQ(f.timers.entries()[0].intervalMinutes, 10) << "an interval of 5 is stored as 10";
    EXPECT_EQ(f.timers.entries()[0].url, "http://site/top.html");
    ASSERT_EQ(f.slides.entries().size(), 1u);
    EXPECT_EQ(f.slides.entries()[0].linkDepth, 3);

    // Switched off again, both entries go.
    values = LoadItemProperties(f.context, session, *record);
    EXPECT_TRUE(values.timer.enabled);
    values.timer.enabled = false;
    values.slide.enabled = false;
    ApplyItemProperties(f.context, session, *record, values);
    EXPECT_TRUE(f.timers.entries().empty());
    EXPECT_TRUE(f.slides.entries().empty());
}

// Where a start URL is typed, one that can't be crawled is said at once;
// OK keeps the dialog open with what was typed, to be mended.
TEST(UrlDialogs, AURLThatCannotBeCrawledIsSaidAndKept)
{
    WindowFixture f;
    const QString bad = QStringLiteral("htp://x/");
    const QString said = QStringLiteral("cannot crawl \"htp://x/\": the scheme is not http or https");

    AddItemDialog add(nullptr, true);
    add.show();
    EXPECT_TRUE(add.note()->isHidden());
    add.edit()->setText(bad);
    EXPECT_FALSE(add.note()->isHidden());
    EXPECT_EQ(add.note()->text(), said);
    add.accept();
    EXPECT_TRUE(add.isVisible());
    EXPECT_EQ(add.text(), bad);
    add.edit()->setText(QStringLiteral("http://例え.テスト/"));
    EXPECT_TRUE(add.note()->isHidden());
    add.accept();
    EXPECT_FALSE(add.isVisible());
    AddItemDialog folder(nullptr, false);
    EXPECT_EQ(folder.note(), nullptr) << "a folder's name is no URL";

    ProjectSession session(*f.settings, f.mirrorLock);
    ASSERT_TRUE(session.Open(f.WriteProject("P", "Record\n{\n\tURL=\"http://site/\"\n}\n")));
    ProjectItem* record = session.document().Write().root().firstChild;
    std::unique_ptr<ItemPropertiesDialog> made = MakeItemPropertiesDialog(f.context, session, *record, nullptr);
    ItemPropertiesDialog& sheet = *made;
    EXPECT_TRUE(sheet.urlNote()->isHidden());
    sheet.show();
    sheet.tabs()->setCurrentIndex(2);
    sheet.nameEdit()->setText(bad);
    EXPECT_EQ(sheet.urlNote()->text(), said);
    sheet.accept();
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(sheet.tabs()->currentIndex(), 0);
    EXPECT_EQ(f.prompter.told.back(), said);
    EXPECT_EQ(sheet.nameEdit()->text(), bad);
    sheet.nameEdit()->setText(QStringLiteral("https://site/"));
    sheet.accept();
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(sheet.result().name, "https://site/");
}

TEST(TimerDialogs, TheSettingDialogEnablesTheKindsFieldsAndBoundsThem)
{
    ScriptedPrompter prompter;
    TimerEntry entry;
    entry.kind = TimerDaily;
    entry.hour = 7;
    TimerSettingDialog dialog(entry, &prompter);
    struct Case {
        int kind;
        bool day, weekday, time, interval;
    } cases[] = {
        {TimerMonthly, true, false, true, false},
        {TimerWeekly, false, true, true, false},
        {TimerDaily, false, false, true, false},
        {TimerInterval, false, false, false, true},
    };
    for (const Case& c : cases) {
        dialog.fields()->kindGroup()->button(c.kind)->click();
        EXPECT_EQ(dialog.fields()->dayEdit()->isEnabled(), c.day) << c.kind;
        EXPECT_EQ(dialog.fields()->weekdayBox()->isEnabled(), c.weekday) << c.kind;
        EXPECT_EQ(dialog.fields()->hourEdit()->isEnabled(), c.time) << c.kind;
        EXPECT_EQ(dialog.fields()->minuteEdit()->isEnabled(), c.time) << c.kind;
        EXPECT_EQ(dialog.fields()->intervalEdit()->isEnabled(), c.interval) << c.kind;
    }
    dialog.fields()->kindGroup()->button(TimerMonthly)->click();
    dialog.fields()->dayEdit()->setText("0");
    dialog.fields()->hourEdit()->setText("30");
    dialog.accept();
    EXPECT_EQ(dialog.result().kind, TimerMonthly);
    EXPECT_EQ(dialog.result().day, 1);
    EXPECT_EQ(dialog.result().hour, 23);
}

TEST(ListDialogs, DeleteAndChangeThenCloseSaveTheFilesByteExact)
{
    WindowFixture f;
    for (int i = 0; i < 2; ++i) {
        TimerEntry t;
        t.file = "/p/P" + std::to_string(i) + ".prj";
        t.folder = "P" + std::to_string(i);
        t.kind = TimerDaily;
        t.hour = 7;
        t.minute = 30;
        f.timers.entries().push_back(t);
        SlideEntry s;
        s.file = t.file;
        s.folder = t.folder;
        f.slides.entries().push_back(s);
    }
    TimerListDialog timers(f.timers, &f.prompter);
    ASSERT_EQ(timers.list()->topLevelItemCount(), 2);
    EXPECT_EQ(timers.list()->topLevelItem(0)->text(0), "07:30");
    timers.DeleteSelected();
    EXPECT_EQ(f.timers.entries().size(), 2u) << "nothing without a selection";
    timers.list()->setCurrentItem(timers.list()->topLevelItem(0));
    timers.DeleteSelected();
    timers.list()->setCurrentItem(timers.list()->topLevelItem(0));
    timers.edit = [](const TimerEntry& e) {
        TimerEntry changed = e;
        changed.kind = TimerWeekly;
        changed.weekday = 2;
        return std::optional<TimerEntry>(changed);
    };
    timers.ChangeSelected();
    EXPECT_EQ(timers.list()->topLevelItem(0)->text(0), "Wed 07:30");
    ASSERT_TRUE(f.timers.Save(f.context.listBase));
    EXPECT_EQ(FileBytes(f.context.listBase + ".tmf"), QByteArray("/p/P1.prj|P1|||Weekly|Wed:07:30|Default\r\n"));

    SlideListDialog slides(f.slides, &f.prompter);
    slides.list()->setCurrentItem(slides.list()->topLevelItem(1));
    slides.DeleteSelected();
    slides.list()->setCurrentItem(slides.list()->topLevelItem(0));
    slides.edit = [](const SlideSettings& s) {
        SlideSettings changed = s;
        changed.speed = 500;
        changed.interval = 1;
        return std::optional<SlideSettings>(changed);
    };
    slides.ChangeSelected();
    ASSERT_TRUE(f.slides.Save(f.context.listBase));
    EXPECT_EQ(FileBytes(f.context.listBase + ".ssf"), QByteArray("/p/P0.prj|P0|||0|1|100|0|0|0|1|5\r\n"));
}

// The lists take the focus when they open, and Qt then makes the first row
// current without selecting it: "削除" and "設定変更" must still do nothing
// until the user picks a row. Driven through the menu action and the
// dialogs' own buttons.
TEST(ListDialogs, TheButtonsDoNothingWithoutASelection)
{
    WindowFixture f;
    TimerEntry t;
    t.file = "/p/P.prj";
    t.folder = "P";
    t.kind = TimerDaily;
    f.timers.entries().push_back(t);
    SlideEntry s;
    s.file = t.file;
    s.folder = t.folder;
    f.slides.entries().push_back(s);
    ASSERT_TRUE(f.timers.Save(f.context.listBase));
    ASSERT_TRUE(f.slides.Save(f.context.listBase));
    const QByteArray timerBytes = FileBytes(f.context.listBase + ".tmf");
    const QByteArray slideBytes = FileBytes(f.context.listBase + ".ssf");

    CMainFrame frame(f.context);
    for (CommandId id : {CmdTimerList, CmdSlideShowList}) {
        SCOPED_TRACE(id);
        int nestedDialogs = 0;
        InNextModal([&](QWidget* dialog) {
            auto* list = dialog->findChild<QTreeWidget*>();
            ASSERT_NE(list, nullptr);
            list->selectionModel()->setCurrentIndex(list->model()->index(0, 0), QItemSelectionModel::NoUpdate);
            ASSERT_TRUE(list->selectedItems().isEmpty());
            QPushButton* buttons[3] = {};
            for (QPushButton* b : dialog->findChildren<QPushButton*>())
                for (int i = 0; i < 3; ++i)
                    if (b->text() == QStringList{"削除", "設定変更", "閉じる"}[i])
                        buttons[i] = b;
            ASSERT_TRUE(buttons[0] && buttons[1] && buttons[2]);
            // An edit sheet that opens anyway is counted and dismissed.
            QPointer<QTimer> watch = InNextModal([&](QWidget* nested) {
                ++nestedDialogs;
                static_cast<QDialog*>(nested)->reject();
            }, dialog);
            buttons[1]->click();
            buttons[0]->click();
            delete watch.data();
            buttons[2]->click();
        });
        frame.Action(id)->trigger();
        EXPECT_EQ(nestedDialogs, 0) << "設定変更 opened an edit sheet";
    }
    EXPECT_EQ(FileBytes(f.context.listBase + ".tmf"), timerBytes);
    EXPECT_EQ(FileBytes(f.context.listBase + ".ssf"), slideBytes);
}

// A page walk that meets three unreadable pictures shows three boxes one
// after the other, waiting at each, never one box inside another.
TEST(PictureMessages, OneBoxAtATimeAndTheWalkWaits)
{
    struct ModalPrompter : ScriptedPrompter {
        int depth = 0, deepest = 0;
        void Tell(QWidget* parent, const QString& text, QMessageBox::Icon icon) override
        {
            ScriptedPrompter::Tell(parent, text, icon);
            deepest = std::max(deepest, ++depth);
            // A box's own loop, as exec() runs one, until the user closes it.
            QEventLoop loop;
            QTimer::singleShot(30, &loop, &QEventLoop::quit);
            loop.exec();
            --depth;
        }
    } prompter;
    PictureMessages messages(prompter);
    std::atomic<int> returned {0};
    std::thread walk([&] {
        for (const char* name : {"a", "b", "c"}) {
            messages.Tell(std::string("JPEG :\nCan't open /p/") + name + ".jpg\n");
            ++returned;
        }
    });
    ASSERT_TRUE(WaitUntil([&] { return returned == 3; }));
    walk.join();
    EXPECT_EQ(prompter.deepest, 1);
    ASSERT_EQ(prompter.told.size(), 3);
    EXPECT_TRUE(prompter.told[2].contains("/p/c.jpg"));
    messages.Stop();
    messages.Tell("after the end"); // returns at once, shows nothing
    EXPECT_EQ(prompter.told.size(), 3);
}
