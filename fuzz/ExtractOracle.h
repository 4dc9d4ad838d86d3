#pragma once
// The path-confinement oracle of the archive targets. Every run extracts
// into a fresh folder "dest/" inside a private work folder that also holds
// an empty sibling "sentinel/"; afterwards nothing may exist in the work
// folder but those two, the sentinel must still be empty, every symbolic
// link inside dest must lead to a place inside dest, and no staging folder
// may be left. A failed extraction leaves dest empty (all or nothing).

#include "FuzzCheck.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace fuzz {

class ExtractOracle {
public:
    ExtractOracle()
    {
        char pattern[] = "/tmp/zdr-fuzz-extract-XXXXXX";
        FUZZ_CHECK(mkdtemp(pattern) != nullptr);
        m_root = pattern;
        std::filesystem::create_directories(m_root / "work" / "sentinel");
    }

    // The destination of the next run, with its trailing '/': absent, so the
    // extraction makes it.
    std::string Destination()
    {
        std::error_code error;
        std::filesystem::remove_all(Dest(), error);
        return Dest().string() + "/";
    }

    void Check(bool extracted)
    {
        namespace fs = std::filesystem;
        std::error_code error;
        for (const fs::directory_entry& entry : fs::directory_iterator(m_root, error))
            FUZZ_CHECK(entry.path().filename() == "work");
        for (const fs::directory_entry& entry : fs::directory_iterator(m_root / "work", error)) {
            const std::string name = entry.path().filename().string();
            FUZZ_CHECK(name == "dest" || name == "sentinel");
        }
        FUZZ_CHECK(fs::is_empty(m_root / "work" / "sentinel", error));
        if (!fs::exists(fs::symlink_status(Dest(), error))) {
            FUZZ_CHECK(!extracted);
            return;
        }
        FUZZ_CHECK(fs::is_directory(fs::symlink_status(Dest(), error)));
        const fs::path inside = fs::canonical(Dest(), error);
        size_t count = 0;
        for (auto it = fs::recursive_directory_iterator(Dest(), error); it != fs::recursive_directory_iterator();
             it.increment(error)) {
            ++count;
            const fs::path& path = it->path();
            FUZZ_CHECK(path.filename().string().rfind(".zdr-unpack-", 0) != 0);
            if (fs::is_symlink(fs::symlink_status(path, error))) {
                // Where the link leads, resolved as far as it exists.
                std::error_code unresolved;
                const fs::path target = fs::weakly_canonical(path, unresolved);
                if (unresolved) {
                    // A target the system cannot resolve (a name longer than
                    // a name may be, a loop) leads nowhere: following the
                    // link must fail too.
                    std::error_code followed;
                    FUZZ_CHECK(!fs::exists(fs::status(path, followed)) && followed);
                    continue;
                }
                const std::string relative = target.lexically_relative(inside).string();
                FUZZ_CHECK(!relative.empty() && relative.rfind("..", 0) != 0);
            }
        }
        if (!extracted) FUZZ_CHECK(count == 0);
    }

    ~ExtractOracle()
    {
        std::error_code error;
        std::filesystem::remove_all(m_root, error);
    }

private:
    std::filesystem::path Dest() const { return m_root / "work" / "dest"; }
    std::filesystem::path m_root;
};

} // namespace fuzz
