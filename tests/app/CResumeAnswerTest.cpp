#include "app/CResumeAnswer.h"

#include <gtest/gtest.h>

namespace {

TEST(ResumeAnswerTest, ConfirmWithTheBoxCheckedContinuesForAllFiles)
{
    CResumeAnswer answer;
    answer.Confirm();
    answer.Close(true);
    EXPECT_TRUE(answer.Resume());
    EXPECT_TRUE(answer.ApplyToAll());
}

TEST(ResumeAnswerTest, CancelWithTheBoxClearedStopsForThisFileOnly)
{
    CResumeAnswer answer;
    answer.Cancel();
    answer.Close(false);
    EXPECT_FALSE(answer.Resume());
    EXPECT_FALSE(answer.ApplyToAll());
}

TEST(ResumeAnswerTest, LeavingWithoutAnAnswerKeepsContinueForAll)
{
    CResumeAnswer answer;
    EXPECT_TRUE(answer.Resume());
    EXPECT_TRUE(answer.ApplyToAll());
}

} // namespace
