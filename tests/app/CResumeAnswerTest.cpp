#include "app/CResumeAnswer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// How the prompt was left, and the two answers that result.
struct ResumeCase {
    const char* name;
    enum class Button { None, Confirm, Cancel } button;
    enum class Closing { NotClosed, BoxChecked, BoxCleared } closing;
    bool resume;
    bool applyToAll;
};

TEST(ResumeAnswerTest, EachWayOfLeavingThePromptSetsBothAnswers)
{
    using Button = ResumeCase::Button;
    using Closing = ResumeCase::Closing;
    const std::vector<ResumeCase> cases = {
        {"confirm, box checked: continue for all files", Button::Confirm, Closing::BoxChecked, true, true},
        {"confirm, box cleared: continue for this file", Button::Confirm, Closing::BoxCleared, true, false},
        {"cancel, box cleared: stop for this file", Button::Cancel, Closing::BoxCleared, false, false},
        {"cancel, box checked: stop for all files", Button::Cancel, Closing::BoxChecked, false, true},
        {"Esc, no answer: the defaults, continue for all", Button::None, Closing::NotClosed, true, true},
    };
    for (const ResumeCase& c : cases) {
        CResumeAnswer answer;
        if (c.button == Button::Confirm) answer.Confirm();
        if (c.button == Button::Cancel) answer.Cancel();
        if (c.closing != Closing::NotClosed) answer.Close(c.closing == Closing::BoxChecked);
        EXPECT_EQ(answer.Resume(), c.resume) << c.name;
        EXPECT_EQ(answer.ApplyToAll(), c.applyToAll) << c.name;
    }
}

} // namespace
