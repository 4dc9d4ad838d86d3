#include "netlib/layers/CControlFile.h"

#include "platform/FileSystem.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {
const char kMagic[] = "ZDRCTL 1";
}

int64_t CControlFile::DoneBytes() const
{
    int64_t done = 0;
    for (const Piece& piece : pieces) done += piece.done;
    return done;
}

bool CControlFile::Save(const std::string& path) const
{
    const std::string temporary = path + ".tmp";
    std::ostringstream out;
    out << kMagic << "\nurl " << url << "\nsize " << size << "\netag " << etag << "\nlast-modified " << lastModified
        << "\n";
    for (const Piece& piece : pieces) out << "piece " << piece.start << ' ' << piece.end << ' ' << piece.done << "\n";
    out << "end\n";
    if (WriteOwnFile(temporary, out.str()) && rename(temporary.c_str(), path.c_str()) == 0) return true;
    // A full disk leaves a short or empty temporary: it is no record.
    unlink(temporary.c_str());
    return false;
}

bool CControlFile::Load(const std::string& path)
{
    std::string text;
    if (!ReadOwnFile(path, &text)) return false;
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kMagic) return false;
    *this = CControlFile();
    bool ended = false;
    while (std::getline(in, line)) {
        const size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? std::string() : line.substr(space + 1);
        if (key == "url") url = value;
        else if (key == "size") size = value.empty() ? -1 : strtoll(value.c_str(), nullptr, 10);
        else if (key == "etag") etag = value;
        else if (key == "last-modified") lastModified = value;
        else if (key == "piece") {
            std::istringstream fields(value);
            Piece piece{};
            if (!(fields >> piece.start >> piece.end >> piece.done)) return false;
            pieces.push_back(piece);
        } else if (key == "end") {
            ended = true;
            break;
        }
    }
    if (!ended || size <= 0 || pieces.empty()) return false;
    int64_t next = 0;
    for (const Piece& piece : pieces) {
        if (piece.start != next || piece.end <= piece.start || piece.done < 0 || piece.done > piece.end - piece.start)
            return false;
        next = piece.end;
    }
    return next == size;
}
