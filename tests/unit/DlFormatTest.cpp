#include "service/DlFormat.h"

#include <gtest/gtest.h>

TEST(DlFormat, Size)
{
    const std::pair<double, const char*> cases[] = {
        {0, "0 Bytes"},           {1023, "1023 Bytes"},      {-5, "-5 Bytes"},
        {1024, "1.00 KB"},        {1536, "1.50 KB"},         {1048576, "1.00 MB"},
        {15728640, "15.00 MB"},   {1073741824.0 * 2.5, "2.50 GB"}, {1099511627776.0, "1.00 TB"},
        {1099511627776.0 * 1024, ""},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(FormatSize(value), text) << value;
}

TEST(DlFormat, Speed)
{
    const std::pair<double, const char*> cases[] = {
        {0, "0.0 Bytes"},   {-1, "0.0 Bytes"},         {512, "512 Bytes"},
        {2048, "2.00 KB/Sec"}, {1572864, "1.50 MB/Sec"}, {1099511627776.0 * 1024, "0.0 Bytes"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(FormatSpeed(value), text) << value;
}

TEST(DlFormat, DurationShowsTotalHours)
{
    const std::pair<long long, const char*> cases[] = {
        {0, "00:00:00"}, {59, "00:00:59"}, {3661, "01:01:01"}, {90000, "25:00:00"}, {-3, "00:00:00"},
        {360000, "100:00:00"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(FormatDuration(value), text) << value;
}
