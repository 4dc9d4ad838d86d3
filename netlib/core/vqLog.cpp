#include "netlib/core/vqLog.h"

#include <atomic>

namespace {
std::atomic<vqLogSink> g_sink{nullptr};
}

void vqSetLogSink(vqLogSink sink)
{
    g_sink.store(sink);
}

void vqLogLine(const char* line)
{
    if (vqLogSink sink = g_sink.load()) sink(line);
}
