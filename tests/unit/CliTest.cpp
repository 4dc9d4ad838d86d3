#include "cli/CProgressDisplay.h"
#include "cli/CTerminalQuestion.h"
#include "cli/PartialDownloads.h"
#include "cli/CliOptions.h"
#include "cli/ProgressLine.h"
#include "cli/TerminalText.h"
#include "cli/VersionText.h"
#include "netlib/layers/CControlFile.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {
constexpr ResumeChoice kUnset = ResumeChoice::kUnset;
constexpr ResumeChoice kResume = ResumeChoice::kResume;
constexpr ResumeChoice kAfresh = ResumeChoice::kAfresh;
} // namespace

TEST(CliOptions, Table)
{
    struct Case {
        std::vector<const char*> args;
        bool ok;
        std::string url, folder;
        bool consent;
        ResumeChoice resume;
        bool help;
        bool plain = false;
        std::optional<ProgressMode> progress = std::nullopt;
        bool quiet = false, noReport = false, version = false;
    } cases[] = {
        {{}, true, "", "", true, kUnset, false},
        {{"http://h/list.txt"}, true, "http://h/list.txt", "", true, kUnset, false},
        {{"--folder", "/g", "--no-engine-consent", "u"}, true, "u", "/g", false, kUnset, false},
        {{"--folder=/g/x", "--no-resume"}, true, "", "/g/x", true, kAfresh, false},
        {{"--help"}, true, "", "", true, kUnset, true},
        {{"--plain", "u"}, true, "u", "", true, kUnset, false, true},
        {{"--no-resume", "--resume"}, true, "", "", true, kResume, false},
        {{"--resume", "--no-resume", "--plain"}, true, "", "", true, kAfresh, false, true},
        {{"--folder"}, false, "", "", true, kUnset, false},
        {{"--folder", ""}, false, "", "", true, kUnset, false},
        {{"--bogus"}, false, "", "", true, kUnset, false},
        {{"a", "b"}, false, "a", "", true, kUnset, false},
        {{"--progress=bar"}, true, "", "", true, kUnset, false, false, ProgressMode::kBar},
        {{"--progress=line", "u"}, true, "u", "", true, kUnset, false, false, ProgressMode::kLine},
        {{"--progress", "none"}, true, "", "", true, kUnset, false, false, ProgressMode::kNone},
        {{"--progress=dots"}, false, "", "", true, kUnset, false},
        {{"--progress"}, false, "", "", true, kUnset, false},
        {{"-q", "--no-report"}, true, "", "", true, kUnset, false, false, std::nullopt, true, true},
        {{"--quiet"}, true, "", "", true, kUnset, false, false, std::nullopt, true},
        {{"--version"}, true, "", "", true, kUnset, false, false, std::nullopt, false, false, true},
        {{"-V"}, true, "", "", true, kUnset, false, false, std::nullopt, false, false, true},
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
        EXPECT_EQ(options.progress, c.progress) << name;
        EXPECT_EQ(options.quiet, c.quiet) << name;
        EXPECT_EQ(options.noReport, c.noReport) << name;
        EXPECT_EQ(options.version, c.version) << name;
    }
}

namespace {

DlProgress SampleProgress()
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
    return p;
}

} // namespace

TEST(ProgressLine, WithAndWithoutBar)
{
    DlProgress p = SampleProgress();
    EXPECT_EQ(FormatProgressLine(p, DL_PATH_ENGINE, 200),
              "[######..................]  25%  1.00 MB / 4.00 MB  2.00 KB/s  elapsed 01:01:01  left 00:01:01  "
              "files 1/5  via engine  data2.bin");
    EXPECT_EQ(FormatProgressLine(p, DL_PATH_PLAIN, 0),
              " 25%  1.00 MB / 4.00 MB  2.00 KB/s  elapsed 01:01:01  left 00:01:01  files 1/5  via plain  data2.bin");
    EXPECT_EQ(FormatProgressLine(p, DL_PATH_NONE, 0),
              " 25%  1.00 MB / 4.00 MB  2.00 KB/s  elapsed 01:01:01  left 00:01:01  files 1/5  data2.bin");
    p.percent = 250; // never past a full bar
    memset(p.fileName, 'x', sizeof p.fileName); // and no read past an unterminated name
    const std::string line = FormatProgressLine(p, DL_PATH_NONE, 300);
    EXPECT_EQ(line.substr(0, 32), "[########################] 100% ");
    EXPECT_EQ(line.substr(line.size() - 66), std::string(66, 'x'));
}

