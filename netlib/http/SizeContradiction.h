#pragma once
// Why an answer is not the file the job asked for: the length (or total) it
// gives is not the size the job holds for it. The plain path and the engine
// say it in the same words, naming both sizes, when a file fails for it.

#include <cstdint>
#include <string>

std::string SizeContradiction(int64_t answered, int64_t expected);
// A body whose end only the close tells ran on past the size.
std::string SizeOverrun(int64_t expected);
