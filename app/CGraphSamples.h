#pragma once
// The speed graph's samples and where their bars stand, kept apart from the
// drawing so the rules can be checked without a screen.

#include <array>

class CGraphSamples {
public:
    static constexpr int kCount = 68;
    static constexpr int kFullScale = 100;
    static constexpr int kBarWidth = 3;

    // Drops the oldest sample and appends value, limited to 0..100: the
    // graph's full height is 100, and a negative rate is no traffic.
    void AddSample(int value);
    // Sample i, 0 the oldest and kCount - 1 the newest.
    int Sample(int i) const { return m_samples[i]; }

    // Height in pixels of bar i in a graph clientHeight pixels high.
    int BarHeight(int i, int clientHeight) const;
    // Left edge of bar i in a graph clientWidth pixels wide.
    static int BarLeft(int i, int clientWidth);

private:
    std::array<int, kCount> m_samples{};
};
