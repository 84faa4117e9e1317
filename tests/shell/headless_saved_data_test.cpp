#include "shell/headless_saved_data.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace ormbrook;

TEST(ConfirmDelete, OnlyAYesGoesOn)
{
    struct Case {
        const char* intent;
        std::string typed;
        bool goesOn;
    } cases[] = {
        {"y", "y\n", true},
        {"yes in capitals", "YES\n", true},
        {"spaces around the answer", "  yes \r\n", true},
        {"no", "n\n", false},
        {"just Enter", "\n", false},
        {"end of input", "", false},
        {"a word that only starts with yes", "yesterday\n", false},
        {"letters apart", "y e s\n", false},
    };
    for (const auto& c : cases) {
        std::FILE* in = std::tmpfile();
        std::FILE* out = std::tmpfile();
        ASSERT_TRUE(in && out);
        std::fputs(c.typed.c_str(), in);
        std::rewind(in);
        EXPECT_EQ(ConfirmDelete(in, out), c.goesOn) << c.intent;
        std::rewind(out);
        char asked[128] = {};
        std::fgets(asked, sizeof asked, out);
        EXPECT_EQ(std::string(asked).rfind(kDeleteQuestion, 0), 0u) << c.intent;
        std::fclose(in);
        std::fclose(out);
    }
}
