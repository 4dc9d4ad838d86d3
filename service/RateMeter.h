#pragma once
// The engine's rate samples smoothed over the last ten seconds: the engine
// reports one sample per progress message, which jumps with every
// connection that starts or ends; the window shows their recent mean.
//
// Ten slots, overwritten round-robin. The mean takes the newest sample's
// time as now and counts every sample with a non-zero time that is at most
// ten seconds older (a sample with a later time counts too). Plain value
// type; no locking of its own.

#include <cstdint>

struct RateMeter {
    static constexpr int kSamples = 10;
    static constexpr int64_t kWindowSeconds = 10;

    struct Sample {
        int64_t time = 0; // elapsed seconds of the job when it was taken
        int32_t rate = 0; // bytes per second
    };

    Sample samples[kSamples];
    int position = -1; // the newest sample's slot; -1 while empty

    void Reset()
    {
        for (Sample& sample : samples) sample = Sample();
        position = -1;
    }

    void Add(int64_t time, int32_t rate)
    {
        position = position + 1 >= kSamples ? 0 : position + 1;
        samples[position] = Sample{time, rate};
    }

    int32_t Average() const
    {
        if (position < 0) return 0;
        const int64_t now = samples[position].time;
        int64_t sum = 0;
        int64_t counted = 0;
        for (const Sample& sample : samples) {
            if (sample.time == 0 || now - sample.time > kWindowSeconds) continue;
            sum += sample.rate;
            ++counted;
        }
        return counted ? static_cast<int32_t>(sum / counted) : 0;
    }
};