// The speed has its unit per second; before there is a speed nothing is
// reckoned from it, so the remaining time is left out.
TEST(ProgressLine, SpeedPerSecondAndNoRemainingTimeWithoutIt)
{
    const std::pair<double, std::string> rates[] = {
        {0, "0 Bytes/s"}, {-5, "0 Bytes/s"}, {512, "512 Bytes/s"}, {2048, "2.00 KB/s"}, {3 * 1048576.0, "3.00 MB/s"},
        {1024.0 * 1024 * 1024 * 1024 * 1024, "0 Bytes/s"},
    };
    for (const auto& [rate, text] : rates) EXPECT_EQ(FormatRate(rate), text) << rate;
    DlProgress p = SampleProgress();
    p.speed = 0;
    p.remainingSeconds = 14418000; // what a rate of nothing reckons
    EXPECT_EQ(FormatProgressLine(p, DL_PATH_NONE, 0),
              " 25%  1.00 MB / 4.00 MB  0 Bytes/s  elapsed 01:01:01  files 1/5  data2.bin");
    EXPECT_EQ(FormatProgressLine(p, DL_PATH_NONE, 200).find("left"), std::string::npos);
}

// The terminal's width: the line never takes the last column; the bar
// narrows from 24 to 10 columns before a field goes, and fields go in a
// fixed order (elapsed, path, name, files, remaining, bar, speed, bytes).
TEST(ProgressLine, FitsEveryWidthDroppingFieldsInOrder)
{
    DlProgress p = SampleProgress();
    p.bytesPresent = 1024LL * 1048576;
    p.totalBytes = 4096LL * 1048576;
    strcpy(p.fileName, "ZDRSetup.exe");
    const std::string fields = "  25%  1.00 GB / 4.00 GB  2.00 KB/s  elapsed 01:01:01  left 00:01:01  files 1/5  via engine  "
                               "ZDRSetup.exe";
    const std::string full = "[######..................]" + fields;
    struct Case {
        int columns;
        std::string line;
    } cases[] = {
        {200, full},
        {static_cast<int>(full.size()) + 1, full},
        {static_cast<int>(full.size()), "[#####..................]" + fields},
        {120, "[###.........]" + fields},
        {100, "[##........]  25%  1.00 GB / 4.00 GB  2.00 KB/s  left 00:01:01  files 1/5  via engine  ZDRSetup.exe"},
        {90, "[###.........]  25%  1.00 GB / 4.00 GB  2.00 KB/s  left 00:01:01  files 1/5  ZDRSetup.exe"},
        {80, "[####............]  25%  1.00 GB / 4.00 GB  2.00 KB/s  left 00:01:01  files 1/5"},
        {70, "[####.............]  25%  1.00 GB / 4.00 GB  2.00 KB/s  left 00:01:01"},
        {64, "[##.........]  25%  1.00 GB / 4.00 GB  2.00 KB/s  left 00:01:01"},
        {60, "[#####.................]  25%  1.00 GB / 4.00 GB  2.00 KB/s"},
        {50, "[###.........]  25%  1.00 GB / 4.00 GB  2.00 KB/s"},
        {40, " 25%  1.00 GB / 4.00 GB  2.00 KB/s"},
        {30, " 25%  1.00 GB / 4.00 GB"},
        {24, " 25%  1.00 GB / 4.00 GB"},
        {10, " 25%"},
        {4, " 25"},
        {1, ""},
    };
    for (const Case& c : cases) {
        const std::string line = FormatProgressLine(p, DL_PATH_ENGINE, c.columns);
        EXPECT_EQ(line, c.line) << c.columns;
        EXPECT_LT(ColumnsOf(line), std::max(c.columns, 1)) << c.columns;
    }
    // A name in a wide script counts its columns, not its bytes or characters.
    strcpy(p.fileName, "\xe4\xb8\x8b\xe8\xbc\x89\xe5\xae\xa2\xe6\x88\xb6\xe7\xab\xaf.zip");
    for (int columns = 1; columns <= 200; ++columns)
        EXPECT_LT(ColumnsOf(FormatProgressLine(p, DL_PATH_ENGINE, columns)), columns) << columns;
    EXPECT_NE(FormatProgressLine(p, DL_PATH_ENGINE, 200).find(".zip"), std::string::npos);
}

