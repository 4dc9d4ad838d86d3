#include "platform/CSingleInstance.h"
#include "platform/UserFolders.h"

#include <gtest/gtest.h>

#include <limits.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

namespace {

const std::string kName = "ZDR-Downloader::http://portal.test/download/vx2/zdrdownload/filelist.txt";

TEST(SingleInstance, OneOwnerAtATime)
{
    auto first = std::make_unique<CSingleInstance>();
    ASSERT_EQ(first->Acquire(kName), CSingleInstance::Owner);
    CSingleInstance second;
    EXPECT_EQ(second.Acquire(kName), CSingleInstance::AlreadyRunning);
    CSingleInstance other;
    EXPECT_EQ(other.Acquire(kName + "x"), CSingleInstance::Owner);
    first.reset();
    CSingleInstance third;
    EXPECT_EQ(third.Acquire(kName), CSingleInstance::Owner);
}

TEST(SingleInstance, LaterStartWakesTheOwner)
{
    CSingleInstance owner;
    ASSERT_EQ(owner.Acquire(kName), CSingleInstance::Owner);
    std::mutex mutex;
    std::condition_variable woken;
    int activations = 0;
    ASSERT_TRUE(owner.ListenForActivation([&] {
        std::lock_guard<std::mutex> lock(mutex);
        ++activations;
        woken.notify_one();
    }));
    CSingleInstance later;
    ASSERT_EQ(later.Acquire(kName), CSingleInstance::AlreadyRunning);
    ASSERT_TRUE(later.ActivateOwner());
    std::unique_lock<std::mutex> lock(mutex);
    EXPECT_TRUE(woken.wait_for(lock, std::chrono::seconds(10), [&] { return activations == 1; }));
}

TEST(SingleInstance, NobodyToWakeWithoutAListener)
{
    CSingleInstance owner;
    ASSERT_EQ(owner.Acquire(kName), CSingleInstance::Owner);
    CSingleInstance later;
    ASSERT_EQ(later.Acquire(kName), CSingleInstance::AlreadyRunning);
    EXPECT_FALSE(later.ActivateOwner());
    ASSERT_TRUE(owner.ListenForActivation([] {}));
    owner.StopListening();
    EXPECT_FALSE(later.ActivateOwner());
}

TEST(SingleInstance, LockFileIsNamedFromTheTextInTheRuntimeFolder)
{
    EXPECT_EQ(CSingleInstance::LockPath("a/b%c::d"), UserRuntimeFolder() + "a%2Fb%25c::d");
    const std::string path = CSingleInstance::LockPath(std::string(400, 'n'));
    EXPECT_LE(path.size() - UserRuntimeFolder().size() + std::string(".activate").size(), size_t(NAME_MAX));
}

TEST(SingleInstance, UnusableRuntimeFolderMeansNoProtection)
{
    const std::string saved = getenv("XDG_RUNTIME_DIR");
    setenv("XDG_RUNTIME_DIR", "/nonexistent-zdr-runtime", 1);
    CSingleInstance instance;
    EXPECT_EQ(instance.Acquire(kName), CSingleInstance::Unavailable);
    setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}

} // namespace
