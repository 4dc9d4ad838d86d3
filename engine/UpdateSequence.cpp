#include "engine/UpdateSequence.h"

#include "engine/UpdateDescription.h"
#include "netlib/xml/CXMLParserOstrel.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

namespace {

bool ParseSequence(const std::string& text, uint64_t* sequence)
{
    if (text.empty() || text.size() > 20) return false;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    *sequence = value;
    return true;
}

} // namespace

bool ReadDescriptionSequence(const CXMLParserOstrel& description, uint64_t* sequence)
{
    const CXMLElement* root = description.GetRoot();
    if (!description.FindAttribute(root, kUpdateSequenceAttribute)) {
        *sequence = 0;
        return true;
    }
    return ParseSequence(ReadDescriptionAttribute(description, root, kUpdateSequenceAttribute), sequence);
}

uint64_t LoadAcceptedSequence(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string text(std::istreambuf_iterator<char>(in), {});
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    uint64_t sequence = 0;
    return ParseSequence(text, &sequence) ? sequence : 0;
}

bool StoreAcceptedSequence(const std::string& path, uint64_t sequence)
{
    const std::string temporary = path + ".new";
    bool written = false;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << sequence << '\n';
        out.flush();
        written = static_cast<bool>(out);
    }
    if (written && rename(temporary.c_str(), path.c_str()) == 0) return true;
    // A full disk leaves a short or empty file: it is nothing to keep.
    unlink(temporary.c_str());
    return false;
}
