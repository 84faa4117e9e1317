#include "pictures/pickup_entry.h"

#include <gtest/gtest.h>

using namespace ormbrook;

namespace {

std::string AsText(const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); }

PickupEntry Sample()
{
    PickupEntry e;
    e.bgColor = 0x00102030;
    e.drawType = 11;
    e.drawSpeed = 5;
    e.maxDepth = -1;
    e.depth = 2;
    e.minWidth = 640;
    e.minHeight = 480;
    e.followImages = 1;
    e.interval = 86400;
    e.caption = "New Picture";
    e.path = "/m/P/h/a.jpg";
    e.folder = "";
    e.pageUrl = "";
    return e;
}

} // namespace

TEST(PickupRecord, EncodesLengthPrefixedFieldsLittleEndian)
{
    const auto bytes = EncodePickupRecord(Sample());
    ASSERT_EQ(bytes.size(), 92u + 11 + 12);
    // First integer: length 4, then 0x00102030.
    EXPECT_EQ(AsText(bytes).substr(0, 8), std::string("\x04\0\0\0\x30\x20\x10\0", 8));
    // maxDepth -1 is stored as its two's complement.
    EXPECT_EQ(AsText(bytes).substr(3 * 8, 8), std::string("\x04\0\0\0\xff\xff\xff\xff", 8));
    // The caption: length 12 (text + NUL), the text, the NUL.
    EXPECT_EQ(AsText(bytes).substr(72, 16), std::string("\x0c\0\0\0New Picture\0", 16));
    // Empty texts still carry their NUL.
    EXPECT_EQ(AsText(bytes).substr(bytes.size() - 10), std::string("\x01\0\0\0\0\x01\0\0\0\0", 10));
    EXPECT_EQ(DecodePickupRecord(AsText(bytes)), Sample());
}

TEST(PickupRecord, DecoderRefusesWhatTheEncoderNeverWrites)
{
    const std::string good = AsText(EncodePickupRecord(Sample()));
    struct Row {
        const char* name;
        std::string bytes;
    };
    std::string badIntLength = good;
    badIntLength[8] = 8;
    std::string textPastEnd = good;
    textPastEnd[72] = 100;
    std::string zeroTextLength = good;
    zeroTextLength[72] = 0;
    std::string noFinalNul = good;
    noFinalNul[72 + 4 + 11] = '!';
    std::string nulInside = good;
    nulInside[72 + 4 + 3] = '\0';
    const Row rows[] = {
        {"empty", ""},
        {"integers_only", good.substr(0, 72)},
        {"cut_in_last_text", good.substr(0, good.size() - 1)},
        {"trailing_byte", good + "x"},
        {"integer_length_not_4", badIntLength},
        {"text_runs_past_record", textPastEnd},
        {"text_without_length", zeroTextLength},
        {"text_not_nul_ended", noFinalNul},
        {"nul_inside_text", nulInside},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_FALSE(DecodePickupRecord(r.bytes).has_value());
    }
}
