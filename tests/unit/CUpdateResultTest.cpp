#include "engine/CUpdateResult.h"

#include <gtest/gtest.h>

#include <vector>

TEST(CUpdateResultTest, EveryCodeButSuccessSpoilsTheUpdate)
{
    struct Case {
        std::vector<int> codes;
        int ok;
    } cases[] = {
        {{}, 1},  {{0}, 1},  {{0, 0}, 1}, {{7}, 0},         {{0, 7}, 0}, {{-1}, 0},
        {{8}, 0}, {{1}, 0},  {{6}, 0},    {{4, 0}, 0},      {{0, 0, 3}, 0},
    };
    for (const Case& c : cases) {
        CUpdateResult result;
        for (int code : c.codes) result.Record(code);
        EXPECT_EQ(result.IsOk(), c.ok) << testing::PrintToString(c.codes);
    }
}
