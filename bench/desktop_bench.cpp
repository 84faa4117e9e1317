// The desktop program's responsiveness, on the offscreen platform:
//  - StartToTray: from an empty process with a QApplication to the tray
//    icon shown (goal: under 300 ms);
//  - ExpandRecord: a URL item with 20,000 stored files, from the expand to
//    the first rows shown and to the whole listing (goal: under 300 ms);
//  - CrawlStall: the longest time the user-interface thread could not run
//    a 1 ms timer while a project window crawls a 2,000-page site served by
//    nginx (goal: under 50 ms). This is event-loop latency, measured by the
//    lateness of the timer, not the duration of anything in particular.

#include "crawl/settings.h"
#include "common/messages.h"
#include "crawl/download_manager.h"
#include "engine/ws_init.h"
#include "engine/ws_thread.h"
#include "pictures/picture_distribution.h"
#include "shell/slide_show_list.h"
#include "shell/timer_doc.h"
#include "support/nginx_server.h"
#include "support/scratch_dir.h"
#include "windows/child_frame.h"
#include "windows/crawl_status.h"
#include "windows/desktop_program.h"
#include "windows/main_frame.h"
#include "windows/project_session.h"
#include "windows/project_tree_model.h"
#include "windows/project_views.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <fstream>

using namespace ormbrook;
using namespace ormbrook::test;

namespace {

void Isolate(const ScratchDir& scratch)
{
    // No bus of the machine: the program finds no NetworkManager there.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "disabled:", 1);
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
        QDir().mkpath(QString::fromStdString(scratch.file(name)));
        ::setenv(name, scratch.file(name).c_str(), 1);
    }
}

