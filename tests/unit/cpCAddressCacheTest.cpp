#include "netlib/runtime/cpCAddressCache.h"
#include "netlib/runtime/cpResolver.h"
#include "unit/RuntimeTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

using testrt::At;
using testrt::g_nowMs;

namespace {

constexpr uint32_t kOld = 0x0A000001;
constexpr uint32_t kNew = 0x0A000002;
constexpr uint32_t kThird = 0x0A000003;

std::vector<uint32_t> g_answer;
int g_resolutions = 0;

bool ScriptedResolver(const char*, std::vector<uint32_t>* addresses)
{
    ++g_resolutions;
    if (g_answer.empty()) return false;
    *addresses = g_answer;
    return true;
}

class AddressCache : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_nowMs = At(1000);
        g_resolutions = 0;
        cpSetClockForTesting(&testrt::TestClock);
        cpSetResolverForTesting(&ScriptedResolver);
    }
    void TearDown() override
    {
        cpSetResolverForTesting(nullptr);
        cpSetClockForTesting(nullptr);
    }

    std::vector<uint32_t> Order(const char* host)
    {
        std::vector<uint32_t> ips;
        for (const cpHostAddress& a : m_cache.Addresses(host, 80)) ips.push_back(a.ip);
        return ips;
    }

    cpCAddressCache m_cache;
};

} // namespace

TEST_F(AddressCache, ANewAddressComesBeforeOneThatFailedTenSecondsAgo)
{
    g_answer = {kOld};
    uint32_t ip = 0;
    ASSERT_TRUE(m_cache.GetAddress("host.example", 80, &ip));
    EXPECT_EQ(ip, kOld);
    m_cache.MarkFailed("host.example", 80, kOld);
    g_nowMs = At(1010);
    g_answer = {kOld, kNew};
    ASSERT_TRUE(m_cache.GetAddress("host.example", 80, &ip));
    EXPECT_EQ(ip, kNew);
    EXPECT_EQ(Order("host.example"), (std::vector<uint32_t>{kNew, kOld}));
}

TEST_F(AddressCache, ResolvesAgainOnlyAfterFiveSeconds)
{
    g_answer = {kOld};
    uint32_t ip = 0;
    m_cache.GetAddress("host.example", 80, &ip);
    g_nowMs = At(1004);
    m_cache.GetAddress("host.example", 80, &ip);
    EXPECT_EQ(g_resolutions, 1);
    g_nowMs = At(1005);
    m_cache.GetAddress("host.example", 80, &ip);
    EXPECT_EQ(g_resolutions, 2);
}

TEST_F(AddressCache, AGoodAddressIsAnsweredWithoutResolving)
{
    g_answer = {kOld, kNew};
    uint32_t ip = 0;
    m_cache.GetAddress("host.example", 80, &ip);
    m_cache.MarkGood("host.example", 80, kNew);
    g_nowMs = At(1100);
    ASSERT_TRUE(m_cache.GetAddress("host.example", 80, &ip));
    EXPECT_EQ(ip, kNew);
    EXPECT_EQ(g_resolutions, 1);
}

TEST_F(AddressCache, ResolutionKeepsGoodFirstAndRecentFailuresLastAndDropsTheRest)
{
    g_answer = {kOld, kNew, kThird};
    uint32_t ip = 0;
    m_cache.GetAddress("host.example", 80, &ip);
    m_cache.MarkFailed("host.example", 80, kOld); // fails at 1000: too old by 1040
    g_nowMs = At(1030);
    m_cache.MarkFailed("host.example", 80, kNew); // recent at 1040
    m_cache.MarkGood("host.example", 80, kThird);
    g_nowMs = At(1040);
    g_answer = {};
    m_cache.MarkFailed("host.example", 80, kThird);
    m_cache.GetAddress("host.example", 80, &ip); // no good address: resolves, name gone
    EXPECT_EQ(Order("host.example"), (std::vector<uint32_t>{kNew, kThird}));
    g_nowMs = At(1045);
    g_answer = {kOld, kNew};
    m_cache.MarkGood("host.example", 80, kThird);
    m_cache.MarkFailed("host.example", 80, kThird);
    m_cache.GetAddress("host.example", 80, &ip);
    EXPECT_EQ(Order("host.example"), (std::vector<uint32_t>{kOld, kNew, kThird}));
}

TEST_F(AddressCache, AHostThatNeverResolvedHasNoAddress)
{
    uint32_t ip = 123;
    EXPECT_FALSE(m_cache.GetAddress("nowhere.example", 80, &ip));
    EXPECT_EQ(ip, 0u);
    m_cache.MarkFailed("nowhere.example", 80, kOld);
    EXPECT_TRUE(Order("nowhere.example").empty());
    EXPECT_FALSE(m_cache.GetAddress(nullptr, 80, &ip));
}

TEST_F(AddressCache, PortsKeepEntriesApart)
{
    g_answer = {kOld};
    uint32_t ip = 0;
    m_cache.GetAddress("host.example", 80, &ip);
    m_cache.GetAddress("host.example", 443, &ip);
    EXPECT_EQ(g_resolutions, 2);
}
