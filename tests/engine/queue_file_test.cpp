#include "engine/queue_file.h"
#include "support/fault_file_calls.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <thread>

using namespace ormbrook;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

uint32_t word(const Bytes& b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

void setWord(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

bool push(CQueueFile& q, const std::string& s, bool front = false)
{
    return front ? q.PushFront(s.data(), uint32_t(s.size())) : q.PushBack(s.data(), uint32_t(s.size()));
}

std::string text(const std::optional<Bytes>& b)
{
    return b ? std::string(b->begin(), b->end()) : std::string("<none>");
}

std::vector<std::string> contents(CQueueFile& q)
{
    std::vector<std::string> out;
    uint32_t pos = 0;
    for (auto r = q.First(pos); r; r = q.Next(pos))
        out.push_back(text(r));
    return out;
}

struct QueueFileTest : ::testing::Test {
    QTemporaryDir dir;
    std::string path(const char* name = "q.uq") { return dir.filePath(name).toStdString(); }
};

} // namespace

TEST_F(QueueFileTest, NewFileHasTheExactHeaderAndBlockLayout)
{
    CQueueFile q(kQueueFileSignature);
    ASSERT_EQ(q.Open(path()), kQueueFileSignature);
    ASSERT_TRUE(q.valid());
    Bytes b = fileBytes(path());
    ASSERT_EQ(b.size(), 44u);
    const uint32_t expected[] = {44, 44, 10050, 12, 20, 12, 20, 28, 36, 28, 36};
    for (size_t i = 0; i < 11; ++i)
        EXPECT_EQ(word(b, 4 * i), expected[i]) << "word " << i;

    ASSERT_TRUE(push(q, "0123456789"));
    b = fileBytes(path());
    ASSERT_EQ(b.size(), 66u);
    EXPECT_EQ(word(b, 16), 44u); // head -> block
    EXPECT_EQ(word(b, 20), 44u); // tail <- block
    EXPECT_EQ(word(b, 44), 12u);
    EXPECT_EQ(word(b, 48), 20u);
    EXPECT_EQ(word(b, 52), 10u);
    EXPECT_EQ(std::string(b.begin() + 56, b.end()), "0123456789");
}

TEST_F(QueueFileTest, HeaderWithoutSignatureIsFortyBytesAndOnlyRead)
{
    CQueueFile q(0, QueueHeaderForm::WithoutSignature);
    ASSERT_EQ(q.Open(path()), 0);
    Bytes b = fileBytes(path());
    ASSERT_EQ(b.size(), 40u);
    const uint32_t expected[] = {40, 40, 8, 16, 8, 16, 24, 32, 24, 32};
    for (size_t i = 0; i < 10; ++i)
        EXPECT_EQ(word(b, 4 * i), expected[i]) << "word " << i;
    EXPECT_FALSE(push(q, "x"));
    EXPECT_EQ(q.error(), QueueFileReadOnly);
    uint32_t pos;
    EXPECT_FALSE(q.First(pos));

    // An old file with records is read in order.
    Bytes old = b;
    old.resize(40 + 13 + 13);
    setWord(old, 12, 40);                                   // head.next
    setWord(old, 16, 53);                                   // tail.prev
    setWord(old, 40, 8), setWord(old, 44, 53), setWord(old, 48, 1), old[52] = 'a';
    setWord(old, 53, 40), setWord(old, 57, 16), setWord(old, 61, 1), old[65] = 'b';
    writeFile(path("old.lst"), old);
    CQueueFile r(0, QueueHeaderForm::WithoutSignature);
    ASSERT_EQ(r.Open(path("old.lst")), 0);
    EXPECT_EQ(contents(r), (std::vector<std::string>{"a", "b"}));
}

TEST_F(QueueFileTest, EndsAreAddedAndTakenInOrder)
{
    CQueueFile q(kQueueFileSignature);
    ASSERT_EQ(q.Open(path()), kQueueFileSignature);
    ASSERT_TRUE(push(q, "A"));
    ASSERT_TRUE(push(q, "B"));
    ASSERT_TRUE(push(q, "C", true));
    EXPECT_EQ(contents(q), (std::vector<std::string>{"C", "A", "B"}));
    EXPECT_EQ(text(q.PopBack()), "B");
    EXPECT_EQ(text(q.PopFront()), "C");
    EXPECT_FALSE(q.IsEmpty());
    EXPECT_EQ(text(q.PopFront()), "A");
    EXPECT_TRUE(q.IsEmpty());
    EXPECT_FALSE(q.PopFront());
    EXPECT_FALSE(q.PopBack());
}

TEST_F(QueueFileTest, EmptyingTheListCutsTheFileToItsHeader)
{
    CQueueFile q(kQueueFileSignature);
    ASSERT_EQ(q.Open(path()), kQueueFileSignature);
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(push(q, std::string(100, char('a' + i))));
    for (int i = 0; i < 19; ++i)
        ASSERT_TRUE(q.PopFront());
    EXPECT_GT(fileBytes(path()).size(), 44u);
    ASSERT_TRUE(q.PopBack());
    Bytes b = fileBytes(path());
    ASSERT_EQ(b.size(), 44u);
    EXPECT_EQ(word(b, 16), 20u);
    EXPECT_EQ(word(b, 20), 12u);
    // Still usable afterwards.
    ASSERT_TRUE(push(q, "again"));
    EXPECT_EQ(contents(q), std::vector<std::string>{"again"});
}

TEST_F(QueueFileTest, RecordsSurviveCloseAndReopenAndEmptyRecordsAreKept)
{
    {
        CQueueFile q(kQueueFileSignature);
        ASSERT_EQ(q.Open(path()), kQueueFileSignature);
        ASSERT_TRUE(push(q, "one"));
        ASSERT_TRUE(push(q, ""));
        ASSERT_TRUE(push(q, std::string(3000, 'x'))); // longer than a pop's first read
    }
    CQueueFile q(kQueueFileSignature);
    ASSERT_EQ(q.Open(path()), kQueueFileSignature);
    EXPECT_FALSE(q.repaired());
    EXPECT_EQ(contents(q), (std::vector<std::string>{"one", "", std::string(3000, 'x')}));
    EXPECT_EQ(text(q.PopBack()), std::string(3000, 'x'));
    EXPECT_EQ(text(q.PopFront()), "one");
}

TEST_F(QueueFileTest, AnotherOwnersFileIsRefusedWithItsSignature)
{
    {
        CQueueFile other(777);
        ASSERT_EQ(other.Open(path()), 777);
    }
    CQueueFile q(kQueueFileSignature);
    EXPECT_EQ(q.Open(path()), 777);
    EXPECT_FALSE(q.valid());
    EXPECT_EQ(q.error(), QueueFileBadSignature);
    EXPECT_FALSE(push(q, "x"));
}

TEST_F(QueueFileTest, OpeningAnOpenQueueElsewhereMovesItWithItsRecords)
{
    CQueueFile q(kQueueFileSignature);
    ASSERT_EQ(q.Open(path("old.uq")), kQueueFileSignature);
    ASSERT_TRUE(push(q, "kept"));
    ASSERT_EQ(q.Open(path("new.uq")), kQueueFileSignature);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path("old.uq"))));
    EXPECT_EQ(contents(q), std::vector<std::string>{"kept"});
    // Opening it again under its own name must not lose it.
    ASSERT_EQ(q.Open(path("new.uq")), kQueueFileSignature);
    EXPECT_EQ(contents(q), std::vector<std::string>{"kept"});
}

