#include "crawl/project_document.h"

#include "crawl/project_file.h"
#include "crawl/settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

using namespace ormbrook;

namespace {

struct ProjectDocumentTest : ::testing::Test {
    QTemporaryDir dir;
    AppSettings app{dir.filePath("s.conf").toStdString(), dir.filePath("data").toStdString()};
    QMutex mirrorLock;
    void SetUp() override
    {
        ASSERT_TRUE(app.LoadSettings());
        ASSERT_TRUE(app.SetByName("MirrorDir", dir.filePath("mirror").toStdString()));
    }
    std::string write(const char* name, const char* bytes)
    {
        std::string path = dir.filePath(name).toStdString();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
};

} // namespace

TEST_F(ProjectDocumentTest, TitlesComeFromFileNames)
{
    struct Row {
        const char* path;
        const char* title;
    };
    const Row rows[] = {{"/a/News.prj", "News"}, {"News.PRJ", "News"}, {"/a/b.c", "b.c"}, {"/a/.prj", ""},
                        {"/a/x.prj.prj", "x.prj"}};
    for (const Row& row : rows)
        EXPECT_EQ(ProjectTitleFromPath(row.path), row.title) << row.path;
}

TEST_F(ProjectDocumentTest, OpeningNamesTheProjectAndMakesItsMirrorFolder)
{
    CKESDLEDoc doc(app, mirrorLock);
    const std::string path = write("News.prj", "ProjectDefault{GraphMax=2}Record{URL=\"http://a/\"}");
    ASSERT_TRUE(doc.OpenProject(path)) << doc.errorText();
    EXPECT_EQ(doc.title(), "News");
    EXPECT_EQ(doc.filePath(), path);
    EXPECT_EQ(doc.ProjectMirrorDir(), dir.filePath("mirror/News/").toStdString());
    EXPECT_TRUE(QDir(dir.filePath("mirror/News")).exists());
    EXPECT_EQ(doc.Read()->GraphMax, 2);
    EXPECT_EQ(FolderPath(*doc.Read()->firstChild), "News");

    // A file that doesn't read leaves the open project alone.
    EXPECT_FALSE(doc.OpenProject(write("Bad.prj", "")));
    EXPECT_FALSE(doc.errorText().empty());
    EXPECT_EQ(doc.title(), "News");
    EXPECT_EQ(doc.Read()->GraphMax, 2);
}

TEST_F(ProjectDocumentTest, SavingUnderANewNameRenamesTheProject)
{
    CKESDLEDoc doc(app, mirrorLock);
    doc.NewProject("Fresh");
    AppendChild(doc.Write().root(), ProjectItem::NewRecord("http://a/"));
    const std::string path = dir.filePath("Other.prj").toStdString();
    ASSERT_TRUE(doc.SaveProject(path)) << doc.errorText();
    EXPECT_EQ(doc.title(), "Other");
    CKESDLEDoc again(app, mirrorLock);
    ASSERT_TRUE(again.OpenProject(path));
    EXPECT_EQ(again.Read()->firstChild->url, "http://a/");
    EXPECT_FALSE(doc.SaveProject(dir.filePath("no/such/dir.prj").toStdString()));
    EXPECT_EQ(doc.title(), "Other") << "a failed save changes nothing";
}

// The stored files and a stopped crawl's work lists go with the project to
// its new name; a folder of that name already there is not mixed into.
TEST_F(ProjectDocumentTest, SavingUnderANewNameMovesTheMirror)
{
    CKESDLEDoc doc(app, mirrorLock);
    ASSERT_TRUE(doc.OpenProject(write("Old.prj", "Record{URL=\"http://a/\"}"))) << doc.errorText();
    for (const char* suffix : {".uq", ".lq"})
        std::ofstream(dir.filePath(QString("mirror/Old/Old") + suffix).toStdString()) << suffix;
    QDir().mkpath(dir.filePath("mirror/Old/a"));
    std::ofstream(dir.filePath("mirror/Old/a/index.html").toStdString()) << "page";
    QDir().mkpath(dir.filePath("mirror/Taken"));
    EXPECT_FALSE(doc.SaveProject(dir.filePath("Taken.prj").toStdString()));
    EXPECT_NE(doc.errorText().find("mirror/Taken/ exists"), std::string::npos) << doc.errorText();
    EXPECT_FALSE(QFile::exists(dir.filePath("Taken.prj")));
    EXPECT_EQ(doc.title(), "Old");

    ASSERT_TRUE(doc.SaveProject(dir.filePath("New.prj").toStdString())) << doc.errorText();
    EXPECT_TRUE(QFile::exists(dir.filePath("mirror/New/a/index.html")));
    EXPECT_FALSE(QFile::exists(dir.filePath("mirror/Old")));
    EXPECT_EQ(doc.ProjectMirrorDir(), dir.filePath("mirror/New/").toStdString());
    for (const char* suffix : {".uq", ".lq"}) {
        EXPECT_FALSE(QFile::exists(dir.filePath(QString("mirror/Old/Old") + suffix))) << suffix;
        std::ifstream moved(dir.filePath(QString("mirror/New/New") + suffix).toStdString());
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(moved), {}), suffix);
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("mirror/New/New.det")));
    EXPECT_TRUE(doc.errorText().empty()) << doc.errorText();
}

TEST_F(ProjectDocumentTest, EditsWaitForAReaderToFinish)
{
    CKESDLEDoc doc(app, mirrorLock);
    doc.NewProject("P");
    std::atomic<bool> edited{false};
    std::thread editor;
    {
        CKESDLEDoc::ReadAccess tree = doc.Read();
        editor = std::thread([&] {
            AppendChild(doc.Write().root(), ProjectItem::NewRecord("http://a/"));
            edited = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(edited) << "the tree changed under a reader";
        EXPECT_EQ(tree->firstChild, nullptr);
    }
    editor.join();
    EXPECT_TRUE(edited);
    EXPECT_NE(doc.Read()->firstChild, nullptr);
}
