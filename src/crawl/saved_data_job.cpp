#include "crawl/saved_data_job.h"

#include "common/messages.h"
#include "crawl/project_item.h"
#include "crawl/settings.h"
#include "platform/file_calls.h"

#include <QMutexLocker>

#include <cerrno>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <sstream>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ormbrook {

namespace {

// Beside the destination while a copy is being written; a later run of the
// same job writes the same name again, so a leftover never accumulates.
const char kPartSuffix[] = ".qrypart";

std::string WithSlash(std::string path)
{
    if (path.empty() || path.back() != '/')
        path.push_back('/');
    return path;
}

std::string DirectoryOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool IsRegularFile(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// A path with "." and ".." levels resolved and symbolic links followed as
// far as the path exists, ending in "/".
std::string Canonical(const std::string& path)
{
    std::error_code error;
    std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
    if (error)
        canonical = std::filesystem::path(path).lexically_normal();
    return WithSlash(canonical.string());
}

// Copies source into temporary, complete and flushed: 0, or the errno of
// what failed (the temporary is then removed).
int CopyToTemporary(const std::string& source, const std::string& temporary)
{
    // Neither is followed through a link: a stored file that is a link
    // is not copied out, and the temporary is made anew.
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0)
        return errno;
    ::unlink(temporary.c_str());
    const int out = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (out < 0) {
        const int err = errno;
        ::close(in);
        return err;
    }
    int err = 0;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            err = got == 0 ? 0 : errno;
            break;
        }
        if ((err = WriteFully(out, buffer, static_cast<size_t>(got))) != 0)
            break;
    }
    // The copy is the same copy of the server's file: the next crawl from it
    // asks about the same date and entity tag.
    struct stat sourceInfo {};
    if (err == 0 && ::fstat(in, &sourceInfo) == 0)
        CopyStoredDates(source, in, sourceInfo, out);
    if (err == 0 && ::fsync(out) != 0)
        err = errno;
    if (const int closed = FileCalls::Current().Close(out); err == 0 && closed != 0)
        err = -closed;
    ::close(in);
    if (err != 0)
        ::unlink(temporary.c_str());
    return err;
}

} // namespace

SavedDataOperation::SavedDataOperation(SavedDataContext context, Reporter report)
    : context_(std::move(context)),
      report_(std::move(report)),
      driver_(CrawlContext{context_.root, context_.settings, context_.mirror, nullptr, nullptr, context_.mirrorLock},
              *this)
{
}

SavedDataOperation::~SavedDataOperation() = default;

std::string SavedDataOperation::Refusal(const CMirror& mirror, const ProjectItem& item, int kind,
                                        const std::string& destination)
{
    if (kind != SavedDataDelete && kind != SavedDataCopy && kind != SavedDataMove)
        return "unknown saved-data operation";
    if (kind == SavedDataDelete)
        return {};
    if (destination.empty() || destination[0] != '/')
        return "the destination folder must be an absolute path";
    const std::string own = Canonical(mirror.FolderDirectory(FolderPath(item)));
    const std::string target = Canonical(destination);
    if (target.compare(0, own.size(), own) == 0)
        return "the destination folder " + destination + " lies inside the item's own folder directory " + own
            + " (the job would walk its own output)";
    return {};
}

std::string SavedDataOperation::NotePath() const
{
    return QueuePath(context_.mirror->ProjectDirectory(), context_.title, ".sdj");
}

std::string SavedDataOperation::NoteText() const
{
    std::ostringstream text;
    text << kind_ << '\n' << (folder_ ? 1 : 0) << '\n' << folderPath_ << '\n' << recordUrl_ << '\n'
         << destination_ << '\n';
    return text.str();
}

