#include "app/CProgressState.h"

#include <algorithm>
#include <cstdlib>

void CProgressState::SetRange(int lower, int upper)
{
    m_nLower = lower;
    m_nUpper = upper;
    long long distance = std::llabs(static_cast<long long>(upper) - lower);
    m_nRange = distance == 0 ? 1 : static_cast<int>(std::min<long long>(distance, 0x7FFFFFFF));
    SetPos(m_nPos);
}

void CProgressState::SetPos(int position)
{
    m_nPos = std::clamp(position, std::min(m_nLower, m_nUpper), std::max(m_nLower, m_nUpper));
}

void CProgressState::SetTextFormat(const std::string& format, TextMode mode)
{
    m_strFormat = mode == TextNone ? std::string() : format;
}

// Measured from the lower bound, so ranges that do not start at 0 fill
// in proportion too.
int CProgressState::Percent() const
{
    long long covered = std::llabs(static_cast<long long>(m_nPos) - m_nLower);
    return static_cast<int>(covered * 100 / m_nRange);
}

int CProgressState::FillWidth(int barWidth) const
{
    return static_cast<int>(static_cast<long long>(std::max(barWidth, 0)) * Percent() / 100);
}

int CProgressState::TextFillWidth(int clientWidth) const
{
    long long covered = std::llabs(static_cast<long long>(m_nPos) - m_nLower);
    return static_cast<int>(static_cast<long long>(std::max(clientWidth, 0)) * covered / m_nRange);
}

std::string CProgressState::Text() const
{
    std::string text;
    for (std::size_t i = 0; i < m_strFormat.size(); ++i) {
        if (m_strFormat[i] == '%' && i + 1 < m_strFormat.size()) {
            if (m_strFormat[i + 1] == 'd') {
                text += std::to_string(Percent());
                ++i;
                continue;
            }
            if (m_strFormat[i + 1] == '%') {
                text += '%';
                ++i;
                continue;
            }
        }
        text += m_strFormat[i];
    }
    return text;
}
