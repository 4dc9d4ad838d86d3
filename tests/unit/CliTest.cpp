#include "cli/CliOptions.h"
#include "cli/ProgressLine.h"
#include "cli/TerminalText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

TEST(CliOptions, Table)
{
    struct Case {
        std::vector<const char*> args;
        bool ok;
        std::string url, folder;
        bool consent, resume, help;
        bool plain = false;
    } cases[] = {
        {{}, true, "", "", true, true, false},
        {{"http://h/list.txt"}, true, "http://h/list.txt", "", true, true, false},
        {{"--folder", "/g", "--no-engine-consent", "u"}, true, "u", "/g", false, true, false},
        {{"--folder=/g/x", "--no-resume"}, true, "", "/g/x", true, false, false},
        {{"--help"}, true, "", "", true, true, true},
        {{"--plain", "u"}, true, "u", "", true, true, false, true},
        {{"--no-resume", "--resume"}, true, "", "", true, true, false},
        {{"--resume", "--no-resume", "--plain"}, true, "", "", true, false, false, true},
        {{"--folder"}, false, "", "", true, true, false},
        {{"--folder", ""}, false, "", "", true, true, false},
        {{"--bogus"}, false, "", "", true, true, false},
        {{"a", "b"}, false, "a", "", true, true, false},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv = {"zdrdl"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        CliOptions options;
        std::string error;
        const bool ok = ParseCliOptions(static_cast<int>(argv.size()), argv.data(), &options, &error);
        const std::string name = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(ok, c.ok) << name;
        EXPECT_EQ(error.empty(), c.ok) << name;
        if (!ok) continue;
        EXPECT_EQ(options.fileListUrl, c.url) << name;
        EXPECT_EQ(options.folder, c.folder) << name;
        EXPECT_EQ(options.engineConsent, c.consent) << name;
        EXPECT_EQ(options.resume, c.resume) << name;
        EXPECT_EQ(options.help, c.help) << name;
        EXPECT_EQ(options.plain, c.plain) << name;
    }
}

TEST(ProgressLine, WithAndWithoutBar)
{
    DlProgress p{};
    p.totalBytes = 4 * 1048576;
    p.bytesPresent = 1048576;
    p.fileCount = 5;
    p.filesDone = 1;
    p.speed = 2048;
    p.elapsedSeconds = 3661;
    p.remainingSeconds = 61;
    p.percent = 25;
    strcpy(p.fileName, "data2.bin");
    EXPECT_EQ(FormatProgressLine(p, true),
              "[######..................]  25%  1.00 MB / 4.00 MB  2.00 KB/Sec  elapsed 01:01:01  left 00:01:01  "
              "files 1/5  data2.bin");
    EXPECT_EQ(FormatProgressLine(p, false),
              " 25%  1.00 MB / 4.00 MB  2.00 KB/Sec  elapsed 01:01:01  left 00:01:01  files 1/5  data2.bin");
    p.percent = 250; // never past a full bar
    memset(p.fileName, 'x', sizeof p.fileName); // and no read past an unterminated name
    const std::string line = FormatProgressLine(p, true);
    EXPECT_EQ(line.substr(0, 32), "[########################] 100% ");
    EXPECT_EQ(line.substr(line.size() - 66), std::string(66, 'x'));
}

TEST(TerminalText, ControlBytesAndEscapesAreShownNotObeyed)
{
    const std::pair<std::string, std::string> cases[] = {
        {"a.bin", "a.bin"},
        {"\x1b[2J\x1b]0;title\x07x.bin", "\\x1B[2J\\x1B]0;title\\x07x.bin"},
        {"tab\there\r\n", "tab\\x09here\\x0D\\x0A"},
        {"back\\slash", "back\\\\slash"},
        {"\x7f", "\\x7F"},
        {"\xe4\xb8\x8b.zip", "\xe4\xb8\x8b.zip"}, // UTF-8 stays readable
    };
    for (const auto& [raw, shown] : cases) EXPECT_EQ(TerminalSafe(raw), shown) << shown;
    DlProgress p{};
    snprintf(p.fileName, sizeof p.fileName, "%s", "\x1b[31mred.bin");
    EXPECT_NE(FormatProgressLine(p, false).find("\\x1B[31mred.bin"), std::string::npos);
}