TEST(TerminalText, ColumnsAndCuts)
{
    struct Case {
        std::string text;
        int columns;
        int cutAt;
        std::string cut;
    } cases[] = {
        {"abc", 3, 2, "ab"},
        {"\xe4\xb8\x8b" "a", 3, 2, "\xe4\xb8\x8b"}, // a wide character
        {"\xe4\xb8\x8b" "a", 3, 1, ""},             // is never halved
        {"\xc3\xa9t\xc3\xa9", 3, 2, "\xc3\xa9t"},   // narrow two-byte characters
        {"a\xff\xe4\xb8", 4, 3, "a\xff\xe4"},       // bytes of no character: one column each
        {"", 0, 5, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ColumnsOf(c.text), c.columns) << c.text;
        EXPECT_EQ(CutToColumns(c.text, c.cutAt), c.cut) << c.text;
    }
}

namespace {

// A progress display writing into memory, with a clock the test moves.
struct DisplayRig {
    explicit DisplayRig(ProgressMode mode, int columns = 80)
        : out(open_memstream(&text, &size)),
          display(out, mode, [this] { return width; }, [this] { return now; }), width(columns)
    {
    }
    ~DisplayRig()
    {
        fclose(out);
        free(text);
    }
    std::string Shown()
    {
        fflush(out);
        return std::string(text, size);
    }
    void Show(long long bytes, bool last = false)
    {
        display.Show([bytes](int columns) { return "at " + std::to_string(bytes) + " w" + std::to_string(columns); }, bytes,
                     last);
    }

    char* text = nullptr;
    size_t size = 0;
    FILE* out;
    CProgressDisplay display;
    int width;
    std::chrono::steady_clock::time_point now{std::chrono::seconds(1000)};
};

} // namespace

// Piped: a line every few seconds, and the last line only when it tells
// something new (the 100 % line once).
TEST(ProgressDisplay, LinesEveryFewSecondsAndTheLastOnce)
{
    DisplayRig rig(ProgressMode::kLine);
    rig.Show(1);
    rig.now += std::chrono::seconds(1);
    rig.Show(2);
    rig.now += CProgressDisplay::kLinePeriod;
    rig.Show(3);
    rig.Show(4, true);
    rig.Show(4, true);
    EXPECT_EQ(rig.Shown(), "at 1 w0\nat 3 w0\nat 4 w0\n");

    DisplayRig done(ProgressMode::kLine);
    done.Show(100);
    done.now += std::chrono::seconds(10);
    done.Show(100, true);
    EXPECT_EQ(done.Shown(), "at 100 w0\n");
}

// On a terminal: redrawn in place for the width it has now, an unchanged
// line not again; cleared before other output, kept at the end.
TEST(ProgressDisplay, BarFollowsTheWidthAndLeavesNoFragments)
{
    DisplayRig rig(ProgressMode::kBar, 120);
    rig.Show(1);
    rig.Show(1);
    rig.width = 60;
    rig.Show(1);
    rig.display.Clear();
    rig.display.Clear();
    rig.Show(2);
    rig.display.Keep();
    rig.display.Keep();
    EXPECT_EQ(rig.Shown(), "\rat 1 w120\x1b[K\rat 1 w60\x1b[K\r\x1b[K\rat 2 w60\x1b[K\n");

    DisplayRig none(ProgressMode::kNone);
    none.Show(1);
    none.Show(2, true);
    none.display.Keep();
    EXPECT_EQ(none.Shown(), "");
}