TEST_F(QueueFileTest, ResetEmptiesTheQueue)
{
    CQueueFile q(kQueueFileSignature);
    ASSERT_EQ(q.Open(path()), kQueueFileSignature);
    ASSERT_TRUE(push(q, "a"));
    ASSERT_TRUE(q.Reset());
    EXPECT_TRUE(q.IsEmpty());
    EXPECT_EQ(fileBytes(path()).size(), 44u);
}

TEST_F(QueueFileTest, UntrustworthyFilesAreRefusedWithAClearError)
{
    // A sound file with two records: A at 44 (13 bytes), B at 57 (13 bytes).
    CQueueFile maker(kQueueFileSignature);
    ASSERT_EQ(maker.Open(path("base.uq")), kQueueFileSignature);
    ASSERT_TRUE(push(maker, "A"));
    ASSERT_TRUE(push(maker, "B"));
    maker.Close();
    const Bytes base = fileBytes(path("base.uq"));
    ASSERT_EQ(base.size(), 70u);

    struct Row {
        const char* name;
        std::function<void(Bytes&)> damage;
        int error;
    };
    const Row rows[] = {
        {"head link beyond the end", [](Bytes& b) { setWord(b, 16, 5000); }, QueueFileCorrupt},
        {"link into the header", [](Bytes& b) { setWord(b, 16, 30); }, QueueFileCorrupt},
        {"next link beyond the end", [](Bytes& b) { setWord(b, 48, 0xFFFFFFF0); }, QueueFileCorrupt},
        {"record longer than the file", [](Bytes& b) { setWord(b, 52, 0x7FFFFFFF); }, QueueFileCorrupt},
        {"cycle back to itself", [](Bytes& b) { setWord(b, 48, 44); }, QueueFileCorrupt},
        {"cycle through two records", [](Bytes& b) { setWord(b, 61, 44); }, QueueFileCorrupt},
        {"link back to the head", [](Bytes& b) { setWord(b, 61, 12); }, QueueFileCorrupt},
        {"backward link to nowhere", [](Bytes& b) { setWord(b, 57, 1234); }, QueueFileCorrupt},
        {"shorter than the header", [](Bytes& b) { b.resize(30); }, QueueFileCorrupt},
        {"cut inside the last record", [](Bytes& b) { b.resize(65); }, QueueFileCorrupt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes b = base;
        row.damage(b);
        writeFile(path("bad.uq"), b);
        CQueueFile q(kQueueFileSignature);
        EXPECT_EQ(q.Open(path("bad.uq")), -1);
        EXPECT_FALSE(q.valid());
        EXPECT_EQ(q.error(), row.error);
        EXPECT_FALSE(q.errorText().empty());
        uint32_t pos = 0;
        EXPECT_FALSE(q.First(pos));
        EXPECT_FALSE(q.PopFront());
        EXPECT_FALSE(push(q, "x"));
        EXPECT_EQ(fileBytes(path("bad.uq")), b) << "a refused file is left as it was";
    }
}

TEST_F(QueueFileTest, AnEmptyFileLeftByAnInterruptedCreationIsGivenAHeader)
{
    writeFile(path(), {});
    CQueueFile q(kQueueFileSignature);
    EXPECT_EQ(q.Open(path()), kQueueFileSignature);
    EXPECT_TRUE(q.valid());
    EXPECT_EQ(fileBytes(path()).size(), 44u);
}

// A crash can stop any operation after any of its writes. Whatever point it
// stopped at, the reopened queue holds the list as it was before or after one
// of the updates the operation makes, and it goes on working. A flush in
// write-behind mode makes up to two updates: the pops, then the pushes.
TEST_F(QueueFileTest, AnInterruptedUpdateIsAllOrNothingAfterReopening)
{
    using List = std::vector<std::string>;
    struct Row {
        const char* name;
        List start;
        std::function<void(CQueueFile&)> op;
        std::vector<List> updates; // the list after each update, in order
        int mends;                 // stops after which Open has to mend the list
    };
    auto pop = [](CQueueFile& q, const char* expected) { EXPECT_EQ(text(q.PopFront()), expected); };
    const Row rows[] = {
        {"push back", {"a", "b"}, [](CQueueFile& q) { push(q, "new"); }, {{"a", "b", "new"}}, 1},
        {"push front", {"a", "b"}, [](CQueueFile& q) { push(q, "new", true); }, {{"new", "a", "b"}}, 1},
        {"push into empty", {}, [](CQueueFile& q) { push(q, "new"); }, {{"new"}}, 0},
        {"pop front", {"a", "b", "c"}, [](CQueueFile& q) { q.PopFront(); }, {{"b", "c"}}, 1},
        {"pop back", {"a", "b", "c"}, [](CQueueFile& q) { q.PopBack(); }, {{"a", "b"}}, 1},
        {"pop the last record", {"a"}, [](CQueueFile& q) { q.PopFront(); }, {{}}, 1},
        {"batch of pushes",
         {"a", "b"},
         [](CQueueFile& q) {
             q.SetWriteBehind(true);
             push(q, "x"), push(q, ""), push(q, std::string(700, 'z'));
             q.Flush();
         },
         {{"a", "b", "x", "", std::string(700, 'z')}},
         1},
        {"batch of pushes into an empty list",
         {},
         [](CQueueFile& q) {
             q.SetWriteBehind(true);
             push(q, "x"), push(q, "y");
             q.Flush();
         },
         {{"x", "y"}},
         0},
        {"batch of pops",
         {"a", "b", "c", "d"},
         [&](CQueueFile& q) {
             q.SetWriteBehind(true);
             pop(q, "a"), pop(q, "b"), pop(q, "c");
             q.Flush();
         },
         {{"d"}},
         1},
        {"batch of pops that empties the list",
         {"a", "b", "c"},
         [&](CQueueFile& q) {
             q.SetWriteBehind(true);
             pop(q, "a"), pop(q, "b"), pop(q, "c");
             q.Flush();
         },
         {{}},
         1},
        {"pops that go on into the pending pushes",
         {"a", "b"},
         [&](CQueueFile& q) {
             q.SetWriteBehind(true);
             push(q, "x"), push(q, "y");
             pop(q, "a"), pop(q, "b"), pop(q, "x");
             q.Flush();
         },
         {{}, {"y"}},
         1},
        {"pops and pushes in one flush",
         {"a", "b", "c"},
         [&](CQueueFile& q) {
             q.SetWriteBehind(true);
             pop(q, "a"), push(q, "x"), pop(q, "b"), push(q, "y");
             q.Flush();
         },
         {{"c"}, {"c", "x", "y"}},
         2},
        {"batch written by closing",
         {"a", "b"},
         [&](CQueueFile& q) {
             q.SetWriteBehind(true);
             pop(q, "a"), push(q, "x"), push(q, "y");
         },
         {{"b"}, {"b", "x", "y"}},
         2},
        {"batch written before a push at the front",
         {"a", "b"},
         [&](CQueueFile& q) {
             q.SetWriteBehind(true);
             pop(q, "a"), push(q, "x");
             push(q, "n", true);
         },
         {{"b"}, {"b", "x"}, {"n", "b", "x"}},
         3},
    };
    for (const Row& row : rows) {
        int repairs = 0;
        for (int limit = 0; limit <= 9; ++limit) {
            SCOPED_TRACE(std::string(row.name) + ", stopped after write " + std::to_string(limit));
            const std::string p = path("crash.uq");
            ::unlink(p.c_str());
            {
                CQueueFile q(kQueueFileSignature);
                ASSERT_EQ(q.Open(p), kQueueFileSignature);
                for (const std::string& s : row.start)
                    ASSERT_TRUE(push(q, s));
                q.SetWriteLimit(limit);
                row.op(q);
            }
            CQueueFile q(kQueueFileSignature);
            ASSERT_EQ(q.Open(p), kQueueFileSignature) << q.errorText();
            repairs += q.repaired();
            List now = contents(q);
            EXPECT_TRUE(now == row.start || std::find(row.updates.begin(), row.updates.end(), now) != row.updates.end())
                << "list of " << now.size() << " records";
            // Both directions agree, and the queue takes new work.
            List backwards;
            ASSERT_TRUE(push(q, "later"));
            while (auto r = q.PopBack())
                backwards.insert(backwards.begin(), text(r));
            now.push_back("later");
            EXPECT_EQ(backwards, now);
        }
        EXPECT_EQ(repairs, row.mends) << row.name;
    }
}

// A write the file system refuses (no space; half of it going in first)
// fails the update, and the file reopens as it was before the update or
// after it, never as something between.
TEST_F(QueueFileTest, AWriteRefusedForWantOfRoomLeavesTheListAsItWasOrAsUpdated)
{
    using List = std::vector<std::string>;
    struct Row {
        const char* name;
        List start;
        std::function<void(CQueueFile&)> op;
        std::vector<List> updates;
    };
    const Row rows[] = {
        {"push back", {"a", "b"}, [](CQueueFile& q) { push(q, "new"); }, {{"a", "b", "new"}}},
        {"push front", {"a", "b"}, [](CQueueFile& q) { push(q, "new", true); }, {{"new", "a", "b"}}},
        {"pop front", {"a", "b", "c"}, [](CQueueFile& q) { q.PopFront(); }, {{"b", "c"}}},
        {"pop the last record", {"a"}, [](CQueueFile& q) { q.PopFront(); }, {{}}},
        {"pops and pushes in one flush", {"a", "b", "c"},
         [](CQueueFile& q) {
             q.SetWriteBehind(true);
             q.PopFront(), push(q, "x"), q.PopFront(), push(q, std::string(3000, 'y'));
             q.Flush();
         },
         {{"c"}, {"c", "x", std::string(3000, 'y')}}},
    };
    for (const Row& row : rows) {
        for (int failAt = 0; failAt <= 6; ++failAt) {
            for (bool partial : {false, true}) {
                SCOPED_TRACE(std::string(row.name) + ", write " + std::to_string(failAt) + (partial ? " half" : ""));
                const std::string p = path("full.uq");
                ::unlink(p.c_str());
                {
                    CQueueFile q(kQueueFileSignature);
                    ASSERT_EQ(q.Open(p), kQueueFileSignature);
                    for (const std::string& s : row.start)
                        ASSERT_TRUE(push(q, s));
                    ormbrook::test::FaultFileCalls files;
                    files.FailWrite(failAt, ENOSPC, partial);
                    ScopedFileCalls use(files);
                    row.op(q);
                    q.Close();
                    if (files.failures > 0) {
                        EXPECT_EQ(q.writeErrno(), ENOSPC);
                    }
                }
                CQueueFile q(kQueueFileSignature);
                ASSERT_EQ(q.Open(p), kQueueFileSignature) << q.errorText();
                List now = contents(q);
                EXPECT_TRUE(now == row.start
                            || std::find(row.updates.begin(), row.updates.end(), now) != row.updates.end())
                    << "list of " << now.size() << " records";
                List backwards;
                ASSERT_TRUE(push(q, "later"));
                while (auto r = q.PopBack())
                    backwards.insert(backwards.begin(), text(r));
                now.push_back("later");
                EXPECT_EQ(backwards, now);
            }
        }
    }
}

// Room is reserved ahead of the writes: when the file system has no more to
// give, the queue says so while what it still holds in memory fits, so that
// nothing pending is lost.
TEST_F(QueueFileTest, TheRoomRunsOutBeforeAWriteDoes)
{
    const std::string p = path("room.uq");
    CQueueFile q(kQueueFileSignature);
    ASSERT_EQ(q.Open(p), kQueueFileSignature);
    q.SetWriteBehind(true);
    ormbrook::test::FaultFileCalls files;
    files.FailAfterBytes(1024 * 1024);
    ScopedFileCalls use(files);
    std::vector<std::string> pushed;
    for (int i = 0; q.spaceErrno() == 0; ++i) {
        ASSERT_LT(i, 100000) << "the room never ran out";
        pushed.push_back(std::to_string(i) + std::string(200, 'r'));
        ASSERT_TRUE(push(q, pushed.back())) << q.errorText();
    }
    EXPECT_EQ(q.spaceErrno(), ENOSPC);
    // What a stop still puts back fits, too.
    for (int i = 0; i < 20; ++i) {
        pushed.insert(pushed.begin(), "back" + std::to_string(i));
        ASSERT_TRUE(push(q, pushed.front(), true)) << q.errorText();
    }
    ASSERT_TRUE(q.Flush()) << q.errorText();
    EXPECT_EQ(q.writeErrno(), 0);
    q.Close();
    CQueueFile again(kQueueFileSignature);
    ASSERT_EQ(again.Open(p), kQueueFileSignature);
    EXPECT_EQ(contents(again), pushed);
}

// Links that look like a stopped update of several records but are not one
// must still be refused; the real patterns are mended.
TEST_F(QueueFileTest, OnlyTheLinksOfAStoppedUpdateAreMended)
{
    // A B C D in the list (13-byte blocks at 44, 57, 70, 83); X at 96 and Y
    // at 109 were popped from the back one by one and keep their last links
    // (X: D <-> tail, Y: X <-> tail).
    CQueueFile maker(kQueueFileSignature);
    ASSERT_EQ(maker.Open(path("base.uq")), kQueueFileSignature);
    for (const char* s : {"A", "B", "C", "D", "X", "Y"})
        ASSERT_TRUE(push(maker, s));
    ASSERT_TRUE(maker.PopBack());
    ASSERT_TRUE(maker.PopBack());
    maker.Close();
    const Bytes base = fileBytes(path("base.uq"));
    ASSERT_EQ(base.size(), 122u);
    enum : uint32_t { headNext = 16, tailPrev = 20, A = 44, B = 57, C = 70, D = 83, X = 96, Y = 109 };
    auto prevOf = [](uint32_t block) { return block; };
    auto nextOf = [](uint32_t block) { return block + 4; };

    using List = std::vector<std::string>;
    struct Row {
        const char* name;
        std::function<void(Bytes&)> damage;
        std::optional<List> mended; // nothing: refused as corrupt
    };
    const Row rows[] = {
        {"two pushes at the back stopped before tail.prev",
         [&](Bytes& b) { setWord(b, tailPrev, B); },
         List{"A", "B", "C", "D"}},
        {"one pop at the back stopped before tail.prev",
         [&](Bytes& b) { setWord(b, tailPrev, X); },
         List{"A", "B", "C", "D"}},
        {"two pops at the back stopped before tail.prev",
         [&](Bytes& b) {
             setWord(b, nextOf(X), Y); // X and Y taken together
             setWord(b, tailPrev, Y);
         },
         List{"A", "B", "C", "D"}},
        {"two pops at the front stopped before the new front's prev",
         [&](Bytes& b) { setWord(b, headNext, C); },
         List{"C", "D"}},
        {"prev names a removed block that is neither before it nor names it",
         [&](Bytes& b) { setWord(b, prevOf(C), X); },
         std::nullopt},
        {"tail names a removed block that its prev does not name back",
         [&](Bytes& b) { setWord(b, tailPrev, Y); },
         std::nullopt},
        {"tail names a removed block that leads into the list",
         [&](Bytes& b) {
             setWord(b, tailPrev, X);
             setWord(b, nextOf(X), C); // X -> C -> D, but C's prev is B
         },
         std::nullopt},
        {"removed blocks that lead back to a block after the disagreement",
         [&](Bytes& b) {
             setWord(b, prevOf(C), Y);
             setWord(b, nextOf(Y), C);
             setWord(b, nextOf(X), Y); // Y <- X <- D, not B
         },
         std::nullopt},
        {"first block's prev names a later block",
         [&](Bytes& b) { setWord(b, prevOf(A), C); },
         std::nullopt},
        {"two places that disagree",
         [&](Bytes& b) {
             setWord(b, prevOf(D), A); // looks like B and C pushed after A
             setWord(b, tailPrev, B);
         },
         std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes b = base;
        row.damage(b);
        writeFile(path("odd.uq"), b);
        CQueueFile q(kQueueFileSignature);
        if (!row.mended) {
            EXPECT_EQ(q.Open(path("odd.uq")), -1);
            EXPECT_EQ(q.error(), QueueFileCorrupt);
            EXPECT_EQ(fileBytes(path("odd.uq")), b) << "a refused file is left as it was";
            continue;
        }
        ASSERT_EQ(q.Open(path("odd.uq")), kQueueFileSignature) << q.errorText();
        EXPECT_TRUE(q.repaired());
        EXPECT_EQ(contents(q), *row.mended);
        List backwards;
        while (auto r = q.PopBack())
            backwards.insert(backwards.begin(), text(r));
        EXPECT_EQ(backwards, *row.mended);
    }
}

// A flushed batch leaves the file a plain queue would have made from the same
// calls, where the plain queue's pops leave nothing behind either.
TEST_F(QueueFileTest, AFlushedBatchLeavesTheBytesOfTheSameCallsMadeOneByOne)
{
    struct Row {
        const char* name;
        std::vector<std::string> start;
        int pops;
        std::vector<std::string> pushes;
    };
    const Row rows[] = {
        {"one push into an empty list", {}, 0, {"x"}},
        {"pushes into an empty list", {}, 0, {"x", "", std::string(3000, 'l'), "y"}},
        {"pushes after records", {"a", "b"}, 0, {"x", "y", "z"}},
        {"pops that empty the list, then pushes", {"a", "b"}, 2, {"x", "y"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes made[2];
        for (bool behind : {false, true}) {
            const std::string p = path(behind ? "behind.uq" : "plain.uq");
            ::unlink(p.c_str());
            CQueueFile q(kQueueFileSignature);
            ASSERT_EQ(q.Open(p), kQueueFileSignature);
            for (const std::string& s : row.start)
                ASSERT_TRUE(push(q, s));
            q.SetWriteBehind(behind);
            for (int i = 0; i < row.pops; ++i)
                ASSERT_TRUE(q.PopFront());
            for (const std::string& s : row.pushes)
                ASSERT_TRUE(push(q, s));
            ASSERT_TRUE(q.Flush());
            EXPECT_FALSE(q.HasPendingWrites());
            made[behind] = fileBytes(p);
        }
        EXPECT_EQ(made[true], made[false]);

        // And a plain queue reads it both ways.
        std::vector<std::string> expected(row.start.begin() + row.pops, row.start.end());
        expected.insert(expected.end(), row.pushes.begin(), row.pushes.end());
        CQueueFile plain(kQueueFileSignature);
        ASSERT_EQ(plain.Open(path("behind.uq")), kQueueFileSignature);
        EXPECT_FALSE(plain.repaired());
        EXPECT_EQ(contents(plain), expected);
        std::vector<std::string> backwards;
        while (auto r = plain.PopBack())
            backwards.insert(backwards.begin(), text(r));
        EXPECT_EQ(backwards, expected);
    }
}

// Whatever is pending reaches the file before any operation other than a
// push at the back or a pop at the front.
TEST_F(QueueFileTest, OtherOperationsWriteWhatIsPendingFirst)
{
    using List = std::vector<std::string>;
    struct Row {
        const char* name;
        std::function<void(CQueueFile&)> op;
        List onDisk; // start {a, b}; pending: a popped, x and y pushed
        const char* file = "q.uq";
    };
    const Row rows[] = {
        {"flush", [](CQueueFile& q) { EXPECT_TRUE(q.Flush()); }, {"b", "x", "y"}},
        {"write-behind off", [](CQueueFile& q) { q.SetWriteBehind(false); }, {"b", "x", "y"}},
        {"push at the front", [](CQueueFile& q) { EXPECT_TRUE(push(q, "n", true)); }, {"n", "b", "x", "y"}},
        {"pop at the back", [](CQueueFile& q) { EXPECT_EQ(text(q.PopBack()), "y"); }, {"b", "x"}},
        {"first", [](CQueueFile& q) { uint32_t p; EXPECT_EQ(text(q.First(p)), "b"); }, {"b", "x", "y"}},
        {"last", [](CQueueFile& q) { EXPECT_EQ(text(q.Last()), "y"); }, {"b", "x", "y"}},
        {"close", [](CQueueFile& q) { q.Close(); }, {"b", "x", "y"}},
        {"move by opening elsewhere",
         [&](CQueueFile& q) { EXPECT_EQ(q.Open(path("moved.uq")), kQueueFileSignature); },
         {"b", "x", "y"},
         "moved.uq"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ::unlink(path().c_str());
        CQueueFile q(kQueueFileSignature);
        ASSERT_EQ(q.Open(path()), kQueueFileSignature);
        ASSERT_TRUE(push(q, "a"));
        ASSERT_TRUE(push(q, "b"));
        q.SetWriteBehind(true);
        EXPECT_EQ(text(q.PopFront()), "a");
        ASSERT_TRUE(push(q, "x"));
        ASSERT_TRUE(push(q, "y"));
        EXPECT_TRUE(q.HasPendingWrites());
        const Bytes before = fileBytes(path());
        EXPECT_EQ(before.size(), 70u) << "nothing written yet";

        row.op(q);
        EXPECT_FALSE(q.HasPendingWrites());
        CQueueFile reader(kQueueFileSignature);
        ASSERT_EQ(reader.Open(path(row.file)), kQueueFileSignature);
        EXPECT_FALSE(reader.repaired());
        EXPECT_EQ(contents(reader), row.onDisk);
    }
}

TEST_F(QueueFileTest, ResetDropsWhatIsPending)
{
    CQueueFile q(kQueueFileSignature);
    ASSERT_EQ(q.Open(path()), kQueueFileSignature);
    ASSERT_TRUE(push(q, "a"));
    q.SetWriteBehind(true);
    ASSERT_TRUE(q.PopFront());
    ASSERT_TRUE(push(q, "x"));
    ASSERT_TRUE(q.Reset());
    EXPECT_FALSE(q.HasPendingWrites());
    EXPECT_TRUE(q.IsEmpty());
    EXPECT_FALSE(q.PopFront());
    EXPECT_EQ(fileBytes(path()).size(), 44u);
    ASSERT_TRUE(push(q, "b"));
    q.Close();
    CQueueFile reader(kQueueFileSignature);
    ASSERT_EQ(reader.Open(path()), kQueueFileSignature);
    EXPECT_EQ(contents(reader), std::vector<std::string>{"b"});
}

// Whatever is added between flushes, only a bounded part of it waits in
// memory: the rest is in the file already, in order.
TEST_F(QueueFileTest, WriteBehindWritesALongRunOfPushesAsItGoes)
{
    CQueueFile q(kQueueFileSignature);
    ASSERT_EQ(q.Open(path()), kQueueFileSignature);
    q.SetWriteBehind(true);
    const std::string record(100, 'r');
    for (int i = 0; i < 10000; ++i)
        ASSERT_TRUE(push(q, record + std::to_string(i)));
    EXPECT_GT(fileBytes(path()).size(), 10000u * 100 - 70 * 1024) << "at most 64 KB may still wait";
    ASSERT_TRUE(q.Flush());
    CQueueFile reader(kQueueFileSignature);
    q.Close();
    ASSERT_EQ(reader.Open(path()), kQueueFileSignature);
    const std::vector<std::string> all = contents(reader);
    ASSERT_EQ(all.size(), 10000u);
    EXPECT_EQ(all.front(), record + "0");
    EXPECT_EQ(all.back(), record + "9999");
}

// A seeded random mix of every operation against a std::deque: write-behind
// (switched on and off now and then) must give the records a plain queue
// gives, and whatever it wrote must read back in a fresh plain queue.
TEST_F(QueueFileTest, WriteBehindHoldsWhatAPlainQueueHolds)
{
    for (uint32_t seed : {1u, 2u, 3u, 4u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        auto chance = [&](int percent) { return int(random() % 100) < percent; };
        std::deque<std::string> model;
        const std::string p = path("model.uq");
        ::unlink(p.c_str());
        auto q = std::make_unique<CQueueFile>(kQueueFileSignature);
        ASSERT_EQ(q->Open(p), kQueueFileSignature);
        q->SetWriteBehind(true);
        int serial = 0;
        auto record = [&] {
            std::string s = std::to_string(serial++) + ":";
            const int kind = int(random() % 100);
            // Mostly short; some empty, some longer than a pop's first read,
            // a few longer than the read window.
            size_t length = kind < 5 ? 0 : kind < 85 ? random() % 40 : kind < 98 ? 600 + random() % 400 : 20000;
            s.resize(std::max(s.size(), length), char('a' + serial % 26));
            return s;
        };
        for (int step = 0; step < 3000; ++step) {
            SCOPED_TRACE("step " + std::to_string(step));
            const int op = int(random() % 100);
            if (op < 40) {
                // Bursts of pushes and of pops, as a crawl makes them.
                for (int n = 1 + int(random() % 4); n > 0; --n) {
                    const std::string s = record();
                    ASSERT_TRUE(push(*q, s));
                    model.push_back(s);
                }
            } else if (op < 75) {
                for (int n = 1 + int(random() % 4); n > 0; --n) {
                    const std::string expected = model.empty() ? "<none>" : model.front();
                    ASSERT_EQ(text(q->PopFront()), expected);
                    if (!model.empty())
                        model.pop_front();
                }
            } else if (op < 79) {
                const std::string s = record();
                ASSERT_TRUE(push(*q, s, true));
                model.push_front(s);
            } else if (op < 83) {
                ASSERT_EQ(text(q->PopBack()), model.empty() ? "<none>" : model.back());
                if (!model.empty())
                    model.pop_back();
            } else if (op < 88) {
                ASSERT_TRUE(q->Flush());
                ASSERT_FALSE(q->HasPendingWrites());
            } else if (op < 90) {
                q->SetWriteBehind(!q->writeBehind());
            } else if (op < 92) {
                ASSERT_EQ(text(q->Last()), model.empty() ? "<none>" : model.back());
            } else if (op < 94) {
                ASSERT_EQ(contents(*q), std::vector<std::string>(model.begin(), model.end()));
            } else if (op < 99) {
                // Closed (which writes what is pending) and read back by a
                // plain queue, which then carries on in either mode.
                const bool behind = q->writeBehind();
                q->Close();
                q = std::make_unique<CQueueFile>(kQueueFileSignature);
                ASSERT_EQ(q->Open(p), kQueueFileSignature) << q->errorText();
                ASSERT_FALSE(q->repaired());
                ASSERT_EQ(contents(*q), std::vector<std::string>(model.begin(), model.end()));
                q->SetWriteBehind(behind || chance(50));
            } else {
                ASSERT_TRUE(q->Reset());
                model.clear();
            }
            ASSERT_EQ(q->IsEmpty(), model.empty());
        }
        q->Close();
        CQueueFile plain(kQueueFileSignature);
        ASSERT_EQ(plain.Open(p), kQueueFileSignature);
        std::vector<std::string> backwards;
        while (auto r = plain.PopBack())
            backwards.insert(backwards.begin(), text(r));
        EXPECT_EQ(backwards, std::vector<std::string>(model.begin(), model.end()));
    }
}

TEST_F(QueueFileTest, LockedFormKeepsEveryRecordOfTwoThreads)
{
    CLockedQueueFile q(kQueueFileSignature);
    ASSERT_EQ(q.Open(path()), kQueueFileSignature);
    auto worker = [&q](char tag) {
        for (int i = 0; i < 500; ++i) {
            std::string s(20, tag);
            q.PushBack(s.data(), uint32_t(s.size()));
        }
    };
    std::thread t1(worker, 'x'), t2(worker, 'y');
    t1.join();
    t2.join();
    int x = 0, y = 0;
    while (auto r = q.PopFront())
        (r->front() == 'x' ? x : y)++;
    EXPECT_EQ(x, 500);
    EXPECT_EQ(y, 500);
}