std::string SavedDataOperation::Begin(int kind, ProjectItem& item, const std::string& destination)
{
    std::string refusal = Refusal(*context_.mirror, item, kind, destination);
    if (!refusal.empty())
        return refusal;
    QMutexLocker lock(context_.mirrorLock);
    kind_ = kind;
    folder_ = item.kind != ItemRecord;
    folderPath_ = FolderPath(item);
    recordUrl_ = folder_ ? std::string() : item.url;
    destination_ = kind == SavedDataDelete ? std::string() : WithSlash(destination);
    baseDirectory_ = context_.mirror->FolderDirectory(folderPath_);
    driver_.PrepareAdmission();

    const std::string directory = context_.mirror->ProjectDirectory();
    if (MakeDirectories(directory, true) != MirrorResult::Ok)
        return "cannot make the project mirror directory " + directory;
    const char* suffixes[] = {".det", ".del"};
    EntryQueue* queues[] = {&visitQueue_, &actQueue_};
    for (int i = 0; i < 2; ++i) {
        const std::string path = QueuePath(directory, context_.title, suffixes[i]);
        switch (queues[i]->Open(path)) {
        case EntryQueue::OpenResult::Ok:
            break;
        case EntryQueue::OpenResult::OldVersion:
            return path + ": " + kOldVersionQuestion;
        case EntryQueue::OpenResult::Failed:
            return path + ": " + queues[i]->errorText();
        }
    }

    if (!visitQueue_.IsEmpty() || !actQueue_.IsEmpty()) {
        std::ifstream note(NotePath(), std::ios::binary);
        std::stringstream earlier;
        earlier << note.rdbuf();
        if (note && earlier.str() == NoteText()) {
            visitQueue_.ForEach([this](const QueueEntry&) { report_(MsgStatusDetected, {}); });
            return {};
        }
        // The lists of another job: what it left undone stays where it is,
        // in its old place or its new one, so nothing is lost by forgetting it.
        visitQueue_.Reset();
        actQueue_.Reset();
    }
    if (CMirror::WriteWhole(NotePath(), NoteText()) != MirrorResult::Ok)
        return "cannot write " + NotePath();

    QueueEntry start;
    start.folderPath = folderPath_;
    if (folder_) {
        start.url = baseDirectory_;
    } else {
        start.maxDepth = item.EffectiveGraphMax(*context_.settings);
        start.recordUrl = item.url;
        start.url = item.url;
    }
    if (!visitQueue_.PushBack(start))
        return visitQueue_.errorText();
    report_(MsgStatusDetected, {});
    return {};
}

SavedDataOperation::Step SavedDataOperation::VisitStep()
{
    QMutexLocker lock(context_.mirrorLock);
    std::optional<QueueEntry> entry = visitQueue_.PopFront();
    if (!entry)
        return Step::PassOver;
    if (folder_)
        VisitDirectory(*entry);
    else
        VisitRecordEntry(*entry);
    report_(MsgStatusVisited, {});
    return Step::More;
}

bool SavedDataOperation::VisitRecordEntry(const QueueEntry& entry)
{
    report_(MsgStatusCurrentUrl, entry.url);
    if (!FindRecord(*context_.root, entry.folderPath, entry.recordUrl))
        return false;
    auto local = context_.mirror->LocalPath(entry.url, entry.folderPath);
    if (!local || !IsRegularFile(*local))
        return false;
    // A page reached again is walked again only with more depth left than
    // before; it is acted on once.
    const int32_t budget = entry.maxDepth - entry.depth;
    auto [it, first] = walked_.try_emplace(entry.url, budget);
    if (first)
        actQueue_.PushBack(entry);
    else if (budget <= it->second)
        return true;
    it->second = budget;
    driver_.RescanLocalCopy(entry, visitQueue_);
    return true;
}