TEST(VersionText, NamesEachPartAndTheInstalledEngine)
{
    const std::string installed = VersionText(ZDR_TEST_CHILD_PATH);
    EXPECT_EQ(installed.rfind("zdrdl ", 0), 0u) << installed;
    EXPECT_NE(installed.find("\ndownload service "), std::string::npos) << installed;
    EXPECT_NE(installed.find("\ndownload engine 1.0.0.10 (" + std::string(ZDR_TEST_CHILD_PATH) + ")\n"), std::string::npos)
        << installed;
    const std::string missing = VersionText("/nonexistent/ZDRDownloadV32.exe");
    EXPECT_NE(missing.find("\ndownload engine: not installed (/nonexistent/ZDRDownloadV32.exe; "), std::string::npos)
        << missing;
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
    EXPECT_NE(FormatProgressLine(p, DL_PATH_NONE, 0).find("\\x1B[31mred.bin"), std::string::npos);
    DlEngineUpdate update{};
    snprintf(update.fileName, sizeof update.fileName, "%s", "\x1b[2Jx.zip");
    EXPECT_EQ(FormatEngineUpdateLine(update, 0).find('\x1b'), std::string::npos);
}

TEST(ProgressLine, EngineUpdate)
{
    DlEngineUpdate update{};
    update.fileCount = 1;
    update.fileNumber = 1;
    update.fileSize = 3 * 1048576;
    update.fileBytes = 1536;
    strcpy(update.fileName, "ZDRDownloadV32.exe.zip");
    EXPECT_EQ(FormatEngineUpdateLine(update, 0), "updating engine: ZDRDownloadV32.exe.zip 1.50 KB of 3.00 MB");
    EXPECT_EQ(FormatEngineUpdateLine(update, 30), "updating engine: ZDRDownloadV");
    update.fileCount = 3;
    update.fileNumber = 2;
    memset(update.fileName, 'n', sizeof update.fileName); // an unterminated name is not read past
    EXPECT_EQ(FormatEngineUpdateLine(update, 0),
              "updating engine: " + std::string(66, 'n') + " 1.50 KB of 3.00 MB (file 2 of 3)");
}

