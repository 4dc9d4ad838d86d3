// The chunked body decoder: bodies split at every offset and fed byte by
// byte give the same bytes and end at the same place; every framing fault
// is a bad body, and a body cut anywhere before its end is never done.

#include "netlib/http/nwCChunkedDecoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Status = nwCChunkedDecoder::Status;

struct Outcome {
    Status status = Status::kMore;
    std::string body;
    // Input bytes read up to the end of the body (all of them while it goes on).
    size_t used = 0;
};

// Feeds the pieces in order, as a connection would deliver them.
Outcome Decode(const std::vector<std::string>& pieces)
{
    nwCChunkedDecoder decoder;
    Outcome outcome;
    for (const std::string& piece : pieces) {
        const auto* data = reinterpret_cast<const unsigned char*>(piece.data());
        size_t at = 0;
        while (at < piece.size() && decoder.GetStatus() == Status::kMore) {
            size_t used = 0;
            const unsigned char* body = nullptr;
            size_t length = 0;
            decoder.Next(data + at, piece.size() - at, &used, &body, &length);
            EXPECT_GT(used, 0u) << "every call reads at least one byte";
            outcome.body.append(reinterpret_cast<const char*>(body), length);
            at += used;
            outcome.used += used;
        }
    }
    outcome.status = decoder.GetStatus();
    EXPECT_EQ(decoder.BodyBytes(), outcome.body.size());
    return outcome;
}

const std::string kBinary("\r\n0\r\n\r\n\0\xff", 9);

struct Good {
    const char* name;
    std::string wire;
    std::string body;
};

const std::vector<Good> kGood = {
    {"one chunk", "5\r\nhello\r\n0\r\n\r\n", "hello"},
    {"several chunks, upper and lower hex", "3\r\nabc\r\nA\r\n0123456789\r\na\r\nABCDEFGHIJ\r\n0\r\n\r\n",
     "abc0123456789ABCDEFGHIJ"},
    {"framing bytes inside the body", "9\r\n" + kBinary + "\r\n0\r\n\r\n", kBinary},
    {"leading zeros", "0004\r\nwxyz\r\n000\r\n\r\n", "wxyz"},
    {"extensions", "4;name=value;x=\"q;r\"\r\nwxyz\r\n0;last\r\n\r\n", "wxyz"},
    {"blank before an extension", "4 ;a=b\r\nwxyz\r\n0\r\n\r\n", "wxyz"},
    {"trailer fields", "4\r\nwxyz\r\n0\r\nDigest: x\r\nExpires: never\r\n\r\n", "wxyz"},
    {"empty body", "0\r\n\r\n", ""},
};

TEST(nwCChunkedDecoder, ReadsEveryBodySplitAtEveryOffsetAndByteByByte)
{
    for (const Good& good : kGood) {
        SCOPED_TRACE(good.name);
        const Outcome whole = Decode({good.wire});
        EXPECT_EQ(whole.status, Status::kDone);
        EXPECT_EQ(whole.body, good.body);
        EXPECT_EQ(whole.used, good.wire.size());
        for (size_t split = 0; split <= good.wire.size(); ++split) {
            const Outcome two = Decode({good.wire.substr(0, split), good.wire.substr(split)});
            EXPECT_EQ(two.status, Status::kDone) << "split at " << split;
            EXPECT_EQ(two.body, good.body) << "split at " << split;
        }
        std::vector<std::string> bytes;
        for (char c : good.wire) bytes.emplace_back(1, c);
        const Outcome single = Decode(bytes);
        EXPECT_EQ(single.status, Status::kDone);
        EXPECT_EQ(single.body, good.body);
    }
}

TEST(nwCChunkedDecoder, BytesAfterTheEndAreNotTheBodys)
{
    const Outcome outcome = Decode({"3\r\nabc\r\n0\r\n\r\nHTTP/1.1 200 OK\r\n"});
    EXPECT_EQ(outcome.status, Status::kDone);
    EXPECT_EQ(outcome.body, "abc");
    EXPECT_EQ(outcome.used, std::string("3\r\nabc\r\n0\r\n\r\n").size());
}

TEST(nwCChunkedDecoder, ABodyCutAnywhereBeforeItsEndIsNeverDone)
{
    const std::string wire = "5\r\nhello\r\n3;x=y\r\nabc\r\n0\r\nT: v\r\n\r\n";
    for (size_t cut = 0; cut < wire.size(); ++cut) {
        const Outcome outcome = Decode({wire.substr(0, cut)});
        EXPECT_EQ(outcome.status, Status::kMore) << "cut at " << cut;
        EXPECT_EQ(outcome.body, std::string("helloabc").substr(0, outcome.body.size())) << "cut at " << cut;
    }
}

TEST(nwCChunkedDecoder, BrokenFramingIsABadBody)
{
    const struct {
        const char* name;
        std::string wire;
    } kBad[] = {
        {"no size", "\r\nabc\r\n0\r\n\r\n"},
        {"size not hexadecimal", "g\r\nabc\r\n0\r\n\r\n"},
        {"negative size", "-3\r\nabc\r\n0\r\n\r\n"},
        {"size of 16 digits", "1000000000000000\r\n"},
        {"bare LF after the size", "3\nabc\r\n0\r\n\r\n"},
        {"CR without LF after the size", "3\rxabc\r\n0\r\n\r\n"},
        {"chunk longer than its size", "3\r\nabcd\r\n0\r\n\r\n"},
        {"chunk shorter than its size", "5\r\nabc\r\n0\r\n\r\n"},
        {"control byte in an extension", "3;a\x01\r\nabc\r\n0\r\n\r\n"},
        {"extension past the line bound", "3;" + std::string(nwCChunkedDecoder::kMaxLineBytes, 'x') + "\r\nabc\r\n"},
        {"trailer line past its bound", "0\r\nT: " + std::string(nwCChunkedDecoder::kMaxLineBytes, 'x') + "\r\n\r\n"},
        {"trailers past their bound",
         "0\r\n" + [] {
             std::string lines;
             for (int i = 0; i < 5; ++i) lines += "T: " + std::string(4000, 'x') + "\r\n";
             return lines;
         }() + "\r\n"},
        {"CR without LF at the end", "0\r\n\rx"},
    };
    for (const auto& bad : kBad) {
        SCOPED_TRACE(bad.name);
        EXPECT_EQ(Decode({bad.wire}).status, Status::kBad);
        std::vector<std::string> bytes;
        for (char c : bad.wire) bytes.emplace_back(1, c);
        EXPECT_EQ(Decode(bytes).status, Status::kBad);
    }
}

} // namespace
