#include "common/queue_entry.h"

#include <gtest/gtest.h>

#include <functional>

using namespace ormbrook;

namespace {

QueueEntry sample()
{
    QueueEntry e;
    e.reservedA = 7;
    e.retries = 2;
    e.maxDepth = 3;
    e.depth = 1;
    e.reservedB = -1;
    e.folderPath = "Proj/News";
    e.recordUrl = "http://site/";
    e.referrer = "http://site/index.html";
    e.url = "http://site/a.html";
    return e;
}

} // namespace

TEST(QueueEntry, EncodesElevenCountedFieldsWithTextsEndingInNul)
{
    QueueEntry e;
    e.retries = 0x01020304;
    e.folderPath = "P";
    e.url = "u";
    std::vector<uint8_t> b = EncodeQueueEntry(e);
    const std::vector<uint8_t> expected = {
        4, 0, 0, 0, 0, 0, 0, 0, // reserved0
        4, 0, 0, 0, 0, 0, 0, 0, // reservedA
        4, 0, 0, 0, 4, 3, 2, 1, // retries
        4, 0, 0, 0, 0, 0, 0, 0, // maxDepth
        4, 0, 0, 0, 0, 0, 0, 0, // depth
        4, 0, 0, 0, 0, 0, 0, 0, // reservedB
        2, 0, 0, 0, 'P', 0,     // folderPath
        1, 0, 0, 0, 0,          // recordUrl
        1, 0, 0, 0, 0,          // referrer
        2, 0, 0, 0, 'u', 0,     // url
        1, 0, 0, 0, 0,          // robotsUrl
    };
    EXPECT_EQ(b, expected);
}

TEST(QueueEntry, DecodesWhatItEncodes)
{
    QueueEntry e = sample();
    std::vector<uint8_t> b = EncodeQueueEntry(e);
    auto back = DecodeQueueEntry(b.data(), b.size());
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, e);
}

TEST(QueueEntry, MalformedRecordsAreRefused)
{
    const std::vector<uint8_t> good = EncodeQueueEntry(sample());
    struct Row {
        const char* name;
        std::function<void(std::vector<uint8_t>&)> damage;
    };
    const Row rows[] = {
        {"empty", [](auto& b) { b.clear(); }},
        {"cut inside a count", [](auto& b) { b.resize(2); }},
        {"cut inside the last text", [](auto& b) { b.pop_back(); }},
        {"integer of three bytes", [](auto& b) { b[0] = 3; }},
        {"text count past the end", [](auto& b) { b[48] = 0xFF; }},
        {"count near 4 GB", [](auto& b) { b[48 + 3] = 0xFF; }},
        {"text without its NUL", [](auto& b) { b[48 + 4 + 9] = 'x'; }},
        {"NUL inside a text", [](auto& b) { b[48 + 4 + 2] = 0; }},
        {"trailing bytes", [](auto& b) { b.push_back(0); }},
        {"text of count zero", [](auto& b) {
             std::vector<uint8_t> e = EncodeQueueEntry(QueueEntry{});
             e[48] = 0; // folderPath count 0, its NUL then reads as the next count
             b = e;
         }},
    };
    for (const Row& row : rows) {
        std::vector<uint8_t> b = good;
        row.damage(b);
        EXPECT_FALSE(DecodeQueueEntry(b.data(), b.size())) << row.name;
    }
}
