#include "netlib/http/nwCHttpMimeTypeMap.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class HttpMimeTypeMap : public testing::Test {
protected:
    void TearDown() override { nwCHttpMimeTypeMap::DestroyInstance(); }
};

} // namespace

TEST_F(HttpMimeTypeMap, AnswersOctetStreamForNoKeyAnEmptyKeyAndAnUnknownKey)
{
    nwCHttpMimeTypeMap* map = nwCHttpMimeTypeMap::Instance();
    for (const char* key : {static_cast<const char*>(nullptr), "", "zip"})
        EXPECT_STREQ(map->Lookup(key), "application/octet-stream");
}

TEST_F(HttpMimeTypeMap, MatchesKeysExactlyAndForgetsThemOnClear)
{
    nwCHttpMimeTypeMap* map = nwCHttpMimeTypeMap::Instance();
    map->Add("zip", "application/x-zip");
    map->Add("zip", "application/zip");
    EXPECT_STREQ(map->Lookup("zip"), "application/zip");
    EXPECT_STREQ(map->Lookup("ZIP"), "application/octet-stream");
    EXPECT_STREQ(map->Lookup("zi"), "application/octet-stream");
    map->Clear();
    EXPECT_STREQ(map->Lookup("zip"), "application/octet-stream");
}

TEST_F(HttpMimeTypeMap, ARecreatedMapStartsEmpty)
{
    nwCHttpMimeTypeMap::Instance()->Add("txt", "text/plain");
    nwCHttpMimeTypeMap::DestroyInstance();
    EXPECT_STREQ(nwCHttpMimeTypeMap::Instance()->Lookup("txt"), "application/octet-stream");
}
