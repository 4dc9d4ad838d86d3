#include "engine/UpdateSequence.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

class UpdateSequenceTest : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/zdr-sequence-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string m_dir;
};

TEST_F(UpdateSequenceTest, AStoredSequenceIsLoadedBack)
{
    const std::string path = m_dir + "/sequence";
    EXPECT_EQ(LoadAcceptedSequence(path), 0u);
    ASSERT_TRUE(StoreAcceptedSequence(path, 42));
    EXPECT_EQ(LoadAcceptedSequence(path), 42u);
    EXPECT_FALSE(std::filesystem::exists(path + ".new"));
}

// A store that cannot end in its place (here a folder holds the name) keeps
// the old state and leaves no temporary beside it.
TEST_F(UpdateSequenceTest, AFailedStoreLeavesNoTemporary)
{
    const std::string path = m_dir + "/sequence";
    std::filesystem::create_directories(path + "/taken");
    EXPECT_FALSE(StoreAcceptedSequence(path, 7));
    EXPECT_FALSE(std::filesystem::exists(path + ".new"));
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

} // namespace
