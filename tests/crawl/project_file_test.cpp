#include "crawl/project_file.h"

#include "crawl/project_item.h"
#include "crawl/settings.h"
#include "common/url.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <random>

using namespace ormbrook;

namespace {

const char kExample[] =
    "ProjectDefault\n"
    "{\n"
    "\tGraphMax=2\n"
    "\tUseExtFilter=1\n"
    "\tDLNoExt=1\n"
    "\tExtHtml=\"htm;html\"\n"
    "}\n"
    "Folder=\"News\"\n"
    "{\n"
    "\tPilotArea=UpperDir\n"
    "\tRecord\n"
    "\t{\n"
    "\t\tURL=\"http://site/\"\n"
    "\t\tTitle=\"Top\"\n"
    "\t}\n"
    "}\n";

struct ProjectFileTest : ::testing::Test {
    QTemporaryDir dir;
    AppSettings app{dir.filePath("s.conf").toStdString(), dir.filePath("data").toStdString()};
    void SetUp() override { ASSERT_TRUE(app.LoadSettings()); }

    std::string roundTrip(const std::string& text)
    {
        auto root = ProjectItem::NewRoot("P");
        std::string error;
        EXPECT_TRUE(ReadProject(text, *root, &error)) << error;
        return WriteProject(*root, app);
    }
};

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace

TEST_F(ProjectFileTest, TheSmallProjectIsReadAndWrittenBackByteForByte)
{
    auto root = ProjectItem::NewRoot("P");
    ASSERT_TRUE(ReadProject(kExample, *root));
    EXPECT_EQ(root->GraphMax, 2);
    EXPECT_EQ(root->downloadFilter.lists[ExtKindHtml], "htm;html");
    ASSERT_NE(root->firstChild, nullptr);
    EXPECT_EQ(root->firstChild->title, "News");
    EXPECT_EQ(root->firstChild->PilotArea, 1);
    EXPECT_EQ(root->firstChild->firstChild->title, "Top");
    EXPECT_EQ(WriteProject(*root, app), kExample);
}

TEST_F(ProjectFileTest, ReadingRules)
{
    struct Row {
        const char* name;
        std::string input;
        bool ok;
        std::function<void(const ProjectItem&)> check;
    };
    auto first = [](const ProjectItem& r) { return r.firstChild; };
    const Row rows[] = {
        {"a file may start with a Record", "Record{URL=\"http://a/\"}", true,
         [&](const ProjectItem& r) { ASSERT_TRUE(first(r)); EXPECT_EQ(first(r)->url, "http://a/"); }},
        {"an empty file fails", "", false, nullptr},
        {"white space alone fails", " \r\n\t", false, nullptr},
        {"text after the last block is ignored", "Record{}\nrubbish { = \"", true, nullptr},
        {"a URL is stored canonical", "Record{URL=\"HTTP://Site\"}", true,
         [&](const ProjectItem& r) { EXPECT_EQ(first(r)->url, "http://Site/"); }},
        {"a URL that doesn't parse is kept as written", "Record{URL=\"ftp://x/\"}", true,
         [&](const ProjectItem& r) { EXPECT_EQ(first(r)->url, "ftp://x/"); }},
        {"MUDrawSpeed in a Folder belongs to it", "Folder=\"F\"{MUDrawSpeed=7 Record{}}", true,
         [&](const ProjectItem& r) { EXPECT_EQ(first(r)->MUDrawSpeed, 7); EXPECT_EQ(r.MUDrawSpeed, -1);
                                     EXPECT_EQ(first(r)->firstChild->MUDrawSpeed, -1); }},
        {"a later setting replaces an earlier one", "ProjectDefault{GraphMax=1 GraphMax=3}", true,
         [](const ProjectItem& r) { EXPECT_EQ(r.GraphMax, 3); }},
        {"the colour keeps the low 8 bits of each part", "ProjectDefault{BGColor={257,2,3}}", true,
         [](const ProjectItem& r) { EXPECT_EQ(r.BGColor, 0x030201); }},
        {"words stand for numbers", "ProjectDefault{RenewalType=FailedFile PilotType=Selected MUDrawType=WiperH}", true,
         [](const ProjectItem& r) { EXPECT_EQ(r.RenewalType, 3); EXPECT_EQ(r.PilotType, 2); EXPECT_EQ(r.MUDrawType, 6); }},
        {"the root keeps PilotType 0 when unset", "ProjectDefault{}", true,
         [](const ProjectItem& r) { EXPECT_EQ(r.PilotType, 0); }},
        {"a huge total time-out is held at the largest int", "ProjectDefault{DLTotalTimeout=99999999999}", true,
         [](const ProjectItem& r) { EXPECT_EQ(r.DLTotalTimeout, 2147483647); }},
        {"numbers are held to what the settings allow: retries", "ProjectDefault{DLoadRetry=2147483647}", false, nullptr},
        {"... a link depth", "Record{GraphMax=11}", false, nullptr},
        {"... a time-out", "Folder=\"F\"{ConnectionTimeout=3601}", false, nullptr},
        {"... a picture size", "ProjectDefault{MinPicSize={641,0}}", false, nullptr},
        {"the largest allowed are taken", "ProjectDefault{DLoadRetry=5 GraphMax=10 ReplyRcvTimeout=3600}", true, nullptr},
        {"a NUL in a folder name fails", std::string("Folder=\"a\0b\"{}", 13), false, nullptr},
        {"a line break in a folder name fails", "Folder=\"a\nb\"{}", false, nullptr},
        {"an escape byte in a title fails", "Record{Title=\"\x1b[31m\"}", false, nullptr},
        {"a page title may have kept its line breaks", "Record{Title=\"a\r\n\tb\"}", true, nullptr},
        {"a 4095-byte string is taken", "Record{Title=\"" + std::string(4095, 'x') + "\"}", true, nullptr},
        {"a 4096-byte string is refused", "Record{Title=\"" + std::string(4096, 'x') + "\"}", false, nullptr},
        {"an unknown key fails", "ProjectDefault{Colour=1}", false, nullptr},
        {"keys count case", "ProjectDefault{graphmax=1}", false, nullptr},
        {"a URL outside a Record fails", "Folder=\"F\"{URL=\"http://a/\"}", false, nullptr},
        {"a Title in ProjectDefault fails", "ProjectDefault{Title=\"x\"}", false, nullptr},
        {"Timer is accepted nowhere", "ProjectDefault{Timer=1}", false, nullptr},
        {"a block must be closed", "Folder=\"F\"{Record{}", false, nullptr},
        {"a negative number fails", "ProjectDefault{GraphMax=-1}", false, nullptr},
        {"a number must be followed by a byte", "ProjectDefault{GraphMax=1", false, nullptr},
        {"a setting after a child fails", "Folder=\"F\"{Record{} GraphMax=1}", false, nullptr},
        {"a wrong word fails", "ProjectDefault{PilotArea=Forbidden}", false, nullptr},
        {"an unterminated string fails", "Record{Title=\"abc}", false, nullptr},
        {"a folder needs its name", "Folder{}", false, nullptr},
        {"a Shift-JIS folder name", "Folder=\"\x83\x5C\x83\x74\x83\x67\"{}", true,
         [&](const ProjectItem& r) { EXPECT_EQ(first(r)->title, "\x83\x5C\x83\x74\x83\x67"); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto root = ProjectItem::NewRoot("P");
        std::string error;
        const bool ok = ReadProject(row.input, *root, &error);
        EXPECT_EQ(ok, row.ok) << error;
        if (!ok) {
            EXPECT_FALSE(error.empty());
        }
        if (ok && row.check)
            row.check(*root);
    }
}

TEST_F(ProjectFileTest, AFailedReadLeavesTheTreeAsItWas)
{
    {
        auto hostile = ProjectItem::NewRoot("P");
        std::string error;
        EXPECT_FALSE(ReadProject(std::string("Folder=\"a\0b\"{}", 13), *hostile, &error));
        EXPECT_EQ(error, "syntax error at byte 9: a control byte in a text") << "the NUL's own offset";
    }
    auto root = ProjectItem::NewRoot("P");
    ASSERT_TRUE(ReadProject(kExample, *root));
    EXPECT_FALSE(ReadProject("ProjectDefault{GraphMax=5}Folder=\"X\"{", *root));
    EXPECT_EQ(root->GraphMax, 2);
    EXPECT_EQ(WriteProject(*root, app), kExample);
}

TEST_F(ProjectFileTest, WritingRules)
{
    struct Row {
        const char* name;
        std::string input;
        std::string written;
    };
    const Row rows[] = {
        {"effect index 3 is written RasterH and reads back as 3", "ProjectDefault{MUDrawType=RasterH}",
         "ProjectDefault\n{\n\tMUDrawType=RasterH\n}\n"},
        {"RenewalType 3 is FailedFile", "ProjectDefault{RenewalType=FailedFile}",
         "ProjectDefault\n{\n\tRenewalType=FailedFile\n}\n"},
        {"CloseTimeout is read but never written", "ProjectDefault{CloseTimeout=5}", "ProjectDefault\n{\n}\n"},
        {"a Shift-JIS folder name comes back byte for byte", "Folder=\"\x83\x5C\x83\x74\"{}",
         "ProjectDefault\n{\n}\nFolder=\"\x83\x5C\x83\x74\"\n{\n}\n"},
        {"a scheme-folded URL", "Record{URL=\"HTTP://Site\"}", "ProjectDefault\n{\n}\nRecord\n{\n\tURL=\"http://Site/\"\n}\n"},
        {"requisites of other sites are written beside the range", "Record{RequisitesOffSite=1 PilotArea=UpperDir}",
         "ProjectDefault\n{\n}\nRecord\n{\n\tPilotArea=UpperDir\n\tRequisitesOffSite=1\n}\n"},
        {"switches are written as 1 or 0", "ProjectDefault{NoCache=5 IMGSW=0}",
         "ProjectDefault\n{\n\tIMGSW=0\n\tNoCache=1\n}\n"},
        {"record texts first, in order", "Record{GraphMax=1 Title=\"T\" LocalName=\"L\" URL=\"http://a/\"}",
         "ProjectDefault\n{\n}\nRecord\n{\n\tURL=\"http://a/\"\n\tLocalName=\"L\"\n\tTitle=\"T\"\n\tGraphMax=1\n}\n"},
        {"nesting is shown by tabs", "Folder=\"A\"{Folder=\"B\"{Record{}}}",
         "ProjectDefault\n{\n}\nFolder=\"A\"\n{\n\tFolder=\"B\"\n\t{\n\t\tRecord\n\t\t{\n\t\t}\n\t}\n}\n"},
        {"a list under another item's group is written with that group's list",
         "ProjectDefault{UseExtFilter=1 ExtHtml=\"htm\"}Record{ExtHtml=\"own\" DLNoExt=0}",
         "ProjectDefault\n{\n\tUseExtFilter=1\n\tExtHtml=\"htm\"\n}\nRecord\n{\n\tDLNoExt=1\n\tExtHtml=\"htm\"\n}\n"},
        {"the settings in their fixed order",
         "ProjectDefault{UVExtHtml=\"x\" UseUVExtFilter=1 LocalizeLink=1 PilotType=Forbidden DLoadRetry=2 "
         "DLTotalTimeout=9 ConnectionTimeout=8 NoCache=0 RenewalType=AllFile PilotArea=OtherSite GraphMax=3 "
         "MUDrawSpeed=4 MinPicSize={10,20} IMGSW=1 MUDrawType=CrossH BGColor={1,2,3}}",
         "ProjectDefault\n{\n\tBGColor={1,2,3}\n\tMUDrawType=CrossH\n\tIMGSW=1\n\tMinPicSize={10,20}\n"
         "\tMUDrawSpeed=4\n\tGraphMax=3\n\tPilotArea=OtherSite\n\tRenewalType=AllFile\n\tNoCache=0\n"
         "\tConnectionTimeout=8\n\tDLTotalTimeout=9\n\tDLoadRetry=2\n\tPilotType=Forbidden\n\tLocalizeLink=1\n"
         "\tUseUVExtFilter=1\n\tUVExtHtml=\"x\"\n}\n"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(roundTrip(row.input), row.written) << row.name;
}

TEST_F(ProjectFileTest, ValuesThatCannotBeWrittenAsSetAreGivenBackToInheritance)
{
    auto root = ProjectItem::NewRoot("P");
    ProjectItem* r = AppendChild(*root, ProjectItem::NewRecord("http://a/"));
    r->PilotArea = 0;
    r->MUDrawType = 0;
    r->GraphMax = -5;
    r->MinPicHeight = 30; // the width is inherited: written with its effective value
    r->title = std::string("say \"hi\"") + std::string(5000, 'x');
    std::string once = WriteProject(*root, app);
    auto back = ProjectItem::NewRoot("P");
    std::string error;
    ASSERT_TRUE(ReadProject(once, *back, &error)) << error;
    const ProjectItem* b = back->firstChild;
    EXPECT_EQ(b->PilotArea, -1);
    EXPECT_EQ(b->MUDrawType, 1) << "index 0 is written as Random";
    EXPECT_EQ(b->GraphMax, -1);
    EXPECT_EQ(b->MinPicWidth, 0);
    EXPECT_EQ(b->MinPicHeight, 30);
    EXPECT_EQ(b->title.size(), kProjectMaxText);
    EXPECT_EQ(b->title.substr(0, 8), "say 'hi'");
    EXPECT_EQ(WriteProject(*back, app), once);
}

// Any tree, written, read and written again, gives the same bytes.
TEST_F(ProjectFileTest, RandomTreesWriteReadWriteIdentically)
{
    std::mt19937 rng(20261209);
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    auto value = [&]() -> int32_t {
        switch (pick(6)) {
        case 0: case 1: return -1;
        case 2: return pick(3);
        case 3: return pick(6);
        case 4: return pick(6);
        default: return -int32_t(pick(5)) - 1;
        }
    };
    auto text = [&]() {
        static const char* pieces[] = {"", "htm;html", "jpg", "a\"b", "\x83\x5C", "http://site/a/",
                                       "HTTP://Site", "file:///x", "x y", "\n\t"};
        return std::string(pieces[pick(10)]);
    };
    auto fill = [&](ProjectItem& item) {
        for (int o = 0; o < kItemOptionCount; ++o)
            item.option(ItemOption(o)) = value();
        item.PilotType = value();
        for (ExtFilterGroup* g : {&item.downloadFilter, &item.exclusionFilter}) {
            g->use = value();
            g->noExt = value();
            for (auto& l : g->lists)
                l = text();
        }
    };
    for (int round = 0; round < 200; ++round) {
        auto root = ProjectItem::NewRoot("P");
        fill(*root);
        std::vector<ProjectItem*> folders{root.get()};
        const int items = pick(12);
        for (int i = 0; i < items; ++i) {
            ProjectItem* parent = folders[size_t(pick(int(folders.size())))];
            if (pick(2)) {
                ProjectItem* f = AppendChild(*parent, ProjectItem::NewFolder(text()));
                fill(*f);
                folders.push_back(f);
            } else {
                // Records hold canonical URLs, as every way of making one does.
                std::string url = text();
                CUrl u;
                ProjectItem* r = AppendChild(*parent, ProjectItem::NewRecord(u.Parse(url) ? u.url() : url));
                r->title = text();
                r->localName = text();
                fill(*r);
            }
        }
        const std::string once = WriteProject(*root, app);
        auto back = ProjectItem::NewRoot("P");
        std::string error;
        ASSERT_TRUE(ReadProject(once, *back, &error)) << error << "\n" << once;
        ASSERT_EQ(WriteProject(*back, app), once) << "round " << round;
    }
}

TEST_F(ProjectFileTest, SavingReplacesTheFileWholeOrNotAtAll)
{
    const std::string path = dir.filePath("P.prj").toStdString();
    auto root = ProjectItem::NewRoot("P");
    ASSERT_TRUE(ReadProject(kExample, *root));
    std::string error;
    ASSERT_TRUE(SaveProjectFile(path, *root, app, &error)) << error;
    EXPECT_EQ(readAll(path), kExample);
    auto again = ProjectItem::NewRoot("P");
    ASSERT_TRUE(ReadProjectFile(path, *again, &error)) << error;
    EXPECT_EQ(WriteProject(*again, app), kExample);

    // A save that can't complete says so and leaves nothing behind.
    const std::string blocked = dir.filePath("blocked.prj").toStdString();
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(blocked + "/inside")));
    EXPECT_FALSE(SaveProjectFile(blocked, *root, app, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(SaveProjectFile(dir.filePath("missing/P.prj").toStdString(), *root, app, &error));
    QStringList left = QDir(dir.path()).entryList(QDir::Files);
    left.sort();
    EXPECT_EQ(left, (QStringList{"P.prj", "s.conf"}));
    EXPECT_FALSE(ReadProjectFile(dir.filePath("none.prj").toStdString(), *again, &error));
}
