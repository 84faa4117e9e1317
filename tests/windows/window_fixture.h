#pragma once
// The pieces a project window or the main window stands on, made in a
// scratch folder: settings, the two lists, an engine thread whose requests
// go nowhere (so a crawl, once asked for, runs until the test says), and a
// scripted prompter.

#include "common/messages.h"
#include "crawl/settings.h"
#include "engine/ws_init.h"
#include "engine/ws_thread.h"
#include "pictures/picture_distribution.h"
#include "shell/slide_show_list.h"
#include "shell/timer_doc.h"
#include "support/scratch_dir.h"
#include "windows/desktop_context.h"
#include "windows/scripted_prompter.h"

#include <QApplication>
#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QMutex>
#include <QThread>

#include <fstream>
#include <functional>
#include <memory>
#include <mutex>

namespace ormbrook::test {

// A picture side whose receivers the test switches on and off.
class FakePictures : public NoPictureDistribution {
public:
    bool saver = false, slide = false, desktop = false;
    bool saverRunning() const override { return saver; }
    bool slideWindowRunning() const override { return slide; }
    bool desktopMode() const override { return desktop; }
    // The exit's teardown of the viewers (the slide window, the changer).
    int exitsPrepared = 0;
    void PrepareExit(std::function<void()> closeNow) override
    {
        ++exitsPrepared;
        closeNow();
    }
    void Set(bool s, bool w, bool d)
    {
        saver = s;
        slide = w;
        desktop = d;
        Q_EMIT receiversChanged();
    }
};

struct WindowFixture {
    ScratchDir scratch;
    std::unique_ptr<AppSettings> settings;
    QMutex mirrorLock;
    CTimerDoc timers{[](const std::string&) { return true; }};
    CSSDoc slides{[](const std::string&) { return true; }};
    CWSInit init;
    std::unique_ptr<CWSThread> engine;
    FakePictures pictures;
    ScriptedPrompter prompter;
    DesktopContext context;
    // Crawl requests the engine received (and dropped: no manager is made);
    // the last one is kept.
    std::atomic<int> requests{0};
    std::mutex requestLock;
    std::unique_ptr<MessageRecord> lastRequest;

    WindowFixture()
    {
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
            QDir().mkpath(QString::fromStdString(scratch.file(name)));
            ::setenv(name, scratch.file(name).c_str(), 1);
        }
        settings = std::make_unique<AppSettings>(scratch.file("settings.conf"), scratch.file("data"));
        settings->LoadSettings();
        SettingsValues v = settings->values();
        v.MirrorDir = scratch.file("mirror/");
        settings->SaveSettings(v);
        engine = std::make_unique<CWSThread>(init);
        engine->SetHandler([this](uint32_t, uintptr_t, std::unique_ptr<MessageRecord> record) {
            std::lock_guard hold(requestLock);
            lastRequest = std::move(record);
            ++requests;
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
    ~WindowFixture()
    {
        engine->Post(MsgEngineQuit);
        engine->Wait();
    }

    std::string WriteProject(const std::string& name, const std::string& text)
    {
        const std::string path = scratch.file(name + ".prj");
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
};

inline bool WaitUntil(const std::function<bool()>& done, int ms = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

// Runs `inside` on the next modal dialog once it is up (its exec() loop
// runs it), as a user acting on the dialog would. Deleting the timer it
// returns gives up the wait. A dialog that is open already is `besides`.
inline QPointer<QTimer> InNextModal(std::function<void(QWidget*)> inside, QWidget* besides = nullptr)
{
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, besides, inside = std::move(inside)] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != besides) {
            poll->stop();
            poll->deleteLater();
            inside(modal);
        }
    });
    poll->start();
    return poll;
}

// A project with two folders whose names begin alike, each with a record.
inline const char kTwoFolders[] = "ProjectDefault\n{\n}\n"
                                  "Folder=\"News\"\n{\n\tFolder=\"Sub\"\n\t{\n\t\tRecord\n\t\t{\n\t\t\tURL=\"http://site/sub/\"\n\t\t}\n\t}\n"
                                  "\tRecord\n\t{\n\t\tURL=\"http://site/news/\"\n\t}\n}\n"
                                  "Folder=\"NewsArchive\"\n{\n\tRecord\n\t{\n\t\tURL=\"http://site/old/\"\n\t}\n}\n";

} // namespace ormbrook::test
