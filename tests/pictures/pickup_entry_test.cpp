#include "pictures/pickup_entry.h"

#include <gtest/gtest.h>

using namespace ormbrook;

TEST(PickupRecord, EncodesLengthPrefixedFieldsAndRefusesWhatItNeverWrites)
{
    PickupEntry e;
    e.bgColor = 0x00102030;
    e.maxDepth = -1;
    e.interval = 86400;
    e.caption = "New Picture";
    e.path = "/m/a.jpg";
    const auto bytes = EncodePickupRecord(e);
    const std::string good(bytes.begin(), bytes.end());
    ASSERT_EQ(good.size(), 92u + 11 + 8);
    EXPECT_EQ(good.substr(0, 8), std::string("\x04\0\0\0\x30\x20\x10\0", 8));
    EXPECT_EQ(good.substr(24, 8), std::string("\x04\0\0\0\xff\xff\xff\xff", 8));
    EXPECT_EQ(good.substr(72, 16), std::string("\x0c\0\0\0New Picture\0", 16));
    EXPECT_EQ(good.substr(good.size() - 10), std::string("\x01\0\0\0\0\x01\0\0\0\0", 10)); // empty texts keep their NUL
    EXPECT_EQ(DecodePickupRecord(good), e);

    auto with = [&](size_t at, char c) {
        std::string s = good;
        s[at] = c;
        return s;
    };
    const std::pair<const char*, std::string> broken[] = {
        {"empty", ""},
        {"integers_only", good.substr(0, 72)},
        {"cut_in_last_text", good.substr(0, good.size() - 1)},
        {"trailing_byte", good + "x"},
        {"integer_length_not_4", with(8, 8)},
        {"text_runs_past_record", with(72, 100)},
        {"text_without_length", with(72, 0)},
        {"text_not_nul_ended", with(72 + 4 + 11, '!')},
        {"nul_inside_text", with(72 + 4 + 3, '\0')},
    };
    for (const auto& [name, record] : broken) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(DecodePickupRecord(record).has_value());
    }
}