// The question against a pipe standing for the terminal: what is typed
// (possibly ahead, in pieces, or not at all) and what each ask answers.
TEST(TerminalQuestion, AnswersTable)
{
    using Result = CTerminalQuestion::Result;
    struct Case {
        const char* what;
        std::vector<std::string> typed; // written one piece after another
        bool closeInput;
        std::vector<Result> answers; // one Ask each
        int asked;                   // how often a question was written
    } cases[] = {
        {"yes then no", {"y\n", "n\n"}, false, {Result::kYes, Result::kNo}, 2},
        {"words, blanks and letter case", {"  YES \r\n", "No\n"}, false, {Result::kYes, Result::kNo}, 2},
        {"typed ahead in one piece", {"n\ny\n"}, false, {Result::kNo, Result::kYes}, 2},
        {"split inside a word", {"ye", "s\n"}, false, {Result::kYes}, 1},
        {"anything else asks again", {"maybe\n", "\n", "yy\n", "n\n"}, false, {Result::kNo}, 4},
        {"an overlong line is no answer", {std::string(600, 'y') + "\n", "y\n"}, false, {Result::kYes}, 2},
        {"a last line without its end", {"y"}, true, {Result::kYes, Result::kEndOfInput}, 2},
        {"end of input", {}, true, {Result::kEndOfInput}, 1},
        {"nothing typed", {}, false, {Result::kTimedOut}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        std::thread typist([&] {
            for (const std::string& piece : c.typed) {
                ASSERT_EQ(write(fds[1], piece.data(), piece.size()), static_cast<ssize_t>(piece.size()));
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            if (c.closeInput) close(fds[1]);
        });
        char* shown = nullptr;
        size_t shownSize = 0;
        FILE* out = open_memstream(&shown, &shownSize);
        CTerminalQuestion question(fds[0], out, [] { return false; });
        std::vector<Result> answers;
        for (size_t i = 0; i < c.answers.size(); ++i) answers.push_back(question.Ask("Q? [y/n] ", 2000));
        typist.join();
        fclose(out);
        const std::string text(shown, shownSize);
        free(shown);
        close(fds[0]);
        if (!c.closeInput) close(fds[1]);
        EXPECT_EQ(answers, c.answers);
        size_t asked = 0;
        for (size_t at = text.find("Q? [y/n] "); at != std::string::npos; at = text.find("Q? [y/n] ", at + 1)) ++asked;
        EXPECT_EQ(asked, static_cast<size_t>(c.asked)) << text;
    }
}

TEST(TerminalQuestion, KeysPressedBeforeTheQuestionAreNoAnswer)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "y\ny\n", 4), 4);
    FILE* out = fopen("/dev/null", "w");
    CTerminalQuestion question(fds[0], out, [] { return false; });
    question.DiscardTypedAhead();
    std::thread typist([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(write(fds[1], "n\n", 2), 2);
    });
    EXPECT_EQ(question.Ask("Q? ", 5000), CTerminalQuestion::Result::kNo);
    typist.join();
    fclose(out);
    close(fds[0]);
    close(fds[1]);
}

TEST(TerminalQuestion, AnInterruptEndsTheWaitAtOnce)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    FILE* out = fopen("/dev/null", "w");
    const auto start = std::chrono::steady_clock::now();
    CTerminalQuestion question(fds[0], out, [&] { return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(200); });
    EXPECT_EQ(question.Ask("Q? ", 60000), CTerminalQuestion::Result::kInterrupted);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    fclose(out);
    close(fds[0]);
    close(fds[1]);
}

// The resume question names what the engine found: each part with a record
// beside it, and how much of it is there.
TEST(PartialDownloads, NamedWithHowMuchIsThere)
{
    char pattern[] = "/tmp/zdr-parts-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string folder = std::string(pattern) + "/";
    CControlFile record;
    record.url = "http://h/x/a.bin";
    record.size = 3 << 20;
    record.pieces = {{0, 1 << 20, 1 << 20}, {1 << 20, 3 << 20, 512 << 10}};
    ASSERT_TRUE(record.Save(folder + "a.bin.zdrctl"));
    std::ofstream(folder + "a.bin.zdrpart") << "x";
    ASSERT_TRUE(record.Save(folder + "b.bin.zdrctl")); // a record without its part is nothing to resume
    const std::vector<std::string> entries = {"http://h/x/a.bin", "http://h/b.bin|http://m/b.bin", "http://h/c.bin"};
    const std::vector<PartialDownload> found = FindPartialDownloads(folder, entries);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].name, "a.bin");
    EXPECT_EQ(found[0].present, 1536LL << 10);
    EXPECT_EQ(found[0].size, 3LL << 20);
    EXPECT_EQ(DescribePartialDownloads(found), "a.bin, 1.50 MB of 3.00 MB");
    EXPECT_EQ(DescribePartialDownloads({}), "");
    const std::vector<PartialDownload> many = {{"1.bin", 1, 2}, {"2.bin", 1, 2}, {"\x1b[2J3.bin", 1, 2}, {"4.bin", 1, 2},
                                               {"5.bin", 1, 2}};
    EXPECT_EQ(DescribePartialDownloads(many),
              "1.bin, 1 Bytes of 2 Bytes; 2.bin, 1 Bytes of 2 Bytes; \\x1B[2J3.bin, 1 Bytes of 2 Bytes; and 2 more");
    std::filesystem::remove_all(pattern);
}
