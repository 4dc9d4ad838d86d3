#pragma once
// The two answers of the resume prompt and how each way of leaving it sets
// them. Both start at 1: continue, for every file of the job.

class CResumeAnswer {
public:
    void Confirm() { m_nResume = 1; }
    void Cancel() { m_nResume = 0; }
    // The window is closing; the check box decides apply-to-all. Leaving
    // with Esc does not come here, so both answers keep their values.
    void Close(bool applyToAllChecked) { m_nApplyToAll = applyToAllChecked ? 1 : 0; }

    bool Resume() const { return m_nResume != 0; }
    bool ApplyToAll() const { return m_nApplyToAll != 0; }

private:
    int m_nApplyToAll = 1;
    int m_nResume = 1;
};
