// Pictures of the desktop program for the README and for looking at: the
// demo site is crawled in a project window on a private X server, and the
// windows are read back from the server into PNG files.
//
//   desktop_screenshots OUTPUT_DIR

#include "desktop/desktop_harness.h"
#include "windows/scripted_prompter.h"
#include "windows/small_dialogs.h"

#include "crawl/project_item.h"
#include "windows/child_frame.h"
#include "windows/crawl_status.h"
#include "windows/desktop_program.h"
#include "windows/main_frame.h"
#include "windows/project_tree_model.h"
#include "windows/project_views.h"
#include "windows/window_layout.h"

#include <QApplication>
#include <QDir>
#include <QMdiArea>
#include <QMdiSubWindow>

#include <cstdio>
#include <functional>

using namespace ormbrook;
using namespace ormbrook::test;

namespace {

QString outDir;
int failures = 0;

void Save(const QImage& image, const char* name)
{
    const QString file = outDir + "/" + QString::fromLatin1(name) + ".png";
    if (image.isNull() || !image.save(file)) {
        std::fprintf(stderr, "screenshots: %s failed\n", name);
        ++failures;
        return;
    }
    std::printf("%s\n", file.toLocal8Bit().constData());
}

// Shows a top-level window beside the main window, waits for it to be drawn
// and saves it.
void SaveWindow(const XvfbDisplay& display, QWidget* window, const char* name)
{
    window->move(40, 40);
    window->show();
    WaitFor([&] { return window->isVisible(); }, 2000);
    WaitFor([] { return false; }, 400);
    Save(GrabWidget(display, *window), name);
    window->hide();
}

} // namespace

// Each dialog's picture, taken by the dialogs' own code (see the dialogs).
void SaveDialogs(DesktopProgram& program, CChildFrame& child,
                 const std::function<void(QWidget*, const char*)>& save);
// The slide window, the picture panel and a frame of the screen saver.
void SavePictures(DesktopProgram& program, const XvfbDisplay& display, const std::string& binaryDir,
                  const std::function<void(const QImage&, const char*)>& save);

int main(int argc, char** argv)
{
    outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    ScratchDir scratch;
    XvfbDisplay display;
    std::string error;
    if (!PrepareDesktopProcess(display, scratch, &error)) {
        std::fprintf(stderr, "screenshots: %s\n", error.c_str());
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ormbrook::LoadQtTranslations(app);
    QDir().mkpath(outDir);
    DemoSite site;
    if (!site.Start(scratch, &error)) {
        std::fprintf(stderr, "screenshots: nginx: %s\n", error.c_str());
        return 1;
    }

    DesktopProgram program;
    DesktopProgram::Options options;
    options.project = site.project;
    options.splash = false;
    options.slideWindowProgram = std::string(ORMBROOK_BINARY_DIR) + "/apps/qrysw";
    // The pictures are taken unattended: no question waits for an answer.
    ScriptedPrompter prompter;
    if (program.Start(options, &prompter) != DesktopProgram::StartResult::Running) {
        std::fprintf(stderr, "screenshots: the program did not start\n");
        return 1;
    }
    CMainFrame& frame = *program.mainFrame();
    frame.setGeometry(0, 0, 1100, 760);
    if (!frame.isVisible())
        frame.ToggleWindow();
    WaitFor([&] { return frame.isVisible(); }, 3000);
    CChildFrame* child = frame.ActiveChild();
    if (!child) {
        std::fprintf(stderr, "screenshots: no project window\n");
        return 1;
    }
    if (auto* sub = qobject_cast<QMdiSubWindow*>(child->parentWidget()))
        sub->showMaximized();
    frame.RunCommand(CmdCrawl);
    WaitFor([&] { return !child->crawling(); }, 60000);

    // The record opened in the tree, its files in the list.
    ProjectTreeModel& model = child->treeModel();
    QModelIndex record;
    std::function<void(const QModelIndex&)> find = [&](const QModelIndex& parent) {
        for (int r = 0; r < model.rowCount(parent) && !record.isValid(); ++r) {
            const QModelIndex index = model.index(r, 0, parent);
            if (model.KindAt(index) == NodeKind::Record)
                record = index;
            else
                find(index);
        }
    };
    find(model.index(0, 0));
    if (record.isValid()) {
        child->linkView().expand(record);
        child->linkView().setCurrentIndex(record);
        WaitFor([&] { return model.rowCount(record) > 0; }, 5000);
    }
    WaitFor([] { return false; }, 600);
    Save(GrabWidget(display, frame), "main_window");
    Save(GrabWidget(display, *child), "project_window");

    // The crawl's failures, as the 巡回 menu shows them.
    frame.RunCommand(CmdFailedUrls);
    if (QWidget* failed = child->failedUrlsDialog())
        SaveWindow(display, failed, "failed_urls");

    // A project window that is not maximised, on a small and on a large screen.
    if (auto* sub = qobject_cast<QMdiSubWindow*>(child->parentWidget())) {
        for (const QSize size : {QSize(800, 600), QSize(1280, 900)}) {
            frame.setGeometry(0, 0, size.width(), size.height());
            sub->showNormal();
            WaitFor([] { return false; }, 200);
            const QSize area = frame.centralWidget()->size();
            const ScreenRect place = NewProjectWindowPlace(area.width(), area.height(), 0);
            sub->setGeometry(place.left, place.top, place.width, place.height);
            WaitFor([] { return false; }, 600);
            Save(GrabWidget(display, frame), size.width() == 800 ? "main_window_800x600" : "main_window_1280x900");
        }
        frame.setGeometry(0, 0, 1100, 760);
        sub->showMaximized();
    }

    SaveDialogs(program, *child, [&](QWidget* window, const char* name) { SaveWindow(display, window, name); });
    SavePictures(program, display, ORMBROOK_BINARY_DIR, [](const QImage& image, const char* name) { Save(image, name); });

    frame.SystemClose();
    WaitFor([&] { return !frame.isVisible(); }, 5000);
    program.Finish();
    return failures ? 1 : 0;
}