bool Spin(const std::function<bool()>& done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

struct Context {
    ScratchDir scratch;
    std::unique_ptr<AppSettings> settings;
    QMutex mirrorLock;
    CTimerDoc timers;
    CSSDoc slides;
    CWSInit init;
    std::unique_ptr<CWSThread> engine;
    NoPictureDistribution pictures;
    Prompter prompter;
    DesktopContext context;

    Context()
    {
        Isolate(scratch);
        settings = std::make_unique<AppSettings>(scratch.file("settings.conf"), scratch.file("data"));
        settings->LoadSettings();
        SettingsValues v = settings->values();
        v.MirrorDir = scratch.file("mirror/");
        settings->SaveSettings(v);
        engine = std::make_unique<CWSThread>(init);
        engine->SetHandler([](uint32_t message, uintptr_t, std::unique_ptr<MessageRecord> record) {
            if (message == MsgEngineCreateManager)
                CreateManagerFor(std::move(record));
        });
        engine->Start();
        context.settings = settings.get();
        context.mirrorLock = &mirrorLock;
        context.timers = &timers;
        context.slides = &slides;
        context.engine = engine.get();
        context.services.settings = settings.get();
        context.pictures = &pictures;
        context.prompter = &prompter;
        context.settingsPath = scratch.file("settings.conf");
        context.listBase = scratch.file("data/QRY");
    }
    ~Context()
    {
        engine->Post(MsgEngineQuit);
        engine->Wait();
    }
    std::string Project(const std::string& text)
    {
        const std::string path = scratch.file("P.prj");
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
};

void StartToTray(benchmark::State& state)
{
    for (auto _ : state) {
        ScratchDir scratch;
        Isolate(scratch);
        QElapsedTimer timer;
        timer.start();
        DesktopProgram program;
        DesktopProgram::Options options;
        options.splash = false;
        options.settingsPath = scratch.file("settings.conf");
        options.programFolder = scratch.file("data");
        if (program.Start(options) != DesktopProgram::StartResult::Running) {
            state.SkipWithError("the program did not start");
            return;
        }
        // The tray icon (or, with no tray here, the window) is up once the
        // events of its showing are handled.
        QCoreApplication::processEvents();
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        program.mainFrame()->SystemClose();
        program.Finish();
    }
}
BENCHMARK(StartToTray)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void ExpandRecord(benchmark::State& state)
{
    Context c;
    const std::string path = c.Project("ProjectDefault\n{\n}\nRecord\n{\n\tURL=\"http://site/\"\n}\n");
    const std::string dir = c.scratch.file("mirror/P/site/");
    for (int d = 0; d < 20; ++d) {
        const std::string sub = dir + "d" + std::to_string(d) + "/";
        QDir().mkpath(QString::fromStdString(sub));
        for (int i = 0; i < 1000; ++i)
            std::ofstream(sub + "p" + std::to_string(i) + ".html") << "x";
    }
    double allRows = 0;
    for (auto _ : state) {
        auto session = std::make_unique<ProjectSession>(*c.settings, c.mirrorLock);
        session->Open(path);
        CChildFrame frame(c.context, std::move(session));
        frame.show();
        Spin([] { return false; }, 20);
        ProjectTreeModel& model = frame.treeModel();
        const QModelIndex record = model.index(0, 0, model.index(0, 0));
        QElapsedTimer timer;
        timer.start();
        frame.linkView().expand(record);
        // Every file is listed and sorted by then; the first rows are drawn.
        Spin([&] { return model.rowCount(record) > 0; }, 10000);
        QCoreApplication::processEvents();
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        // The rest come as the view scrolls down, a batch at a time.
        while (model.canFetchMore(record))
            model.fetchMore(record);
        QCoreApplication::processEvents();
        allRows = timer.nsecsElapsed() / 1e6;
        if (model.rowCount(record) != 20000)
            state.SkipWithError("the files were not all listed");
        frame.linkView().collapse(record);
    }
    state.counters["all_rows_ms"] = allRows;
}
BENCHMARK(ExpandRecord)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void CrawlStall(benchmark::State& state)
{
    if (!NginxServer::Available()) {
        state.SkipWithError("nginx is not installed");
        return;
    }
    Context c;
    const std::string site = c.scratch.file("site");
    QProcess make;
    make.start("bash", {QString::fromStdString(std::string(ORMBROOK_SOURCE_DIR) + "/bench/make_site.sh"),
                        QString::fromStdString(site), "40", "50"});
    make.waitForFinished(120000);
    NginxServer server;
    NginxServer::Options options;
    options.root = site;
    if (!server.Start(options)) {
        state.SkipWithError(server.lastError().c_str());
        return;
    }
    const std::string path =
        c.Project("ProjectDefault\n{\n\tGraphMax=5\n}\nRecord\n{\n\tURL=\"" + server.origin() + "/\"\n}\n");
    double worst = 0, pages = 0, seconds = 0;
    for (auto _ : state) {
        QDir(QString::fromStdString(c.scratch.file("mirror"))).removeRecursively();
        auto session = std::make_unique<ProjectSession>(*c.settings, c.mirrorLock);
        session->Open(path);
        CChildFrame frame(c.context, std::move(session));
        frame.resize(900, 700);
        frame.show();
        Spin([] { return false; }, 50);
        // The lateness of a 1 ms timer is how long the thread was busy.
        QElapsedTimer clock;
        clock.start();
        qint64 last = clock.nsecsElapsed();
        double longest = 0;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            longest = std::max(longest, (now - last) / 1e6 - 1.0);
            last = now;
        });
        frame.RunCommand(CmdCrawl);
        probe.start(1);
        QElapsedTimer crawl;
        crawl.start();
        QEventLoop loop;
        QObject::connect(&frame.status(), &CrawlStatus::crawlingChanged, &loop, [&](bool on) {
            if (!on)
                loop.quit();
        });
        QTimer::singleShot(300000, &loop, &QEventLoop::quit);
        loop.exec();
        probe.stop();
        seconds = crawl.nsecsElapsed() / 1e9;
        state.SetIterationTime(longest / 1e3);
        worst = std::max(worst, longest);
        pages = frame.status().model().counters().visited;
    }
    state.counters["longest_stall_ms"] = worst;
    state.counters["pages_visited"] = pages;
    state.counters["crawl_s"] = seconds;
}
BENCHMARK(CrawlStall)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
