#pragma once
// Where the network library's own log lines go: the service points this at
// its activity log at start-up; without a sink the lines are dropped.

typedef void (*vqLogSink)(const char* line);

void vqSetLogSink(vqLogSink sink);
void vqLogLine(const char* line);
