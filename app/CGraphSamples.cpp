#include "app/CGraphSamples.h"

#include <algorithm>

void CGraphSamples::AddSample(int value)
{
    std::copy(m_samples.begin() + 1, m_samples.end(), m_samples.begin());
    m_samples.back() = std::clamp(value, 0, kFullScale);
}

int CGraphSamples::BarHeight(int i, int clientHeight) const
{
    return m_samples[i] * clientHeight / kFullScale;
}

int CGraphSamples::BarLeft(int i, int clientWidth)
{
    return clientWidth / kCount * i + 2;
}
