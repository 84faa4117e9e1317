// The dialogs the screenshots show, opened without running their own loop.

#include "crawl/project_item.h"
#include "windows/child_frame.h"
#include "windows/desktop_program.h"
#include "windows/item_properties.h"
#include "windows/project_session.h"
#include "windows/settings_dialogs.h"
#include "windows/settings_pages.h"
#include "windows/small_dialogs.h"

#include <QFileDialog>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTabWidget>

#include <functional>

using namespace ormbrook;

void SaveDialogs(DesktopProgram& program, CChildFrame& child, const std::function<void(QWidget*, const char*)>& save)
{
    AddItemDialog add(&child);
    add.setText(QStringLiteral("http://www.example.com/"));
    save(&add, "dialog_add_item");
    AddItemDialog url(&child, true);
    url.setText(QStringLiteral("htp://www.example.com/"));
    save(&url, "dialog_add_url_note");
    MirrorFilesDialog files(&child);
    save(&files, "dialog_mirror_files");
    // Qt's own file dialog, as "名前を付けて保存" opens it, in Japanese.
    QFileDialog saveAs(&child, QStringLiteral("名前を付けて保存"),
                       QString::fromStdString(program.settings().values().MirrorDir),
                       QStringLiteral("巡回設定 ﾌｧｲﾙ (*.prj)"));
    saveAs.setAcceptMode(QFileDialog::AcceptSave);
    saveAs.resize(760, 460);
    save(&saveAs, "dialog_save_as");

    SettingsSheet sheet(program.settings(), nullptr, nullptr, &child);
    const char* pages[] = {"settings_1_folders", "settings_2_connection", "settings_3_crawl",
                           "settings_4_download", "settings_5_exclusion", "settings_6_slideshow"};
    for (int i = 0; i < 6; ++i) {
        sheet.tabs()->setCurrentIndex(i);
        save(&sheet, pages[i]);
    }
    // The readable names switched on for a mirror with a file under the
    // escaped names: the sheet says what becomes of it.
    {
        const QString oldName = QString::fromStdString(program.settings().values().MirrorDir) + "Demo/old/";
        QDir().mkpath(oldName);
        QFile(oldName + "[e3[83[9a.html").open(QIODevice::WriteOnly);
        sheet.tabs()->setCurrentIndex(0);
        sheet.readableNamesBox()->setChecked(true);
        save(&sheet, "settings_1_folders_readable");
        QDir(oldName).removeRecursively();
    }

    // A timer and a slide-show entry for the demo's first URL item.
    ProjectItem* record = nullptr;
    for (ProjectItem* f = child.session().document().Write().root().firstChild; f && !record; f = f->next)
        record = f->kind == ItemRecord ? f : f->firstChild;
    if (record) {
        TimerSettings timer;
        timer.enabled = true;
        timer.kind = TimerWeekly;
        timer.weekday = 2;
        timer.hour = 7;
        timer.minute = 30;
        program.timers().SetItemTimer(child.session().filePath(), FolderPath(*record), record->url, timer);
        SlideSettings slide;
        slide.enabled = true;
        slide.effect = 4;
        program.slides().SetItemSlideShow(child.session().filePath(), FolderPath(*record), record->url, 3, slide);
        std::unique_ptr<ItemPropertiesDialog> item =
            MakeItemPropertiesDialog(program.context(), child.session(), *record, &child);
        const char* itemPages[] = {"item_1_timer_slideshow", "item_2_crawl", "item_3_download", "item_4_exclusion"};
        for (int i = 0; i < 4; ++i) {
            item->tabs()->setCurrentIndex(i);
            save(item.get(), itemPages[i]);
        }
        item->tabs()->setCurrentIndex(0);
        item->nameEdit()->setText(QStringLiteral("http://exa mple.com/"));
        save(item.get(), "item_1_url_note");
    }
    TimerListDialog timers(program.timers(), nullptr, &child);
    save(&timers, "timer_list");
    if (!program.timers().entries().empty()) {
        TimerSettingDialog timer(program.timers().entries().front(), nullptr, &child);
        save(&timer, "timer_setting");
    }
    SlideListDialog slides(program.slides(), nullptr, &child);
    save(&slides, "slideshow_list");
    SlideEntryDialog entry(SlideSettings{}, nullptr, &child);
    save(&entry, "slideshow_entry");
}