void SavedDataOperation::VisitDirectory(const QueueEntry& entry)
{
    report_(MsgStatusCurrentUrl, entry.url);
    actQueue_.PushBack(entry);
    DIR* dir = ::opendir(entry.url.c_str());
    if (!dir)
        return;
    std::vector<std::string> children;
    while (dirent* item = ::readdir(dir)) {
        const std::string name = item->d_name;
        if (name == "." || name == "..")
            continue;
        // Symbolic links are not followed: they could lead out of the mirror
        // or round in a circle.
        struct stat info {};
        const std::string path = entry.url + name;
        if (::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            children.push_back(path + "/");
    }
    ::closedir(dir);
    std::sort(children.begin(), children.end());
    for (const std::string& child : children) {
        QueueEntry next = entry;
        next.url = child;
        visitQueue_.PushBack(next);
        report_(MsgStatusDetected, {});
    }
}

SavedDataOperation::Step SavedDataOperation::ActStep()
{
    QMutexLocker lock(context_.mirrorLock);
    std::optional<QueueEntry> entry = actQueue_.PeekBack();
    if (!entry)
        return Step::PassOver;
    if (Fault(SavedDataFault::BeforeAct))
        return Step::Interrupted;
    report_(MsgStatusCurrentUrl, entry->url);
    if (folder_) {
        // The project directory's own files are the work lists and the
        // slots' temporary files, never saved data.
        const bool workFiles = entry->url == context_.mirror->ProjectDirectory();
        std::vector<std::string> files;
        if (DIR* dir = ::opendir(entry->url.c_str())) {
            while (dirent* item = ::readdir(dir)) {
                const std::string path = entry->url + item->d_name;
                if (!workFiles && IsRegularFile(path))
                    files.push_back(path);
            }
            ::closedir(dir);
        }
        std::sort(files.begin(), files.end());
        for (const std::string& file : files)
            if (!ActOnFile(file, baseDirectory_))
                return Step::Interrupted;
        if (kind_ != SavedDataCopy)
            ::rmdir(entry->url.c_str());
    } else if (auto local = context_.mirror->LocalPath(entry->url, entry->folderPath)) {
        if (IsRegularFile(*local) && !ActOnFile(*local, context_.mirror->FolderDirectory(entry->folderPath)))
            return Step::Interrupted;
        // Also when the file had gone already: a run cut short after the
        // file left may not have tidied its directories.
        if (kind_ != SavedDataCopy)
            RemoveEmptyDirectories(DirectoryOf(*local));
    }
    if (Fault(SavedDataFault::EntryDone))
        return Step::Interrupted;
    actQueue_.PopBack();
    report_(MsgStatusVisited, {});
    return Step::More;
}

bool SavedDataOperation::ActOnFile(const std::string& source, const std::string& base)
{
    if (kind_ == SavedDataDelete) {
        // A file that can't be removed is skipped; the entry still counts.
        ::unlink(source.c_str());
        return !Fault(SavedDataFault::SourceRemoved);
    }
    if (source.compare(0, base.size(), base) != 0)
        return true;
    const std::string target = destination_ + source.substr(base.size());
    if (MakeDirectories(DirectoryOf(target), true) != MirrorResult::Ok)
        return !StorageFailed(LastMirrorFailure().path, LastMirrorFailure().err);
    if (kind_ == SavedDataMove && !forceCopy) {
        if (::rename(source.c_str(), target.c_str()) == 0)
            return !Fault(SavedDataFault::Placed);
        if (errno != EXDEV)
            return true;
    }
    const std::string temporary = target + kPartSuffix;
    if (const int err = CopyToTemporary(source, temporary))
        return !StorageFailed(temporary, err);
    if (Fault(SavedDataFault::TempWritten))
        return false;
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return true;
    }
    if (Fault(SavedDataFault::Placed))
        return false;
    if (kind_ == SavedDataMove) {
        ::unlink(source.c_str());
        if (Fault(SavedDataFault::SourceRemoved))
            return false;
    }
    return true;
}

bool SavedDataOperation::StorageFailed(const std::string& path, int err)
{
    // A file that can't be copied is skipped; a destination that can take no
    // more would fail every file after it, so the job stops there, keeping
    // its lists (and the file at its old place) for a rerun.
    if (!IsStorageFailure(err))
        return false;
    storageFailure_ = WriteFailureText(path, err);
    return true;
}

void SavedDataOperation::RemoveEmptyDirectories(std::string directory) const
{
    // Up to, not including, the project directory: it holds the work lists.
    const std::string stop = context_.mirror->ProjectDirectory();
    while (directory.size() > stop.size() && directory.compare(0, stop.size(), stop) == 0) {
        if (::rmdir(directory.c_str()) != 0)
            return;
        directory = DirectoryOf(directory.substr(0, directory.size() - 1));
    }
}

void SavedDataOperation::End()
{
    QMutexLocker lock(context_.mirrorLock);
    const std::string directory = context_.mirror->ProjectDirectory();
    visitQueue_.Close();
    actQueue_.Close();
    ::unlink(QueuePath(directory, context_.title, ".det").c_str());
    ::unlink(QueuePath(directory, context_.title, ".del").c_str());
    ::unlink(NotePath().c_str());
}

} // namespace ormbrook
