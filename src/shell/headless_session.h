#pragma once
// The pieces every headless verb of qry stands on: the user's settings (with
// the --set overrides of this run), the engine thread, and projects opened
// for crawling. The desktop program builds the same pieces its own way.

#include "crawl/crawl_project.h"
#include "crawl/project_document.h"
#include "crawl/settings.h"
#include "engine/ws_init.h"
#include "engine/ws_thread.h"
#include "shell/command_line.h"

#include <QMutex>
#include <QPointer>

#include <functional>
#include <memory>
#include <string>

namespace ormbrook {

class ProjectItem;
class ConsoleStatusView;
struct CrawlRequestRecord;
class CrawlPictureSink;

// One project opened for crawling: its document and its work lists.
struct OpenedProject {
    OpenedProject(const AppSettings& settings, QMutex& mirrorLock);

    CKESDLEDoc document;
    std::unique_ptr<CrawlProject> crawl;
};

class HeadlessSession {
public:
    HeadlessSession() = default;
    HeadlessSession(const HeadlessSession&) = delete;
    HeadlessSession& operator=(const HeadlessSession&) = delete;
    ~HeadlessSession();

    // Loads the settings and applies the overrides; false (with the reason
    // on standard error) on an unknown name or a bad value.
    bool LoadSettings(const CommandLine& line);
    // Starts the engine thread; false (reason on standard error) when it can't.
    bool StartEngine();
    // Opens a project for crawling; nothing (reason on standard error) when
    // the file can't be read or its work lists can't be opened.
    std::unique_ptr<OpenedProject> OpenProject(const std::string& path);

    // Runs one job of a download manager to its end: posts the request to
    // the engine, calls `begin` with the manager once it exists, and turns
    // SIGINT or SIGTERM into the stop message (once). Returns whether a stop
    // signal came.
    bool RunJob(std::unique_ptr<CrawlRequestRecord> request, ConsoleStatusView& view,
                const std::function<void(const QPointer<QObject>& manager)>& begin);

    AppSettings& settings() { return settings_; }
    // Where this run's crawls put the pictures they store: to the desktop
    // program when it runs, else into the program folder's "WP.lst".
    std::shared_ptr<CrawlPictureSink> pictureSink();
    QMutex& mirrorLock() { return mirrorLock_; }
    CWSThread& engine() { return *engine_; }

private:
    AppSettings settings_;
    QMutex mirrorLock_;
    CWSInit init_;
    std::unique_ptr<CWSThread> engine_;
    std::shared_ptr<CrawlPictureSink> pictureSink_;
};

// The item named by a path: its folder path, and for a URL item "/" and its
// URL ("Project/News/http://site/"). Nothing when there is none.
ProjectItem* FindItemByPath(ProjectItem& root, const std::string& path);

} // namespace ormbrook
