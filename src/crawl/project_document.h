#pragma once
// CKESDLEDoc: one open project - its tree, its file and its mirror folder.
//
// The tree is edited on the user-interface thread while a crawl of the same
// project reads it (and sets record titles) on the engine thread, so every
// access goes through ReadAccess or WriteAccess, which hold the document's
// tree lock for their lifetime. Operations on the queue files and the mirror
// hold the application's mirror lock besides; take the mirror lock first
// when both are needed.

#include "crawl/project_item.h"

#include <QMutex>
#include <QReadWriteLock>

#include <memory>
#include <string>

namespace ormbrook {

class AppSettings;

class CKESDLEDoc {
public:
    // mirrorLock is owned by the application object and shared by every
    // document of the process.
    CKESDLEDoc(const AppSettings& app, QMutex& mirrorLock);
    CKESDLEDoc(const CKESDLEDoc&) = delete;
    CKESDLEDoc& operator=(const CKESDLEDoc&) = delete;

    // An empty project of the given name, not yet saved.
    void NewProject(const std::string& title);
    // Reads the file; the project takes the file's name without ".prj" and
    // its mirror folder is created. On failure the document is unchanged.
    bool OpenProject(const std::string& path);
    // Writes the project all-or-nothing. Saving under a new name renames the
    // project, and its work lists (the queue files) move to the new name.
    bool SaveProject(const std::string& path);

    std::string title() const;
    std::string filePath() const;
    // Mirror root + project name + "/": the queue files live here.
    std::string ProjectMirrorDir() const;
    const std::string& errorText() const { return errorText_; }
    QMutex& mirrorLock() const { return mirrorLock_; }
    const AppSettings& app() const { return app_; }

    class ReadAccess {
    public:
        const ProjectItem& root() const { return *root_; }
        const ProjectItem* operator->() const { return root_; }

    private:
        friend class CKESDLEDoc;
        ReadAccess(QReadWriteLock& lock, const ProjectItem* root) : locker_(&lock), root_(root) {}
        QReadLocker locker_;
        const ProjectItem* root_;
    };

    class WriteAccess {
    public:
        ProjectItem& root() const { return *root_; }
        ProjectItem* operator->() const { return root_; }

    private:
        friend class CKESDLEDoc;
        WriteAccess(QReadWriteLock& lock, ProjectItem* root) : locker_(&lock), root_(root) {}
        QWriteLocker locker_;
        ProjectItem* root_;
    };

    ReadAccess Read() const { return ReadAccess(treeLock_, root_.get()); }
    WriteAccess Write() { return WriteAccess(treeLock_, root_.get()); }

private:
    static bool FolderEmpty(const std::string& dir);
    // Saved under a new name: the project's mirror folder (files and work
    // lists) takes the new name; an empty one is removed.
    void MoveMirror(const std::string& oldTitle, const std::string& newTitle, bool moveFolder);

    const AppSettings& app_;
    QMutex& mirrorLock_;
    mutable QReadWriteLock treeLock_;
    std::unique_ptr<ProjectItem> root_;
    std::string path_;
    std::string errorText_;
};

// The project name for a project file: its file name without ".prj".
std::string ProjectTitleFromPath(const std::string& path);

} // namespace ormbrook
