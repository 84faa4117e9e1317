#pragma once
// One open project of the desktop program: its document, the work lists its
// crawls use, and whether it changed since it was saved. The project window
// shows it; the status view crawls it.

#include "crawl/crawl_project.h"
#include "crawl/project_document.h"

#include <QMutex>

#include <memory>
#include <string>

namespace ormbrook {

class AppSettings;

class ProjectSession {
public:
    ProjectSession(const AppSettings& settings, QMutex& mirrorLock);
    ~ProjectSession();
    ProjectSession(const ProjectSession&) = delete;
    ProjectSession& operator=(const ProjectSession&) = delete;

    // An empty project, not yet saved, of the given name.
    void New(const std::string& title);
    // Reads the project file; false with the reason in errorText().
    bool Open(const std::string& path);
    // Writes the project; saving under a new name renames the project, and
    // its work lists are then those of the new name.
    bool Save(const std::string& path);

    // The work lists, opened when first needed (a project never crawled has
    // none). Nothing, with the reason in errorText(), when they can't be.
    CrawlProject* crawl();
    // Empties both work lists under the mirror lock: the next crawl starts
    // afresh.
    bool ResetCrawlState();

    CKESDLEDoc& document() { return document_; }
    const CKESDLEDoc& document() const { return document_; }
    std::string title() const { return document_.title(); }
    std::string filePath() const { return document_.filePath(); }
    const std::string& errorText() const { return errorText_; }
    const AppSettings& settings() const { return settings_; }
    QMutex& mirrorLock() const { return mirrorLock_; }
    // The mirror of the project as it is named now.
    CMirror Mirror() const;

    bool modified() const { return modified_; }
    void SetModified(bool modified) { modified_ = modified; }

private:
    const AppSettings& settings_;
    QMutex& mirrorLock_;
    CKESDLEDoc document_;
    std::unique_ptr<CrawlProject> crawl_;
    std::string errorText_;
    bool modified_ = false;
};

} // namespace ormbrook
