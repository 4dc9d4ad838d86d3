#include "netlib/http/utCUriCodec.h"

#include "unit/TestNames.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

const char kKeptBytes[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789*+-.@_";

enum class Op { Encode, Decode };

// Runs the two-call pattern and checks that both calls agree with what was
// written; a guard byte behind the terminator must stay untouched.
std::string RunTwoCalls(Op op, const std::string& source)
{
    utCUriCodec codec;
    auto call = [&](char* destination, int32_t* length) {
        return op == Op::Encode ? codec.Encode(source.c_str(), destination, length)
                                : codec.Decode(source.c_str(), destination, length);
    };
    int32_t sized = -1;
    EXPECT_EQ(call(nullptr, &sized), VQ_OK_UTILITY);
    std::vector<char> buffer(static_cast<size_t>(sized) + 2, '\x7F');
    int32_t written = -1;
    EXPECT_EQ(call(buffer.data(), &written), VQ_OK_UTILITY);
    EXPECT_EQ(written, sized);
    EXPECT_EQ(buffer[static_cast<size_t>(sized)], '\0');
    EXPECT_EQ(buffer[static_cast<size_t>(sized) + 1], '\x7F');
    EXPECT_EQ(strlen(buffer.data()), static_cast<size_t>(sized));
    return std::string(buffer.data(), static_cast<size_t>(sized));
}

struct CodecCase {
    const char* source;
    const char* expected;
};

void PrintTo(const CodecCase& c, std::ostream* os)
{
    *os << PrintableBytes(c.source);
}

class EncodeCases : public testing::TestWithParam<CodecCase> {};
class DecodeCases : public testing::TestWithParam<CodecCase> {};

} // namespace

TEST_P(EncodeCases, WritesTheExpectedText)
{
    EXPECT_EQ(RunTwoCalls(Op::Encode, GetParam().source), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(utCUriCodec, EncodeCases,
                         testing::Values(CodecCase{"a b/c~", "a%20b%2Fc%7E"},
                                         CodecCase{kKeptBytes, kKeptBytes},
                                         CodecCase{"\xE4", "%E4"},
                                         CodecCase{"%20", "%2520"},
                                         CodecCase{"?&=:#", "%3F%26%3D%3A%23"},
                                         CodecCase{"\x01\x7F\xFF", "%01%7F%FF"},
                                         CodecCase{"\r\n", "%0D%0A"}));

TEST_P(DecodeCases, WritesTheExpectedText)
{
    EXPECT_EQ(RunTwoCalls(Op::Decode, GetParam().source), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(utCUriCodec, DecodeCases,
                         testing::Values(CodecCase{"%41%4a%4A", "AJJ"},
                                         CodecCase{"a%20b%2Fc%7E", "a b/c~"},
                                         CodecCase{"%E4", "\xE4"},
                                         CodecCase{"a+b", "a+b"},
                                         CodecCase{"%2B", "+"},
                                         // malformed escapes are copied as they stand
                                         CodecCase{"%", "%"},
                                         CodecCase{"ab%", "ab%"},
                                         CodecCase{"%4", "%4"},
                                         CodecCase{"x%4", "x%4"},
                                         CodecCase{"%zz", "%zz"},
                                         CodecCase{"%4G%41", "%4GA"},
                                         CodecCase{"%%41", "%A"},
                                         CodecCase{"%41%", "A%"},
                                         // an escaped NUL would end the text early
                                         CodecCase{"a%00b", "a%00b"},
                                         CodecCase{"%0A%0d", "\n\r"}));

TEST(utCUriCodec, EncodeKeepsExactlyTheSixtyEightBytesAndEscapesTheRestInUpperCase)
{
    int kept = 0;
    for (int byte = 1; byte < 256; ++byte) {
        const std::string source(1, static_cast<char>(byte));
        const std::string encoded = RunTwoCalls(Op::Encode, source);
        if (strchr(kKeptBytes, byte)) {
            ++kept;
            EXPECT_EQ(encoded, source) << byte;
        } else {
            char escape[4];
            snprintf(escape, sizeof escape, "%%%02X", byte);
            EXPECT_EQ(encoded, escape) << byte;
        }
    }
    EXPECT_EQ(kept, 68);
}

TEST(utCUriCodec, NullOrEmptySourceFailsAndWritesNothing)
{
    utCUriCodec codec;
    char destination[4] = {'x', 'x', 'x', 'x'};
    for (const char* source : {static_cast<const char*>(nullptr), ""}) {
        int32_t length = 77;
        EXPECT_EQ(codec.Encode(source, destination, &length), VQ_E_UTILITY);
        EXPECT_EQ(codec.Decode(source, destination, &length), VQ_E_UTILITY);
        EXPECT_EQ(length, 77);
        EXPECT_EQ(destination[0], 'x');
    }
}

TEST(utCUriCodec, InPlaceFormsReplaceTheTextAndLeaveAnEmptyTextEmpty)
{
    utCUriCodec codec;
    vqCString text("a b/c~");
    EXPECT_EQ(codec.EncodeInPlace(text), VQ_OK_UTILITY);
    EXPECT_EQ(text, "a%20b%2Fc%7E");
    EXPECT_EQ(codec.DecodeInPlace(text), VQ_OK_UTILITY);
    EXPECT_EQ(text, "a b/c~");

    vqCString empty;
    EXPECT_EQ(codec.EncodeInPlace(empty), VQ_E_UTILITY);
    EXPECT_EQ(codec.DecodeInPlace(empty), VQ_E_UTILITY);
    EXPECT_TRUE(empty.IsEmpty());
}

TEST(utCUriCodec, EncodeThenDecodeGivesBackEveryByteStringWithoutNul)
{
    std::mt19937 random(20240607u);
    std::uniform_int_distribution<int> byte(1, 255);
    std::uniform_int_distribution<int> size(1, 64);
    utCUriCodec codec;
    for (int round = 0; round < 2000; ++round) {
        std::string source(static_cast<size_t>(size(random)), '\0');
        for (char& c : source) c = static_cast<char>(byte(random));
        vqCString text(source.c_str());
        ASSERT_EQ(codec.EncodeInPlace(text), VQ_OK_UTILITY);
        for (const char* p = text.GetString(); *p; ++p) ASSERT_TRUE(*p == '%' || strchr(kKeptBytes, *p));
        ASSERT_EQ(codec.DecodeInPlace(text), VQ_OK_UTILITY);
        ASSERT_EQ(std::string(text.GetString(), text.GetLength()), source);
    }
}
