#include "app/COXToolTipCtrl.h"

#include <gtest/gtest.h>

namespace {

// Ten pixels a character, so widths read as character counts.
int Measure(const wxString& s)
{
    return static_cast<int>(s.length()) * 10;
}

struct WrapCase {
    const char* text;
    int maxWidth;
    std::vector<const char*> lines;
};

class ToolTipWrapTest : public testing::TestWithParam<WrapCase> {};

TEST_P(ToolTipWrapTest, LinesWithinTheWidth)
{
    const WrapCase& c = GetParam();
    std::vector<wxString> lines = COXToolTipCtrl::WrapLines(wxString::FromUTF8(c.text), c.maxWidth, Measure);
    ASSERT_EQ(lines.size(), c.lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], wxString::FromUTF8(c.lines[i])) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ToolTipWrapTest,
    testing::Values(WrapCase{"short", 350, {"short"}},
                    WrapCase{"one\ntwo", 0, {"one", "two"}},
                    WrapCase{"alpha beta gamma", 100, {"alpha beta", "gamma"}},
                    WrapCase{"aaa bbbbbbbbbb", 50, {"aaa", "bbbbb", "bbbbb"}},
                    // Chinese has no blanks: it breaks between characters.
                    WrapCase{"超高速下載只有在下載時", 50, {"超高速下載", "只有在下載", "時"}}));

} // namespace
