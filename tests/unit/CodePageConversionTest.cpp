#include "netlib/http/CodePageConversion.h"

#include "platform/CodePage.h"

#include "unit/TestNames.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

struct ConversionCase {
    const char* codeset;
    const char* source;
    const char* expected;
};

void PrintTo(const ConversionCase& c, std::ostream* os)
{
    *os << c.codeset << ":" << PrintableBytes(c.source);
}

std::string Text(const vqCString& text)
{
    return std::string(text.GetString(), text.GetLength());
}

class CodePageConversion : public testing::Test {
protected:
    void TearDown() override { SetSystemCodeSetForTesting(nullptr); }
};

class AnsiToUtf8Cases : public CodePageConversion, public testing::WithParamInterface<ConversionCase> {};
class Utf8ToAnsiCases : public CodePageConversion, public testing::WithParamInterface<ConversionCase> {};

} // namespace

TEST_P(AnsiToUtf8Cases, ConvertsFromTheSystemCodeSet)
{
    SetSystemCodeSetForTesting(GetParam().codeset);
    vqCString out("stale");
    EXPECT_EQ(AnsiToUtf8(GetParam().source, out), VQ_OK_PLATFORM);
    EXPECT_EQ(Text(out), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    CodePageConversion, AnsiToUtf8Cases,
    testing::Values(ConversionCase{"UTF-8", "/files/\xED\x95\x9C.zip", "/files/\xED\x95\x9C.zip"},
                    ConversionCase{"EUC-KR", "/\xC7\xD1\xB1\xDB.zip", "/\xED\x95\x9C\xEA\xB8\x80.zip"},
                    ConversionCase{"ISO-8859-1", "caf\xE9", "caf\xC3\xA9"},
                    // bytes invalid in the codeset are kept as they are
                    ConversionCase{"UTF-8", "a\xC7\xD1z", "a\xC7\xD1z"},
                    ConversionCase{"UTF-8", "\xC0\xAF\xED\xA0\x80", "\xC0\xAF\xED\xA0\x80"},
                    ConversionCase{"ANSI_X3.4-1968", "caf\xC3\xA9", "caf\xC3\xA9"},
                    // a multibyte character cut off at the end
                    ConversionCase{"EUC-KR", "ab\xC7", "ab\xC7"},
                    ConversionCase{"UTF-8", "ab\xE4\xB8", "ab\xE4\xB8"},
                    ConversionCase{"UTF-8", "", ""}));

TEST_P(Utf8ToAnsiCases, ConvertsToTheSystemCodeSet)
{
    SetSystemCodeSetForTesting(GetParam().codeset);
    vqCString out("stale");
    EXPECT_EQ(Utf8ToAnsi(GetParam().source, out), VQ_OK_PLATFORM);
    EXPECT_EQ(Text(out), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    CodePageConversion, Utf8ToAnsiCases,
    testing::Values(ConversionCase{"EUC-KR", "/\xED\x95\x9C\xEA\xB8\x80.zip", "/\xC7\xD1\xB1\xDB.zip"},
                    ConversionCase{"ISO-8859-1", "caf\xC3\xA9", "caf\xE9"},
                    // one "?" per character the codeset lacks
                    ConversionCase{"ISO-8859-1", "a\xED\x95\x9C\xF0\x9F\x98\x80z", "a??z"},
                    ConversionCase{"EUC-KR", "a\xF0\x9F\x98\x80z", "a?z"},
                    // invalid UTF-8 is kept as it is
                    ConversionCase{"UTF-8", "\xFF\xC7\xD1/\x80", "\xFF\xC7\xD1/\x80"},
                    ConversionCase{"ISO-8859-1", "\xFFx\xE4\xB8", "\xFFx\xE4\xB8"}));

TEST_F(CodePageConversion, NullSourceGivesAnEmptyText)
{
    vqCString out("stale");
    EXPECT_EQ(AnsiToUtf8(nullptr, out), VQ_OK_PLATFORM);
    EXPECT_TRUE(out.IsEmpty());
    out = "stale";
    EXPECT_EQ(Utf8ToAnsi(nullptr, out), VQ_OK_PLATFORM);
    EXPECT_TRUE(out.IsEmpty());
}

TEST_F(CodePageConversion, UnknownCodeSetFailsWithAnEmptyText)
{
    SetSystemCodeSetForTesting("NO-SUCH-CODESET");
    vqCString out("stale");
    EXPECT_EQ(AnsiToUtf8("abc", out), VQ_E_PLATFORM);
    EXPECT_TRUE(out.IsEmpty());
    out = "stale";
    EXPECT_EQ(Utf8ToAnsi("abc", out), VQ_E_PLATFORM);
    EXPECT_TRUE(out.IsEmpty());
}

TEST_F(CodePageConversion, LongTextsWithBadBytesConvertWhole)
{
    SetSystemCodeSetForTesting("EUC-KR");
    std::string ansi, utf8;
    for (int i = 0; i < 3000; ++i) {
        ansi += "\xC7\xD1\xFF";
        utf8 += "\xED\x95\x9C\xFF";
    }
    vqCString out;
    ASSERT_EQ(AnsiToUtf8(ansi.c_str(), out), VQ_OK_PLATFORM);
    EXPECT_EQ(Text(out), utf8);
    ASSERT_EQ(Utf8ToAnsi(utf8.c_str(), out), VQ_OK_PLATFORM);
    EXPECT_EQ(Text(out), ansi);
}

TEST_F(CodePageConversion, SystemCodeSetFollowsTheEnvironmentsLocale)
{
    const char* saved = getenv("LC_ALL");
    const std::string restore = saved ? saved : "";
    setenv("LC_ALL", "C.UTF-8", 1);
    EXPECT_EQ(SystemCodeSet(), "UTF-8");
    setenv("LC_ALL", "C", 1);
    EXPECT_EQ(SystemCodeSet(), "ANSI_X3.4-1968");
    SetSystemCodeSetForTesting("EUC-KR");
    EXPECT_EQ(SystemCodeSet(), "EUC-KR");
    if (saved) setenv("LC_ALL", restore.c_str(), 1);
    else unsetenv("LC_ALL");
}
