#include "netlib/http/SizeContradiction.h"

std::string SizeContradiction(int64_t answered, int64_t expected)
{
    return "the server's length " + std::to_string(answered) + " is not the file's size " + std::to_string(expected);
}

std::string SizeOverrun(int64_t expected)
{
    return "the server's answer runs past the file's size " + std::to_string(expected);
}
